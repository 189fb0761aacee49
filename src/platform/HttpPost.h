#pragma once
// Sending a short text to a web address (a monitoring service's ping): one POST, bounded in time.
#include <atomic>
#include <string>

namespace qv {

struct THttpLimits {
    int connect_ms = 10000;  // to have the connection (and TLS) set up
    int total_ms = 10000;    // for the whole request, the connection included
};

struct THttpResult {
    bool ok = false;    // the server answered with a 2xx status
    long status = 0;    // the HTTP status; 0 when no answer came
    std::string error;  // why it was not ok ("HTTP 500", or the transfer's own text)
};

class IHttpPost {
public:
    virtual ~IHttpPost() = default;
    // POSTs body (UTF-8 text) to url (http or https) and waits for the answer, within limits.
    // Ends early, not ok, soon after stop turns true (another thread sets it).
    virtual THttpResult Post(const std::string& url, const std::string& body,
                             const THttpLimits& limits, const std::atomic<bool>& stop) = 0;
};

}  // namespace qv
