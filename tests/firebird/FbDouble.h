#pragma once
// Test-side handle on the client-library double that the program loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fbdouble/FbDoubleControl.h"

namespace qv::test {

class FbDouble {
public:
    // path: the double's file, as the program's loader found it.
    explicit FbDouble(const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle_) return;
        reset_ = reinterpret_cast<fbd_reset_fn>(dlsym(handle_, "fbd_reset"));
        script_ = reinterpret_cast<fbd_script_fn>(dlsym(handle_, "fbd_script"));
        count_ = reinterpret_cast<fbd_call_count_fn>(dlsym(handle_, "fbd_call_count"));
        call_ = reinterpret_cast<fbd_call_fn>(dlsym(handle_, "fbd_call"));
        open_ = reinterpret_cast<fbd_open_handles_fn>(dlsym(handle_, "fbd_open_handles"));
        stall_ = reinterpret_cast<fbd_stall_fn>(dlsym(handle_, "fbd_stall"));
        hook_ = reinterpret_cast<fbd_hook_signals_on_attach_fn>(
            dlsym(handle_, "fbd_hook_signals_on_attach"));
        hooked_ = reinterpret_cast<fbd_signals_hooked_fn>(dlsym(handle_, "fbd_signals_hooked"));
        stdin_ = reinterpret_cast<fbd_stdin_fn>(dlsym(handle_, "fbd_stdin"));
        in_progress_ =
            reinterpret_cast<fbd_calls_in_progress_fn>(dlsym(handle_, "fbd_calls_in_progress"));
    }
    ~FbDouble() {
        if (handle_) dlclose(handle_);
    }
    bool ok() const {
        return handle_ && reset_ && script_ && count_ && call_ && open_ && stall_ && hook_ &&
               hooked_ && stdin_ && in_progress_;
    }

    void Reset() { reset_(); }
    // The next call of fn fails with this code, SQL code and status texts.
    void Fail(const char* fn, intptr_t code, int32_t sqlcode, std::vector<std::string> texts) {
        std::vector<const char*> p;
        for (auto& t : texts) p.push_back(t.c_str());
        script_(fn, 1, code, sqlcode, p.data(), static_cast<int>(p.size()));
    }
    // The next `times` queries answer that the action still runs (a line query: that its wait
    // ran out with no output).
    void Running(int times) {
        for (int i = 0; i < times; ++i) script_("isc_service_query", 0, 1, 0, nullptr, 0);
    }
    // The next line query answers with this line of output.
    void Output(const std::string& line) {
        const char* text = line.c_str();
        script_("isc_service_query", 0, 0, 0, &text, 1);
    }
    // The next query that asks isc_info_svc_stdin answers that the restore takes this many
    // bytes now (none scripted: 0).
    void Stdin(uint32_t bytes) { stdin_(bytes); }
    // The next call of fn answers ms late.
    void Stall(const char* fn, int ms) { stall_(fn, ms); }
    // The next attach hooks SIGINT and SIGTERM, as the real library's first attachment does.
    void HookSignalsOnAttach() { hook_(); }
    bool SignalsHooked() const { return hooked_() != 0; }
    // Services calls only (the status-text calls are left out).
    std::vector<FbdCall> ServiceCalls() const { return Calls(false); }
    std::vector<std::string> Names() const { return NamesOf(ServiceCalls()); }
    // Services and database calls, in order.
    std::vector<FbdCall> ClientCalls() const { return Calls(true); }
    std::vector<std::string> ClientNames() const { return NamesOf(ClientCalls()); }
    int OpenHandles() const { return open_(); }
    // Waits up to timeout_ms until no call is inside the double (a call the program abandoned
    // at its bound returns only when its stall ends, and would take the next test's scripted
    // answers); true when none is.
    bool AllCallsReturned(int timeout_ms) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (in_progress_() > 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return in_progress_() == 0;
    }

private:
    std::vector<FbdCall> Calls(bool with_database) const {
        std::vector<FbdCall> out;
        for (int i = 0; i < count_(); ++i) {
            const std::string& name = call_(i)->name;
            const bool database = name.size() > 9 && name.rfind("_database") == name.size() - 9;
            if (name.rfind("isc_service_", 0) == 0 || (with_database && database))
                out.push_back(*call_(i));
        }
        return out;
    }
    static std::vector<std::string> NamesOf(const std::vector<FbdCall>& calls) {
        std::vector<std::string> out;
        for (auto& c : calls) out.push_back(c.name);
        return out;
    }

    void* handle_ = nullptr;
    fbd_reset_fn reset_ = nullptr;
    fbd_script_fn script_ = nullptr;
    fbd_call_count_fn count_ = nullptr;
    fbd_call_fn call_ = nullptr;
    fbd_open_handles_fn open_ = nullptr;
    fbd_stall_fn stall_ = nullptr;
    fbd_hook_signals_on_attach_fn hook_ = nullptr;
    fbd_signals_hooked_fn hooked_ = nullptr;
    fbd_stdin_fn stdin_ = nullptr;
    fbd_calls_in_progress_fn in_progress_ = nullptr;
};

// Bytes written as a readable list, for comparisons that show where they differ.
inline std::vector<int> Bytes(const std::string& s) {
    return std::vector<int>(reinterpret_cast<const unsigned char*>(s.data()),
                            reinterpret_cast<const unsigned char*>(s.data()) + s.size());
}
inline std::vector<int> Cat(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace qv::test
