#include "firebird/BackupVerifier.h"

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "firebird/IBDatabase.h"
#include "firebird/IBIntf.h"

namespace qv {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Paths compared as the server would open them: "a//b/./c" is "a/b/c".
std::string Normal(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace

std::string ScratchDatabasePath(const std::string& backup_file, const std::string& scratch_dir) {
    size_t cut = backup_file.size();
    while (cut > 0 && !IsSeparator(backup_file[cut - 1])) --cut;
    const std::string own_name = backup_file.substr(cut);
    std::string dir = scratch_dir.empty() ? backup_file.substr(0, cut) : scratch_dir;
    // A server path on Windows is written with backslashes: the name is joined the same way.
    const char separator =
        dir.find('\\') != std::string::npos && dir.find('/') == std::string::npos ? '\\' : '/';
    if (!dir.empty() && !IsSeparator(dir.back())) dir += separator;
    return dir + own_name + ".verify.fdb";
}

bool IsRestoreFinishedLine(const std::string& line) {
    if (line.find("finishing, closing, and going home") != std::string::npos) return true;
    const std::string number = "message 12:88";
    for (size_t at = line.find(number); at != std::string::npos; at = line.find(number, at + 1)) {
        const size_t end = at + number.size();
        if (end == line.size() || !std::isdigit(static_cast<unsigned char>(line[end]))) return true;
    }
    return false;
}

struct TBackupVerifier::State {
    mutable std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
    bool finished = false;
    std::optional<TVerifyOutcome> outcome;
    TVerifyRequest request;
    TOutcomeEvent on_outcome;
    int poll_ms = 0;

    bool Stopped() {
        std::lock_guard lock(mu);
        return stop;
    }

    // Waits poll_ms unless stopped meanwhile; true when stopped.
    bool Pause() {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, std::chrono::milliseconds(poll_ms), [&] { return stop; });
    }

    std::string ConnectTo(const std::string& object) const {
        return TIBCustomService::ConnectStringFor(request.protocol, request.server_name, object);
    }

    void DropScratch(const std::string& scratch) const {
        AttachAndDropDatabase(ConnectTo(scratch),
                              DatabaseParamBlock(request.user, request.password),
                              request.call_timeout_ms);
    }

    // Restores, follows the output to its end, proves and drops the scratch database: the
    // outcome, or none when stopped first.
    std::optional<TVerifyOutcome> Verify() {
        const std::string scratch = ScratchDatabasePath(request.backup_file, request.scratch_dir);
        if (Normal(scratch) == Normal(request.backup_file) ||
            (!request.database.empty() && Normal(scratch) == Normal(request.database)))
            return TVerifyOutcome{false, kScratchNameTaken};

        TIBRestoreService restore(nullptr);
        restore.SetLoginPrompt(false);
        restore.SetProtocol(request.protocol);
        if (request.protocol != TProtocol::Local) restore.SetServerName(request.server_name);
        restore.Params().Add("user_name=" + request.user);
        restore.Params().Add("password=" + request.password);
        restore.SetCallTimeout(request.call_timeout_ms);
        restore.BackupFile().Add(request.backup_file);
        restore.SetDatabaseName(scratch);
        restore.SetOptions(CreateNewDB | Replace);
        restore.SetVerbose(true);

        std::string failure;
        bool reached_end = false;  // gbak's closing message came
        bool started = false;
        try {
            restore.SetActive(true);
            restore.ServiceStart();
            started = true;
            while (!restore.OutputEnded()) {
                if (Stopped()) return std::nullopt;  // the attachment closes with `restore`
                const std::string line = restore.GetNextLine();
                if (IsRestoreFinishedLine(line)) reached_end = true;
                if (line.empty() && !restore.OutputEnded() && poll_ms > 0 && Pause())
                    return std::nullopt;
            }
        } catch (const std::exception& e) {
            failure = e.what();
        }
        try {
            restore.SetActive(false);
        } catch (const std::exception&) {
            // The restore's outcome is known; a failed detach adds nothing to it.
        }
        if (Stopped()) return std::nullopt;

        if (failure.empty() && !reached_end) failure = kBackupIncomplete;
        if (!failure.empty()) {
            // Whatever the restore created goes; when it created nothing the attach fails.
            if (started) {
                try {
                    DropScratch(scratch);
                } catch (const std::exception&) {
                }
            }
            return TVerifyOutcome{false, failure};
        }
        try {
            DropScratch(scratch);  // proves it online, and leaves nothing behind
        } catch (const std::exception& e) {
            return TVerifyOutcome{false, e.what()};
        }
        return TVerifyOutcome{true, {}};
    }

    static void Run(std::shared_ptr<State> s) {
        ClientCallScope inside;  // the library stays loaded while we verify
        std::optional<TVerifyOutcome> outcome;
        try {
            outcome = s->Verify();
        } catch (const std::exception& e) {
            outcome = TVerifyOutcome{false, e.what()};
        }
        if (!outcome) NoteBackupLeftRunning();
        std::lock_guard lock(s->mu);
        s->outcome = outcome;
        // Under the lock, so that no report starts once Stop has returned.
        if (outcome && !s->stop && s->on_outcome) s->on_outcome(*outcome);
        s->finished = true;
        s->cv.notify_all();
    }
};

TBackupVerifier::TBackupVerifier(TVerifyRequest request, TOutcomeEvent on_outcome, int poll_ms)
    : state_(std::make_shared<State>()) {
    state_->request = std::move(request);
    state_->on_outcome = std::move(on_outcome);
    state_->poll_ms = poll_ms;
    thread_ = std::thread(&State::Run, state_);
}

TBackupVerifier::~TBackupVerifier() {
    // A finished thread only has to return; one still inside the library is left to end on
    // its own.
    if (Stop(0))
        thread_.join();
    else
        thread_.detach();
}

bool TBackupVerifier::Stop(int timeout_ms) {
    std::unique_lock lock(state_->mu);
    state_->stop = true;
    state_->cv.notify_all();
    return state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [&] { return state_->finished; });
}

bool TBackupVerifier::Finished() const {
    std::lock_guard lock(state_->mu);
    return state_->finished;
}

std::optional<TVerifyOutcome> TBackupVerifier::Outcome() const {
    std::lock_guard lock(state_->mu);
    return state_->outcome;
}

}  // namespace qv
