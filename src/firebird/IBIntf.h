#pragma once
// Loading the client library at run time and calling it through resolved entry points only.
#include <signal.h>

#include <string>
#include <vector>

#include "firebird/IBHeader.h"

namespace qv {

// Loads the library when it is not loaded; raises ClientLibraryMissing when it still is not.
void EnsureClientLibrary();
// Loads the first library of the search list that the system's loader finds and resolves its
// entry points. A missing required entry point raises EOSError and leaves nothing loaded.
void LoadClientLibrary();
// Releases the library when no thread of ours is inside it (tests switch libraries this way).
// Nothing releases it at process end.
void FreeClientLibrary();
bool ClientLibraryLoaded();
// 6 when the library has the newer entry points, 5 otherwise (0 before a load).
int ClientVersion();

// The names tried in order, each through the system's library search path:
// "libfbclient.so.2" (the Firebird client), then "libfbclient.so".
const std::vector<std::string>& ClientLibraryNames();
// Replaces the search list (tests load their own libraries this way).
void SetClientLibraryNames(std::vector<std::string> names);

// True while a client call abandoned at its bound, or a followed backup, is still inside the
// library on a thread of its own, or once a backup was left running inside this process (the
// Local protocol's embedded engine). The library then spins or hangs in its own clean-up at
// process end, so the process should leave with _exit once its own work is done.
bool ClientCallsPending();
// The program's return value, once its own work is written: a call still inside the client
// library (one that never answered, or a backup left running in it) would hold the library's
// clean-up at exit for minutes, so the process then ends at once with `rc`.
int LeaveProcess(int rc);
// Records that a backup was left running inside the library when its follower stopped.
void NoteBackupLeftRunning();

// Marks a thread's stay inside the library: the library is not unloaded meanwhile, and
// ClientCallsPending reports it. The SIGINT and SIGTERM handlers found at its start are the
// ones in place at its end, whatever the library installed meanwhile.
class ClientCallScope {
public:
    ClientCallScope();
    ~ClientCallScope();
    ClientCallScope(const ClientCallScope&) = delete;
    ClientCallScope& operator=(const ClientCallScope&) = delete;

private:
    struct sigaction program_actions_[2];  // SIGINT, SIGTERM
};

// The calling thread's status vector (20 words).
ISC_STATUS* StatusVector();

// The calls this client makes. Each goes only through an entry point that the load resolved;
// without a loaded library they raise ClientLibraryMissing.
namespace ClientLibrary {
ISC_STATUS ServiceAttach(ISC_STATUS* status, unsigned short name_length, const char* name,
                         isc_svc_handle* handle, unsigned short spb_length, const char* spb);
ISC_STATUS ServiceDetach(ISC_STATUS* status, isc_svc_handle* handle);
ISC_STATUS ServiceStart(ISC_STATUS* status, isc_svc_handle* handle, isc_resv_handle* reserved,
                        unsigned short length, const char* request);
ISC_STATUS ServiceQuery(ISC_STATUS* status, isc_svc_handle* handle, isc_resv_handle* reserved,
                        unsigned short send_length, const char* send, unsigned short request_length,
                        const char* request, unsigned short buffer_length, char* buffer);
ISC_LONG SqlCode(const ISC_STATUS* status);
ISC_LONG Interprete(char* buffer, const ISC_STATUS** cursor);
// A database attachment (a verification's scratch database): attach, detach, drop (which also
// detaches).
ISC_STATUS AttachDatabase(ISC_STATUS* status, short name_length, const char* name,
                          isc_db_handle* handle, short dpb_length, const char* dpb);
ISC_STATUS DetachDatabase(ISC_STATUS* status, isc_db_handle* handle);
ISC_STATUS DropDatabase(ISC_STATUS* status, isc_db_handle* handle);
}  // namespace ClientLibrary

}  // namespace qv
