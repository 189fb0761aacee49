// A stand-in for the Firebird client library, for tests only. It exports the entry points the
// program resolves, records the exact bytes of every services call, and answers with scripted
// results and status texts. Built three times: complete, without one required entry point
// (FBD_MISSING_REQUIRED), and without isc_rollback_retaining and the newer calls (FBD_V5).
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FbDoubleControl.h"

namespace {

using ISC_STATUS = intptr_t;
using ISC_LONG = int32_t;
using Handle = unsigned int;

struct Outcome {
    ISC_STATUS result = 0;
    ISC_STATUS code = 0;
    ISC_LONG sqlcode = 0;
    std::vector<std::string> texts;
};

struct State {
    std::mutex mu;
    std::deque<FbdCall> calls;  // appending moves no call: fbd_call's pointers stay valid
    std::map<std::string, std::deque<Outcome>> scripts;
    Outcome last_failure;
    size_t next_text = 0;
    Handle next_handle = 1001;
    std::vector<Handle> open_handles;
    std::map<std::string, int> stalls;  // the next call of fn answers this many ms late
    std::deque<uint32_t> stdin_asks;    // what the next queries asking isc_info_svc_stdin answer
    uint32_t stdin_asked = 0;           // what the last one answered
};

State& S() {
    static State s;
    return s;
}

[[maybe_unused]] Outcome Next(const char* fn) {
    auto& q = S().scripts[fn];
    if (q.empty()) return {};
    Outcome o = q.front();
    q.pop_front();
    return o;
}

[[maybe_unused]] ISC_STATUS Finish(ISC_STATUS* status, const Outcome& o) {
    for (int i = 0; i < 20; ++i) status[i] = 0;
    if (o.result > 0) {
        status[0] = 1;
        status[1] = o.code;
        status[2] = 0;
        S().last_failure = o;
        S().next_text = 0;
    }
    return o.result;
}

// Entry-point calls that have not returned yet: a call the program abandoned at its bound is
// still on its way (stalled) after its test's other calls have ended.
std::atomic<int> g_calls_in_progress{0};
struct InCall {
    InCall() { ++g_calls_in_progress; }
    ~InCall() { --g_calls_in_progress; }
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;
};

void Record(FbdCall call) {
    S().calls.push_back(std::move(call));
}

// A stalled server: the call waits (outside the lock, as a real network wait would).
[[maybe_unused]] void Stall(const char* fn) {
    int ms = 0;
    {
        std::lock_guard lock(S().mu);
        auto it = S().stalls.find(fn);
        if (it == S().stalls.end()) return;
        ms = it->second;
        S().stalls.erase(it);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The send block as the server reads it: each item a 2-byte length and its value. A line
// item carries stdin data: more than was asked for is refused, as the server refuses it. Empty
// when the block is well formed, else the failure.
[[maybe_unused]] Outcome CheckSendBlock(const unsigned char* send, size_t length) {
    size_t at = 0;
    while (at < length && send[at] != 1) {
        const unsigned char item = send[at++];
        if (at + 2 > length) return {1, 1, -1, {"double: send item without its length"}};
        const size_t size = send[at] | static_cast<size_t>(send[at + 1]) << 8;
        at += 2;
        if (at + size > length) return {1, 1, -1, {"double: send item longer than the block"}};
        if (item == 64 && size != 4) return {1, 1, -1, {"double: a wait that is not 4 bytes"}};
        if (item == 62) {  // nothing at all may be sent unasked, not even the end
            if (size > S().stdin_asked || S().stdin_asked == 0)
                return {1,
                        335545038,
                        -901,
                        {"Size of stdin data is more than was requested from client"}};
            S().stdin_asked = 0;
        }
        at += size;
    }
    return {};
}
}  // namespace

extern "C" {

// ---- control, used by the tests ----
FBD_EXPORT void fbd_reset(void) {
    std::lock_guard lock(S().mu);
    S().calls.clear();
    S().scripts.clear();
    S().last_failure = {};
    S().next_text = 0;
    S().next_handle = 1001;
    S().open_handles.clear();
    S().stalls.clear();
    S().stdin_asks.clear();
    S().stdin_asked = 0;
}

FBD_EXPORT void fbd_stdin(uint32_t bytes) {
    std::lock_guard lock(S().mu);
    S().stdin_asks.push_back(bytes);
}

FBD_EXPORT void fbd_stall(const char* fn, int ms) {
    std::lock_guard lock(S().mu);
    S().stalls[fn] = ms;
}

FBD_EXPORT void fbd_script(const char* fn, intptr_t result, intptr_t code, int32_t sqlcode,
                           const char* const* texts, int ntexts) {
    std::lock_guard lock(S().mu);
    Outcome o{result, code, sqlcode, {}};
    for (int i = 0; i < ntexts; ++i) o.texts.emplace_back(texts[i]);
    S().scripts[fn].push_back(o);
}

// Read under the lock: the program's worker threads append calls meanwhile.
FBD_EXPORT int fbd_call_count(void) {
    std::lock_guard lock(S().mu);
    return static_cast<int>(S().calls.size());
}

FBD_EXPORT const FbdCall* fbd_call(int i) {
    std::lock_guard lock(S().mu);
    if (i < 0 || i >= static_cast<int>(S().calls.size())) return nullptr;
    return &S().calls[static_cast<size_t>(i)];
}

FBD_EXPORT int fbd_calls_in_progress(void) {
    return g_calls_in_progress;
}

FBD_EXPORT int fbd_open_handles(void) {
    std::lock_guard lock(S().mu);
    return static_cast<int>(S().open_handles.size());
}

// Like the real client library, whose first attachment hooks SIGINT and SIGTERM (to shut itself
// down on a thread of its own): the next attach installs this handler for both.
std::atomic<bool> g_hook_signals{false}, g_signals_hooked{false};
void LibrarySignalHandler(int, siginfo_t*, void*) {}

FBD_EXPORT void fbd_hook_signals_on_attach(void) {
    g_hook_signals = true;
}
FBD_EXPORT int fbd_signals_hooked(void) {
    return g_signals_hooked ? 1 : 0;
}

// Like the real client library, whose own threads (its signal-driven shutdown, its timers) run
// until the process ends: a thread that keeps running in this library's code.
FBD_EXPORT void fbd_start_own_thread(void) {
    std::thread([] {
        volatile unsigned turns = 0;
        for (;;) turns = turns + 1u;
    }).detach();
}

// ---- the client library's entry points ----
#define FBD_DUMMY(name)                \
    FBD_EXPORT ISC_STATUS name(void) { \
        return 0;                      \
    }

FBD_DUMMY(BLOB_get)
FBD_DUMMY(BLOB_put)
FBD_DUMMY(isc_sql_interprete)
FBD_DUMMY(isc_vax_integer)
FBD_DUMMY(isc_blob_info)
FBD_DUMMY(isc_open_blob2)
FBD_DUMMY(isc_close_blob)
FBD_DUMMY(isc_get_segment)
FBD_DUMMY(isc_put_segment)
FBD_DUMMY(isc_create_blob2)
FBD_DUMMY(isc_decode_date)
FBD_DUMMY(isc_encode_date)
FBD_DUMMY(isc_dsql_free_statement)
FBD_DUMMY(isc_dsql_execute2)
FBD_DUMMY(isc_dsql_execute)
FBD_DUMMY(isc_dsql_set_cursor_name)
FBD_DUMMY(isc_dsql_fetch)
FBD_DUMMY(isc_dsql_sql_info)
FBD_DUMMY(isc_dsql_alloc_statement2)
#ifndef FBD_MISSING_REQUIRED
FBD_DUMMY(isc_dsql_prepare)
#endif
FBD_DUMMY(isc_dsql_describe_bind)
FBD_DUMMY(isc_dsql_describe)
FBD_DUMMY(isc_dsql_execute_immediate)
FBD_DUMMY(isc_database_info)
FBD_DUMMY(isc_start_multiple)
FBD_DUMMY(isc_commit_transaction)
FBD_DUMMY(isc_commit_retaining)
FBD_DUMMY(isc_rollback_transaction)
FBD_DUMMY(isc_cancel_events)
FBD_DUMMY(isc_que_events)
FBD_DUMMY(isc_event_counts)
FBD_DUMMY(isc_event_block)
FBD_DUMMY(isc_free)
FBD_DUMMY(isc_add_user)
FBD_DUMMY(isc_delete_user)
FBD_DUMMY(isc_modify_user)
FBD_DUMMY(isc_prepare_transaction)
FBD_DUMMY(isc_prepare_transaction2)

// A database attachment: records the name and parameter block, answers as scripted, and keeps
// the handle open until a detach or a drop.
FBD_EXPORT ISC_STATUS isc_attach_database(ISC_STATUS* status, short name_length, const char* name,
                                          Handle* handle, short dpb_length, const char* dpb) {
    InCall in_call;
    Stall("isc_attach_database");
    std::lock_guard lock(S().mu);
    Record({"isc_attach_database", std::string(name, static_cast<size_t>(name_length)),
            std::string(dpb, static_cast<size_t>(dpb_length)), *handle, 0});
    Outcome o = Next("isc_attach_database");
    if (o.result == 0) {
        *handle = S().next_handle++;
        S().open_handles.push_back(*handle);
    }
    return Finish(status, o);
}

namespace {
// Detach and drop: a scripted failure leaves the handle open (a drop refused while others
// hold the database), a success closes it.
ISC_STATUS CloseDatabase(const char* fn, ISC_STATUS* status, Handle* handle) {
    InCall in_call;
    Stall(fn);
    std::lock_guard lock(S().mu);
    Record({fn, {}, {}, *handle, 0});
    Outcome o = Next(fn);
    if (o.result == 0) {
        auto& open = S().open_handles;
        for (size_t i = 0; i < open.size(); ++i)
            if (open[i] == *handle) {
                open.erase(open.begin() + static_cast<long>(i));
                break;
            }
        *handle = 0;
    }
    return Finish(status, o);
}
}  // namespace

FBD_EXPORT ISC_STATUS isc_detach_database(ISC_STATUS* status, Handle* handle) {
    return CloseDatabase("isc_detach_database", status, handle);
}

FBD_EXPORT ISC_STATUS isc_drop_database(ISC_STATUS* status, Handle* handle) {
    return CloseDatabase("isc_drop_database", status, handle);
}

FBD_EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
    std::lock_guard lock(S().mu);
    Record({"isc_sqlcode", {}, {}, 0, 0});
    return status[1] ? S().last_failure.sqlcode : 0;
}

FBD_EXPORT ISC_LONG isc_interprete(char* buffer, ISC_STATUS** cursor) {
    std::lock_guard lock(S().mu);
    Record({"isc_interprete", {}, {}, 0, 0});
    auto& texts = S().last_failure.texts;
    if (!cursor || !*cursor || S().next_text >= texts.size()) return 0;
    const std::string& t = texts[S().next_text++];
    std::memcpy(buffer, t.c_str(), t.size() + 1);
    *cursor += 2;
    return static_cast<ISC_LONG>(t.size() > 0 ? t.size() : 1);
}

#ifndef FBD_V5
FBD_DUMMY(isc_rollback_retaining)
FBD_DUMMY(isc_decode_sql_date)
FBD_DUMMY(isc_decode_sql_time)
FBD_DUMMY(isc_decode_timestamp)
FBD_DUMMY(isc_encode_sql_date)
FBD_DUMMY(isc_encode_sql_time)
FBD_DUMMY(isc_encode_timestamp)

FBD_EXPORT ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short name_length,
                                         const char* name, Handle* handle,
                                         unsigned short spb_length, const char* spb) {
    InCall in_call;
    Stall("isc_service_attach");
    if (g_hook_signals.exchange(false)) {
        struct sigaction hook {};
        hook.sa_sigaction = LibrarySignalHandler;
        hook.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&hook.sa_mask);
        sigaction(SIGINT, &hook, nullptr);
        sigaction(SIGTERM, &hook, nullptr);
        g_signals_hooked = true;
    }
    std::lock_guard lock(S().mu);
    Record({"isc_service_attach", std::string(name, name_length), std::string(spb, spb_length),
            *handle, 0});
    Outcome o = Next("isc_service_attach");
    if (o.result == 0) {
        *handle = S().next_handle++;
        S().open_handles.push_back(*handle);
    }
    return Finish(status, o);
}

FBD_EXPORT ISC_STATUS isc_service_detach(ISC_STATUS* status, Handle* handle) {
    InCall in_call;
    Stall("isc_service_detach");
    std::lock_guard lock(S().mu);
    Record({"isc_service_detach", {}, {}, *handle, 0});
    auto& open = S().open_handles;
    for (size_t i = 0; i < open.size(); ++i)
        if (open[i] == *handle) {
            open.erase(open.begin() + static_cast<long>(i));
            break;
        }
    Outcome o = Next("isc_service_detach");
    *handle = 0;
    return Finish(status, o);
}

FBD_EXPORT ISC_STATUS isc_service_start(ISC_STATUS* status, Handle* handle, ISC_LONG* reserved,
                                        unsigned short length, const char* request) {
    InCall in_call;
    Stall("isc_service_start");
    std::lock_guard lock(S().mu);
    Record({"isc_service_start",
            std::string(request, length),
            {},
            *handle,
            reserved == nullptr ? 0 : 1});
    return Finish(status, Next("isc_service_start"));
}

// Answers isc_info_svc_running, isc_info_svc_line, isc_info_svc_to_eof and isc_info_svc_stdin,
// in the order asked. A scripted success carries, for the running item, the running value in
// `code`; for the line item (and the output item), one line of output in its text, or (code 1, no
// text) a wait that ran out with nothing to read. None scripted: the action has ended (running 0;
// an empty line without a flag). The stdin item answers what fbd_stdin scripted, else 0. A scripted
// failure is the action's failure.
FBD_EXPORT ISC_STATUS isc_service_query(ISC_STATUS* status, Handle* handle, ISC_LONG* reserved,
                                        unsigned short send_length, const char* send,
                                        unsigned short request_length, const char* request,
                                        unsigned short buffer_length, char* buffer) {
    InCall in_call;
    Stall("isc_service_query");
    std::lock_guard lock(S().mu);
    Record({"isc_service_query", std::string(send, send_length),
            std::string(request, request_length), *handle, reserved == nullptr ? 0 : 1});
    const Outcome refused =
        CheckSendBlock(reinterpret_cast<const unsigned char*>(send), send_length);
    if (refused.result) return Finish(status, refused);
    Outcome o = Next("isc_service_query");
    std::string answer;
    for (unsigned short i = 0; o.result == 0 && i < request_length; ++i) {
        if (request[i] == 62 || request[i] == 63) {  // a line, or raw output to its end
            const std::string line = o.texts.empty() ? std::string() : o.texts[0];
            answer += {request[i], char(line.size() & 0xFF), char(line.size() >> 8 & 0xFF)};
            answer += line;
            if (line.empty() && o.code == 1) answer += char(64);  // isc_info_svc_timeout
        } else if (request[i] == 67) {
            const auto v = static_cast<uint32_t>(o.code);
            answer += {67, char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF),
                       char(v >> 24 & 0xFF)};
        } else if (request[i] == 78) {
            uint32_t v = 0;
            if (!S().stdin_asks.empty()) {
                v = S().stdin_asks.front();
                S().stdin_asks.pop_front();
            }
            S().stdin_asked = v;
            answer += {78, char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF),
                       char(v >> 24 & 0xFF)};
        }
    }
    answer += char(1);  // isc_info_end
    if (o.result == 0 && answer.size() <= buffer_length)
        std::memcpy(buffer, answer.data(), answer.size());
    return Finish(status, o.result == 0 ? Outcome{} : o);
}
#endif
}
