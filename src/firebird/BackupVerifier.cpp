#include "firebird/BackupVerifier.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "firebird/IB.h"
#include "firebird/IBDatabase.h"
#include "firebird/IBIntf.h"

namespace qv {

namespace {

using TControl = TOutcomeWorker<TVerifyOutcome>::TControl;
using SteadyClock = std::chrono::steady_clock;

constexpr int kDropRetryMs = 200;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Where a path's own name starts.
size_t NameStart(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    return cut;
}

// Paths compared as the server would open them: "a//b/./c" is "a/b/c".
std::string Normal(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

// The server still restores into the database, or another attachment holds it.
bool StillHeld(const EIBError& e) {
    switch (e.StatusCode()) {
        case 335544528:  // isc_shutdown: a restore keeps it shut until it ends
        case 335544510:  // isc_lock_timeout
        case 335544345:  // isc_lock_conflict
        case 335544453:  // isc_obj_in_use
        case 335544336:  // isc_deadlock
            return true;
        default:
            return false;
    }
}

std::string ConnectTo(const TVerifyRequest& request, const std::string& object) {
    return TIBCustomService::ConnectStringFor(request.protocol, request.server_name, object);
}

// Attaches to the scratch database and drops it, again every kDropRetryMs while the server
// still holds it, for at most drop_wait_ms. Raises the last failure.
void DropScratch(const TVerifyRequest& request, const std::string& scratch) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(request.drop_wait_ms);
    for (;;) {
        try {
            AttachAndDropDatabase(ConnectTo(request, scratch),
                                  DatabaseParamBlock(request.user, request.password),
                                  request.call_timeout_ms);
            return;
        } catch (const EIBError& e) {
            if (!StillHeld(e) || SteadyClock::now() >= deadline) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kDropRetryMs));
    }
}

// Whatever the restore created goes; when it created nothing the attach fails.
void DropWhatIsLeft(const TVerifyRequest& request, const std::string& scratch) {
    try {
        DropScratch(request, scratch);
    } catch (const std::exception&) {
    }
}

// Restores, follows the output to its end, proves and drops the scratch database: the
// outcome, or none when stopped first.
std::optional<TVerifyOutcome> Verify(const TVerifyRequest& request, TControl& control,
                                     int poll_ms) {
    const std::string scratch = ScratchDatabasePath(request);
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
    try {
        restore.FeedFrom(request.local_file);  // a file it cannot read: nothing is sent
    } catch (const std::exception& e) {
        return TVerifyOutcome{false, e.what()};
    }

    std::string failure;
    bool reached_end = false;  // gbak's closing message came
    bool started = false;
    try {
        restore.SetActive(true);
        restore.ServiceStart();
        started = true;
        while (!restore.OutputEnded() && !control.Stopped()) {
            const std::string line = restore.GetNextLine();
            if (IsRestoreFinishedLine(line)) reached_end = true;
            // A fed restore is asked again at once: its query returns early only with a line
            // or when the restore wants data (the wait's own end aside), so a pause here
            // would only hold back the data the restore waits for.
            if (line.empty() && !restore.OutputEnded() && !restore.Fed() && poll_ms > 0)
                control.Pause(poll_ms);
        }
    } catch (const EIBError& e) {
        // A fed restore that read all there was and wanted more: the file is cut short.
        failure = restore.FeedEnded() && e.StatusCode() == kRestoreReadError ? kBackupIncomplete
                                                                             : e.what();
    } catch (const std::exception& e) {
        failure = e.what();  // the local file could not be read on
    }
    try {
        // A fed restore ends here if it has not; one reading its file on the server goes on.
        restore.SetActive(false);
    } catch (const std::exception&) {
        // The restore's outcome is known; a failed detach adds nothing to it.
    }
    if (control.Stopped()) {
        if (started) DropWhatIsLeft(request, scratch);
        return std::nullopt;
    }

    if (failure.empty() && !reached_end) failure = kBackupIncomplete;
    if (!failure.empty()) {
        if (started) DropWhatIsLeft(request, scratch);
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

std::string ScratchDatabasePath(const TVerifyRequest& request) {
    const std::string& database = request.database;
    std::string stem = database.substr(NameStart(database));
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    if (stem.empty()) stem = "quorvane";
    const std::string& backup = request.backup_file;
    std::string dir =
        request.scratch_dir.empty() ? backup.substr(0, NameStart(backup)) : request.scratch_dir;
    // A server path on Windows is written with backslashes: the name is joined the same way.
    const char separator =
        dir.find('\\') != std::string::npos && dir.find('/') == std::string::npos ? '\\' : '/';
    if (!dir.empty() && !IsSeparator(dir.back())) dir += separator;
    const std::string id = request.settings_id.empty() ? "" : "." + request.settings_id;
    return dir + stem + id + ".verify.fdb";
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
