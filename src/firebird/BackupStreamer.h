#pragma once
// Streams a backup from the server's service manager to a file of this machine, off the
// caller's thread: the copy that survives the loss of the database server's disk.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "firebird/BackupFollower.h"
#include "firebird/IBServices.h"
#include "firebird/OutcomeWorker.h"

namespace qv {

// What to back up, how to reach the server, and where the copy goes on this machine.
struct TStreamRequest {
    std::string server_name;  // empty for Local
    TProtocol protocol = TProtocol::TCP;
    std::string user;
    std::string password;
    std::string database;    // the database's path on the server
    std::string local_path;  // <LOCALDIR>/<file name>: absolute, on this machine
    int call_timeout_ms = TIBCustomService::kDefaultCallTimeoutMs;  // each client call's bound
    int no_data_ms = 60000;  // the stream fails when no byte came for this long
};

// succeeded with bytes (the copy's size), or the failure's text: the server's (CR LF between
// its lines), the system's for this machine's file (strerror: "No space left on device"), or
// LocalDirProblem's.
using TStreamOutcome = TBackupOutcome;

// Why copies cannot be written into `dir` on this machine: "" when it is an absolute path of
// an existing directory this process may create files in, else "<dir>: <reason>" (the
// system's text where the system gave one).
std::string LocalDirProblem(const std::string& dir);

// The file a stream writes into until it is complete: "<local_path>.part", in the same
// directory, so that the rename over local_path replaces the old copy in one step.
std::string PartPath(const std::string& local_path);

// Checks the copy's directory, creates "<local_path>.part" (owner-only, never through a link:
// a .part that a killed run left is replaced), starts a backup whose one file is "stdout" and
// writes its bytes there as they come (no file-sized buffer). Only a stream that ended with no
// failure status is fsync'ed and renamed over local_path (then the directory is fsync'ed);
// after any failure, a stream cut short or Stop, the .part is removed and the previous copy of
// that name stays as it was. Nothing waits on the caller's thread except Stop, which is
// bounded.
class TBackupStreamer {
public:
    using TOutcomeEvent = std::function<void(const TStreamOutcome&)>;

    // Starts at once on a thread of its own. on_outcome runs once, on that thread, unless Stop
    // came first; it must only hand the outcome on.
    TBackupStreamer(TStreamRequest request, TOutcomeEvent on_outcome);

    // Stops streaming: no outcome is reported, the attachment is closed (which ends the backup
    // in the server within about a second) and the .part removed. Each query waits at most a
    // second in the server, so this ends within about 3 s. Waits at most timeout_ms; false
    // when the thread had not finished by then and was left to finish on its own.
    bool Stop(int timeout_ms) { return worker_.Stop(timeout_ms); }
    // Whether the thread has finished (outcome reported, or stopped).
    bool Finished() const { return worker_.Finished(); }
    // The outcome once it is known (also before its report has been handled), else nothing.
    std::optional<TStreamOutcome> Outcome() const { return worker_.Outcome(); }

private:
    TOutcomeWorker<TStreamOutcome> worker_;  // stops without waiting when destroyed
};

}  // namespace qv
