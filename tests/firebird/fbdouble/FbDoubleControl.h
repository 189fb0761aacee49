#pragma once
// The test double's control interface, shared by the double and the tests.
#include <cstdint>
#include <string>

#define FBD_EXPORT __attribute__((visibility("default")))

struct FbdCall {
    std::string name;
    std::string data;  // service name (attach), request bytes (start), send items (query)
    std::string spb;   // attach parameter block, or the query's receive items
    unsigned int handle_in = 0;
    int reserved_not_null = 0;
};

extern "C" {
typedef void (*fbd_reset_fn)(void);
typedef void (*fbd_script_fn)(const char* fn, intptr_t result, intptr_t code, int32_t sqlcode,
                              const char* const* texts, int ntexts);
typedef int (*fbd_call_count_fn)(void);
typedef const FbdCall* (*fbd_call_fn)(int i);
typedef int (*fbd_open_handles_fn)(void);
typedef void (*fbd_stall_fn)(const char* fn, int ms);
typedef void (*fbd_start_own_thread_fn)(void);
typedef void (*fbd_hook_signals_on_attach_fn)(void);
typedef void (*fbd_stdin_fn)(uint32_t bytes);
typedef int (*fbd_signals_hooked_fn)(void);
typedef int (*fbd_calls_in_progress_fn)(void);
}
