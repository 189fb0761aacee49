#include "firebird/IBIntf.h"

#include <unistd.h>

#include <cstdio>

#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <string_view>

#include "firebird/IB.h"

namespace qv {

namespace {

using AttachFn = ISC_STATUS (*)(ISC_STATUS*, unsigned short, const char*, isc_svc_handle*,
                                unsigned short, const char*);
using DetachFn = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*);
using QueryFn = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                               const char*, unsigned short, const char*, unsigned short, char*);
using StartFn = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                               const char*);
using SqlCodeFn = ISC_LONG (*)(const ISC_STATUS*);
using InterpreteFn = ISC_LONG (*)(char*, ISC_STATUS**);
using RollbackRetainingFn = ISC_STATUS (*)(ISC_STATUS*, void*);
using AttachDatabaseFn = ISC_STATUS (*)(ISC_STATUS*, short, const char*, isc_db_handle*, short,
                                        const char*);
using DatabaseFn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*);  // detach, drop
using DateFn = void (*)(const void*, void*);

// Required entry points, in the order they are resolved.
const char* const kRequired[] = {"BLOB_get",
                                 "BLOB_put",
                                 "isc_sqlcode",
                                 "isc_sql_interprete",
                                 "isc_interprete",
                                 "isc_vax_integer",
                                 "isc_blob_info",
                                 "isc_open_blob2",
                                 "isc_close_blob",
                                 "isc_get_segment",
                                 "isc_put_segment",
                                 "isc_create_blob2",
                                 "isc_decode_date",
                                 "isc_encode_date",
                                 "isc_dsql_free_statement",
                                 "isc_dsql_execute2",
                                 "isc_dsql_execute",
                                 "isc_dsql_set_cursor_name",
                                 "isc_dsql_fetch",
                                 "isc_dsql_sql_info",
                                 "isc_dsql_alloc_statement2",
                                 "isc_dsql_prepare",
                                 "isc_dsql_describe_bind",
                                 "isc_dsql_describe",
                                 "isc_dsql_execute_immediate",
                                 "isc_drop_database",
                                 "isc_detach_database",
                                 "isc_attach_database",
                                 "isc_database_info",
                                 "isc_start_multiple",
                                 "isc_commit_transaction",
                                 "isc_commit_retaining",
                                 "isc_rollback_transaction",
                                 "isc_cancel_events",
                                 "isc_que_events",
                                 "isc_event_counts",
                                 "isc_event_block",
                                 "isc_free",
                                 "isc_add_user",
                                 "isc_delete_user",
                                 "isc_modify_user",
                                 "isc_prepare_transaction",
                                 "isc_prepare_transaction2"};
static_assert(std::size(kRequired) == 43);

// The newer entry points, resolved when isc_rollback_retaining exists.
const char* const kNewer[] = {"isc_service_attach",   "isc_service_detach",  "isc_service_query",
                              "isc_service_start",    "isc_decode_sql_date", "isc_decode_sql_time",
                              "isc_decode_timestamp", "isc_encode_sql_date", "isc_encode_sql_time",
                              "isc_encode_timestamp"};

struct EntryTable {
    void* required[std::size(kRequired)] = {};
    SqlCodeFn sqlcode = nullptr;
    InterpreteFn interprete = nullptr;
    AttachDatabaseFn attach_database = nullptr;
    DatabaseFn detach_database = nullptr;
    DatabaseFn drop_database = nullptr;
    RollbackRetainingFn rollback_retaining = nullptr;
    AttachFn service_attach = nullptr;
    DetachFn service_detach = nullptr;
    QueryFn service_query = nullptr;
    StartFn service_start = nullptr;
    DateFn date[6] = {};
};

// A required entry point's resolved address, by name.
void* RequiredEntry(const EntryTable& t, std::string_view name) {
    for (size_t i = 0; i < std::size(kRequired); ++i)
        if (name == kRequired[i]) return t.required[i];
    return nullptr;
}

struct Library {
    void* handle = nullptr;
    int version = 0;
    EntryTable table;
    std::vector<std::string> names{"libfbclient.so.2", "libfbclient.so"};
    std::atomic<int> workers{0};  // threads inside the library on our behalf
    std::atomic<bool> backup_left_running{false};
    // Never unloaded at process end: once it has been used, threads of the library's own
    // (its signal-driven shutdown, its timers) run until the process ends, and unloading
    // their code and thread-local data under them makes the exit crash.
};

Library& Lib() {
    static Library lib;
    return lib;
}

thread_local ISC_STATUS t_status[kStatusLength];

// Stand-ins for the newer entry points of an older library: each names itself.
[[noreturn]] void Newer(const char* name) {
    RaiseClientError(ClientErrorCode::NewerClientRequired, {name});
}
ISC_STATUS SubRollbackRetaining(ISC_STATUS*, void*) {
    Newer("isc_rollback_retaining");
}
ISC_STATUS SubAttach(ISC_STATUS*, unsigned short, const char*, isc_svc_handle*, unsigned short,
                     const char*) {
    Newer("isc_service_attach");
}
ISC_STATUS SubDetach(ISC_STATUS*, isc_svc_handle*) {
    Newer("isc_service_detach");
}
ISC_STATUS SubQuery(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const char*,
                    unsigned short, const char*, unsigned short, char*) {
    Newer("isc_service_query");
}
ISC_STATUS SubStart(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const char*) {
    Newer("isc_service_start");
}
void SubDecodeSqlDate(const void*, void*) {
    Newer("isc_decode_sql_date");
}
void SubDecodeSqlTime(const void*, void*) {
    Newer("isc_decode_sql_time");
}
void SubDecodeTimestamp(const void*, void*) {
    Newer("isc_decode_timestamp");
}
void SubEncodeSqlDate(const void*, void*) {
    Newer("isc_encode_sql_date");
}
void SubEncodeSqlTime(const void*, void*) {
    Newer("isc_encode_sql_time");
}
void SubEncodeTimestamp(const void*, void*) {
    Newer("isc_encode_timestamp");
}

// The code reported for a missing entry point: Windows' ERROR_PROC_NOT_FOUND.
constexpr int kProcNotFound = 127;

void* Resolve(void* handle, const char* name) {
    dlerror();
    void* p = dlsym(handle, name);
    if (p) return p;
    const char* why = dlerror();
    std::string text = why ? why : "";
    dlclose(handle);
    throw EOSError(kProcNotFound, "System Error.  Code: " + std::to_string(kProcNotFound) +
                                      ".\r\n" + (text.empty() ? std::string(name) : text));
}

template <class Fn>
Fn As(void* p) {
    Fn f;
    std::memcpy(&f, &p, sizeof f);
    return f;
}

}  // namespace

const std::vector<std::string>& ClientLibraryNames() {
    return Lib().names;
}
void SetClientLibraryNames(std::vector<std::string> names) {
    Lib().names = std::move(names);
}

void LoadClientLibrary() {
    Library& lib = Lib();
    if (lib.handle) return;
    void* handle = nullptr;
    for (const std::string& name : lib.names)
        if ((handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))) break;
    if (!handle) return;

    EntryTable t;
    for (size_t i = 0; i < std::size(kRequired); ++i) t.required[i] = Resolve(handle, kRequired[i]);
    t.sqlcode = As<SqlCodeFn>(t.required[2]);
    t.interprete = As<InterpreteFn>(t.required[4]);
    t.drop_database = As<DatabaseFn>(RequiredEntry(t, "isc_drop_database"));
    t.detach_database = As<DatabaseFn>(RequiredEntry(t, "isc_detach_database"));
    t.attach_database = As<AttachDatabaseFn>(RequiredEntry(t, "isc_attach_database"));

    int version = 0;
    if (void* rr = dlsym(handle, "isc_rollback_retaining")) {
        version = 6;
        t.rollback_retaining = As<RollbackRetainingFn>(rr);
        void* newer[std::size(kNewer)];
        for (size_t i = 0; i < std::size(kNewer); ++i) newer[i] = Resolve(handle, kNewer[i]);
        t.service_attach = As<AttachFn>(newer[0]);
        t.service_detach = As<DetachFn>(newer[1]);
        t.service_query = As<QueryFn>(newer[2]);
        t.service_start = As<StartFn>(newer[3]);
        for (int i = 0; i < 6; ++i) t.date[i] = As<DateFn>(newer[4 + i]);
    } else {
        version = 5;
        t.rollback_retaining = SubRollbackRetaining;
        t.service_attach = SubAttach;
        t.service_detach = SubDetach;
        t.service_query = SubQuery;
        t.service_start = SubStart;
        DateFn subs[6] = {SubDecodeSqlDate, SubDecodeSqlTime, SubDecodeTimestamp,
                          SubEncodeSqlDate, SubEncodeSqlTime, SubEncodeTimestamp};
        std::copy(std::begin(subs), std::end(subs), t.date);
    }
    lib.table = t;
    lib.version = version;
    lib.handle = handle;
}

void EnsureClientLibrary() {
    if (!Lib().handle) LoadClientLibrary();
    if (!Lib().handle) RaiseClientError(ClientErrorCode::ClientLibraryMissing);
}

void FreeClientLibrary() {
    Library& lib = Lib();
    if (!lib.handle || lib.workers > 0) return;  // still in use on another thread
    dlclose(lib.handle);
    lib.handle = nullptr;
    lib.table = EntryTable{};
    lib.version = 0;
}

bool ClientCallsPending() {
    return Lib().workers > 0 || Lib().backup_left_running;
}

int LeaveProcess(int rc) {
    std::fflush(nullptr);
    if (ClientCallsPending()) _exit(rc);
    return rc;
}

void NoteBackupLeftRunning() {
    Lib().backup_left_running = true;
}

namespace {
// The signals the client library takes over on its first attachment.
constexpr int kLibrarySignals[] = {SIGINT, SIGTERM};

bool SameAction(const struct sigaction& a, const struct sigaction& b) {
    return a.sa_flags == b.sa_flags && ((a.sa_flags & SA_SIGINFO) ? a.sa_sigaction == b.sa_sigaction
                                                                  : a.sa_handler == b.sa_handler);
}
}  // namespace

ClientCallScope::ClientCallScope() {
    ++Lib().workers;
    for (size_t i = 0; i < std::size(kLibrarySignals); ++i)
        sigaction(kLibrarySignals[i], nullptr, &program_actions_[i]);
}
ClientCallScope::~ClientCallScope() {
    // The client library hooks SIGINT and SIGTERM on its first attachment and then shuts itself
    // down on a thread of its own, racing the program's own ending (which closes what it opened)
    // and outliving it. The program decides how it ends: its handlers are put back.
    for (size_t i = 0; i < std::size(kLibrarySignals); ++i) {
        struct sigaction now {};
        sigaction(kLibrarySignals[i], nullptr, &now);
        if (!SameAction(now, program_actions_[i]))
            sigaction(kLibrarySignals[i], &program_actions_[i], nullptr);
    }
    --Lib().workers;
}

bool ClientLibraryLoaded() {
    return Lib().handle != nullptr;
}
int ClientVersion() {
    return Lib().version;
}

ISC_STATUS* StatusVector() {
    return t_status;
}

namespace ClientLibrary {

namespace {
const EntryTable& Table() {
    if (!Lib().handle) RaiseClientError(ClientErrorCode::ClientLibraryMissing);
    return Lib().table;
}
}  // namespace

ISC_STATUS ServiceAttach(ISC_STATUS* status, unsigned short name_length, const char* name,
                         isc_svc_handle* handle, unsigned short spb_length, const char* spb) {
    return Table().service_attach(status, name_length, name, handle, spb_length, spb);
}

ISC_STATUS ServiceDetach(ISC_STATUS* status, isc_svc_handle* handle) {
    return Table().service_detach(status, handle);
}

ISC_STATUS ServiceStart(ISC_STATUS* status, isc_svc_handle* handle, isc_resv_handle* reserved,
                        unsigned short length, const char* request) {
    return Table().service_start(status, handle, reserved, length, request);
}

ISC_LONG SqlCode(const ISC_STATUS* status) {
    return Table().sqlcode(status);
}

ISC_STATUS ServiceQuery(ISC_STATUS* status, isc_svc_handle* handle, isc_resv_handle* reserved,
                        unsigned short send_length, const char* send, unsigned short request_length,
                        const char* request, unsigned short buffer_length, char* buffer) {
    return Table().service_query(status, handle, reserved, send_length, send, request_length,
                                 request, buffer_length, buffer);
}

ISC_LONG Interprete(char* buffer, const ISC_STATUS** cursor) {
    return Table().interprete(buffer, const_cast<ISC_STATUS**>(cursor));
}

ISC_STATUS AttachDatabase(ISC_STATUS* status, short name_length, const char* name,
                          isc_db_handle* handle, short dpb_length, const char* dpb) {
    return Table().attach_database(status, name_length, name, handle, dpb_length, dpb);
}

ISC_STATUS DetachDatabase(ISC_STATUS* status, isc_db_handle* handle) {
    return Table().detach_database(status, handle);
}

ISC_STATUS DropDatabase(ISC_STATUS* status, isc_db_handle* handle) {
    return Table().drop_database(status, handle);
}

}  // namespace ClientLibrary

}  // namespace qv
