#pragma once
// Linux: POST through libcurl (Debian's libcurl4), loaded on the first request, so a program
// that never pings does not map it. TLS is always verified against the system's CA store.
#include <string>

#include "platform/HttpPost.h"

namespace qv {

class CurlHttpPost : public IHttpPost {
public:
    // library: the shared library to load (tests name one that is missing).
    explicit CurlHttpPost(std::string library = "libcurl.so.4");
    THttpResult Post(const std::string& url, const std::string& body, const THttpLimits& limits,
                     const std::atomic<bool>& stop) override;

private:
    std::string library_;
};

// The User-Agent of every request: "quorvane/<version>".
const std::string& HttpUserAgent();

}  // namespace qv
