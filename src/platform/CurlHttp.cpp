#include "platform/CurlHttp.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace qv {

namespace {

// The entries we call, resolved from the loaded library.
struct CurlApi {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    void (*easy_cleanup)(CURL*);
    const char* (*easy_strerror)(CURLcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
};

template <class Fn>
bool Bind(void* handle, const char* name, Fn& entry, std::string& error) {
    void* p = dlsym(handle, name);
    if (!p) {
        error = std::string("no ") + name + " in the library";
        return false;
    }
    std::memcpy(&entry, &p, sizeof entry);
    return true;
}

// Loads the library once per name and keeps it loaded (the TLS library under it does not take
// unloading well); nullptr and the reason when it cannot.
const CurlApi* LoadCurl(const std::string& library, std::string& error) {
    static std::mutex mutex;
    static std::map<std::string, CurlApi> loaded;
    std::lock_guard lock(mutex);
    if (auto it = loaded.find(library); it != loaded.end()) return &it->second;
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = why ? why : library + ": cannot be loaded";
        return nullptr;
    }
    CurlApi api{};
    if (!Bind(handle, "curl_global_init", api.global_init, error) ||
        !Bind(handle, "curl_easy_init", api.easy_init, error) ||
        !Bind(handle, "curl_easy_setopt", api.easy_setopt, error) ||
        !Bind(handle, "curl_easy_perform", api.easy_perform, error) ||
        !Bind(handle, "curl_easy_getinfo", api.easy_getinfo, error) ||
        !Bind(handle, "curl_easy_cleanup", api.easy_cleanup, error) ||
        !Bind(handle, "curl_easy_strerror", api.easy_strerror, error) ||
        !Bind(handle, "curl_slist_append", api.slist_append, error) ||
        !Bind(handle, "curl_slist_free_all", api.slist_free_all, error)) {
        dlclose(handle);
        return nullptr;
    }
    // Not safe to call while another thread uses the library: under the lock, before any use.
    if (CURLcode rc = api.global_init(CURL_GLOBAL_DEFAULT); rc != CURLE_OK) {
        error = api.easy_strerror(rc);
        dlclose(handle);
        return nullptr;
    }
    return &loaded.emplace(library, api).first->second;
}

size_t DiscardAnswer(char*, size_t size, size_t count, void*) {
    return size * count;
}

int CheckStop(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

}  // namespace

const std::string& HttpUserAgent() {
    static const std::string agent = std::string("quorvane/") + QUORVANE_VERSION;
    return agent;
}

CurlHttpPost::CurlHttpPost(std::string library) : library_(std::move(library)) {}

THttpResult CurlHttpPost::Post(const std::string& url, const std::string& body,
                               const THttpLimits& limits, const std::atomic<bool>& stop) {
    THttpResult result;
    const CurlApi* api = LoadCurl(library_, result.error);
    if (!api) return result;
    std::unique_ptr<CURL, void (*)(CURL*)> curl(api->easy_init(), api->easy_cleanup);
    if (!curl) {
        result.error = "curl_easy_init failed";
        return result;
    }
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(nullptr, api->slist_free_all);
    for (const char* header : {"Content-Type: text/plain; charset=utf-8", "Expect:"}) {
        curl_slist* more = api->slist_append(headers.get(), header);
        if (!more) {
            result.error = "out of memory";
            return result;
        }
        headers.release();
        headers.reset(more);
    }
    char error_text[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    auto set = api->easy_setopt;
    set(c, CURLOPT_URL, url.c_str());
    set(c, CURLOPT_POST, 1L);
    set(c, CURLOPT_POSTFIELDS, body.data());
    set(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    set(c, CURLOPT_HTTPHEADER, headers.get());
    set(c, CURLOPT_USERAGENT, HttpUserAgent().c_str());
    // Only the web, also where a redirect leads; the POST stays a POST on a 301 and a 302.
    set(c, CURLOPT_PROTOCOLS_STR, "http,https");
    set(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(c, CURLOPT_FOLLOWLOCATION, 1L);
    set(c, CURLOPT_MAXREDIRS, 3L);
    set(c, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    // The system's CA store (the library's default), and never without it.
    set(c, CURLOPT_SSL_VERIFYPEER, 1L);
    set(c, CURLOPT_SSL_VERIFYHOST, 2L);
    // A worker thread: no signals for the resolver's time-out.
    set(c, CURLOPT_NOSIGNAL, 1L);
    set(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect_ms));
    set(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_ms));
    set(c, CURLOPT_NOPROGRESS, 0L);
    set(c, CURLOPT_XFERINFOFUNCTION, &CheckStop);
    set(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&stop));
    set(c, CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    set(c, CURLOPT_ERRORBUFFER, error_text);

    const CURLcode rc = api->easy_perform(c);
    if (rc != CURLE_OK) {
        result.error = rc == CURLE_ABORTED_BY_CALLBACK ? std::string("stopped")
                       : error_text[0]                 ? std::string(error_text)
                                                       : std::string(api->easy_strerror(rc));
        return result;
    }
    api->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
    result.ok = result.status >= 200 && result.status < 300;
    if (!result.ok) result.error = "HTTP " + std::to_string(result.status);
    return result;
}

}  // namespace qv
