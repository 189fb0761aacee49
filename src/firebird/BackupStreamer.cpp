#include "firebird/BackupStreamer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "firebird/IB.h"
#include "firebird/IBIntf.h"
#include "platform/Exception.h"

namespace qv {

namespace {

using TControl = TOutcomeWorker<TStreamOutcome>::TControl;
using SteadyClock = std::chrono::steady_clock;

[[noreturn]] void RaiseSystemError(int error) {
    throw EOSError(error, std::strerror(error));
}

std::string DirOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The copy while it is written: created afresh (a .part a killed run left is removed first,
// and a link in its place is removed, never followed), written through, and either made the
// copy (Commit) or removed when dropped.
class TPartFile {
public:
    TPartFile(std::string part, std::string final_path)
        : part_(std::move(part)), final_(std::move(final_path)) {
        if (unlink(part_.c_str()) != 0 && errno != ENOENT) RaiseSystemError(errno);
        fd_ = open(part_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) RaiseSystemError(errno);
    }
    ~TPartFile() {
        if (fd_ >= 0) close(fd_);
        if (!committed_) unlink(part_.c_str());
    }
    TPartFile(const TPartFile&) = delete;
    TPartFile& operator=(const TPartFile&) = delete;

    void Write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseSystemError(errno);
            done += static_cast<size_t>(n);
        }
        written_ += static_cast<int64_t>(bytes.size());
    }
    int64_t Written() const { return written_; }

    // On the disk, then in the old copy's place, then the directory's entry on the disk too.
    void Commit() {
        if (fsync(fd_) != 0) RaiseSystemError(errno);
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) RaiseSystemError(errno);
        if (rename(part_.c_str(), final_.c_str()) != 0) RaiseSystemError(errno);
        committed_ = true;
        const int dir = open(DirOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) RaiseSystemError(errno);
        const int synced = fsync(dir);
        const int error = errno;
        close(dir);
        if (synced != 0) RaiseSystemError(error);
    }

private:
    std::string part_, final_;
    int fd_ = -1;
    int64_t written_ = 0;
    bool committed_ = false;
};

// The outcome, or none when stopped first.
std::optional<TStreamOutcome> Stream(const TStreamRequest& request, TControl& control) {
    const std::string dir_problem = LocalDirProblem(DirOf(request.local_path));
    if (!dir_problem.empty()) return TStreamOutcome{false, dir_problem};
    std::optional<TPartFile> part;
    try {
        part.emplace(PartPath(request.local_path), request.local_path);
    } catch (const std::exception& e) {
        return TStreamOutcome{false, e.what()};  // before the server is asked
    }

    TIBBackupService backup(nullptr);
    backup.SetLoginPrompt(false);
    backup.SetProtocol(request.protocol);
    if (request.protocol != TProtocol::Local) backup.SetServerName(request.server_name);
    backup.Params().Add("user_name=" + request.user);
    backup.Params().Add("password=" + request.password);
    backup.SetCallTimeout(request.call_timeout_ms);
    backup.SetDatabaseName(request.database);
    // The one file, and no verbose output and no length: the server refuses either with it.
    backup.BackupFile().Add("stdout");
    backup.SetVerbose(false);

    std::string failure;
    try {
        backup.SetActive(true);
        backup.ServiceStart();
        auto last_data = SteadyClock::now();
        while (!backup.OutputEnded() && !control.Stopped()) {
            const std::string bytes = backup.GetNextBytes();
            const auto now = SteadyClock::now();
            if (!bytes.empty()) {
                part->Write(bytes);
                last_data = now;
            } else if (!backup.OutputEnded() &&
                       now - last_data >= std::chrono::milliseconds(request.no_data_ms)) {
                RaiseClientError(ClientErrorCode::ServiceNoAnswer,
                                 {std::to_string((request.no_data_ms + 999) / 1000)});
            }
        }
    } catch (const std::exception& e) {
        failure = e.what();  // the server's status, or this machine's file
    }
    try {
        // A stream that has not ended ends here: the server stops its backup.
        backup.SetActive(false);
    } catch (const std::exception&) {
        // The stream's outcome is known; a failed detach adds nothing to it.
    }
    if (control.Stopped()) return std::nullopt;  // the .part goes with `part`
    if (!failure.empty()) return TStreamOutcome{false, failure};
    try {
        part->Commit();
    } catch (const std::exception& e) {
        return TStreamOutcome{false, e.what()};
    }
    return TStreamOutcome{true, {}, part->Written()};
}

}  // namespace

std::string LocalDirProblem(const std::string& dir) {
    if (dir.empty() || dir[0] != '/') return dir + ": not an absolute path";
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) return dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return dir + ": " + std::strerror(ENOTDIR);
    if (access(dir.c_str(), W_OK | X_OK) != 0) return dir + ": " + std::strerror(errno);
    return {};
}

std::string PartPath(const std::string& local_path) {
    return local_path + ".part";
}

TBackupStreamer::TBackupStreamer(TStreamRequest request, TOutcomeEvent on_outcome)
    : worker_(
          [request = std::move(request)](TControl& control) {
              ClientCallScope inside;  // the library stays loaded while we stream
              std::optional<TStreamOutcome> outcome;
              try {
                  outcome = Stream(request, control);
              } catch (const std::exception& e) {
                  outcome = TStreamOutcome{false, e.what()};
              }
              return outcome;
          },
          std::move(on_outcome)) {}

}  // namespace qv
