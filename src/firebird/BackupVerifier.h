#pragma once
// Proves a backup file restorable: restores it through the service manager into a scratch
// database, proves that database usable, and drops it, off the caller's thread.
#include <functional>
#include <optional>
#include <string>

#include "firebird/BackupFollower.h"
#include "firebird/IBServices.h"
#include "firebird/OutcomeWorker.h"

namespace qv {

// What to verify, and how to reach the server (as for the backup it follows).
struct TVerifyRequest {
    std::string server_name;  // empty for Local
    TProtocol protocol = TProtocol::TCP;
    std::string user;
    std::string password;
    std::string database;  // the backed-up database's path on the server
    // The backup file's path: on the server, or on this machine when it is fed from here.
    std::string backup_file;
    // The file that this process reads and feeds to the restore (the backup file on this
    // machine). Empty: the server reads backup_file itself, which is safe only for a file the
    // server has just completed: the restore of a file cut short makes the server write its
    // volume prompt into whatever it holds as descriptor 1.
    std::string local_file;
    std::string scratch_dir;  // VERIFYDIR, as the server sees it; empty: the backup's directory
    std::string settings_id;  // names the settings file in the scratch database's name
    int call_timeout_ms = TIBCustomService::kDefaultCallTimeoutMs;  // each client call's bound
    // How long the scratch database's drop is retried while the server still holds it: a
    // restore that is ending, or one that was stopped and that the server finishes on its own.
    int drop_wait_ms = 8000;
};

// succeeded, or the failure's text (the server's, CR LF between its lines; or
// kBackupIncomplete; or kScratchNameTaken; or why the local file cannot be read).
using TVerifyOutcome = TBackupOutcome;

// A restore whose output never reached gbak's closing message, or a fed restore that ran out
// of data: the file is cut short.
inline constexpr const char* kBackupIncomplete = "備份檔不完整";
// The scratch database would be the database itself or the backup file: nothing is restored.
inline constexpr const char* kScratchNameTaken = "驗證用資料庫與資料庫或備份檔同名";
// A fed restore's status when the data ended before the backup did ("Unexpected I/O error
// while reading from backup file", gbak's message 220).
inline constexpr int32_t kRestoreReadError = 336330972;

// The scratch database: "<scratch_dir>/<the database's file name without its extension>.
// <settings_id>.verify.fdb", the directory defaulting to the backup file's own. It names no
// backup file, so every run of one settings file uses the same one (the next run replaces
// what a killed one left), and the settings id keeps two settings files apart even when they
// back up databases of one name into one directory.
std::string ScratchDatabasePath(const TVerifyRequest& request);

// Whether a line of a restore's verbose output is gbak's message 12:88 ("finishing, closing,
// and going home"), written once the whole file is read: by its text, or by its number as a
// server without its message file sends it ("can't format message 12:88 -- ...").
bool IsRestoreFinishedLine(const std::string& line);

// Restores the backup file (create and replace, verbose, no check skipped) into the scratch
// database, reading the service's output as it comes until the service ends, and feeding it
// the local file when there is one; then attaches to the scratch database and drops it. The
// outcome is a success only when the output reached message 12:88, no failure status came,
// and the attach and drop succeeded. After a failure, and after Stop, the scratch database is
// dropped too, when it can be. Nothing waits on the caller's thread except Stop, which is
// bounded.
class TBackupVerifier {
public:
    using TOutcomeEvent = std::function<void(const TVerifyOutcome&)>;

    // Starts at once on a thread of its own. on_outcome runs once, on that thread, unless Stop
    // came first; it must only hand the outcome on. poll_ms: how long the thread waits between
    // two output queries that brought nothing when the server reads the file itself (each
    // query itself waits up to 1 s on the server for output, and ends as soon as the restore
    // does); a fed restore never waits between queries.
    TBackupVerifier(TVerifyRequest request, TOutcomeEvent on_outcome, int poll_ms = 50);

    // Stops verifying: no outcome is reported, the service attachment is closed and the
    // scratch database dropped. A fed restore ends with its connection; one that reads its file
    // on the server goes on to its end, and its scratch database is dropped only if that comes
    // within the request's drop_wait_ms (else the next verification replaces it). Waits at
    // most timeout_ms; false when the thread had not finished by then and was left to finish on
    // its own.
    bool Stop(int timeout_ms) { return worker_.Stop(timeout_ms); }
    // Whether the thread has finished (outcome reported, or stopped).
    bool Finished() const { return worker_.Finished(); }
    // The outcome once it is known (also before its report has been handled), else nothing.
    std::optional<TVerifyOutcome> Outcome() const { return worker_.Outcome(); }

private:
    TOutcomeWorker<TVerifyOutcome> worker_;  // stops without waiting when destroyed
};

}  // namespace qv
