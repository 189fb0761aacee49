#include "firebird/BackupVerifier.h"

#include <cctype>
#include <filesystem>

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

namespace {

using TControl = TOutcomeWorker<TVerifyOutcome>::TControl;

std::string ConnectTo(const TVerifyRequest& request, const std::string& object) {
    return TIBCustomService::ConnectStringFor(request.protocol, request.server_name, object);
}

void DropScratch(const TVerifyRequest& request, const std::string& scratch) {
    AttachAndDropDatabase(ConnectTo(request, scratch),
                          DatabaseParamBlock(request.user, request.password),
                          request.call_timeout_ms);
}

// Restores, follows the output to its end, proves and drops the scratch database: the
// outcome, or none when stopped first.
std::optional<TVerifyOutcome> Verify(const TVerifyRequest& request, TControl& control,
                                     int poll_ms) {
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
            if (control.Stopped()) return std::nullopt;  // the attachment closes with `restore`
            const std::string line = restore.GetNextLine();
            if (IsRestoreFinishedLine(line)) reached_end = true;
            if (line.empty() && !restore.OutputEnded() && poll_ms > 0 && control.Pause(poll_ms))
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
    if (control.Stopped()) return std::nullopt;

    if (failure.empty() && !reached_end) failure = kBackupIncomplete;
    if (!failure.empty()) {
        // Whatever the restore created goes; when it created nothing the attach fails.
        if (started) {
            try {
                DropScratch(request, scratch);
            } catch (const std::exception&) {
            }
        }
        return TVerifyOutcome{false, failure};
    }
    try {
        DropScratch(request, scratch);  // proves it online, and leaves nothing behind
    } catch (const std::exception& e) {
        return TVerifyOutcome{false, e.what()};
    }
    return TVerifyOutcome{true, {}};
}

}  // namespace

TBackupVerifier::TBackupVerifier(TVerifyRequest request, TOutcomeEvent on_outcome, int poll_ms)
    : worker_(
          [request = std::move(request), poll_ms](TControl& control) {
              ClientCallScope inside;  // the library stays loaded while we verify
              std::optional<TVerifyOutcome> outcome;
              try {
                  outcome = Verify(request, control, poll_ms);
              } catch (const std::exception& e) {
                  outcome = TVerifyOutcome{false, e.what()};
              }
              if (!outcome) NoteBackupLeftRunning();
              return outcome;
          },
          std::move(on_outcome)) {}

}  // namespace qv
