#include "platform/posix/curl.h"

#include "platform/posix/runtime/shared_library.h"
#include "platform/time_limits.h"

namespace quorvel::posix {
namespace {

// Never unloaded: libcurl keeps global state once initialised.
ResidentFunctions<CurlLibrary> Load() {
    ResidentLibrary curl(QUORVEL_CURL_LIBRARY);
    ResidentFunctions<CurlLibrary> loaded;
    CurlLibrary& l = loaded.functions;
    const bool resolved =
        curl.Take("curl_global_init", l.global_init) && curl.Take("curl_easy_init", l.easy_init) &&
        curl.Take("curl_easy_setopt", l.easy_setopt) && curl.Take("curl_easy_perform", l.easy_perform) &&
        curl.Take("curl_easy_getinfo", l.easy_getinfo) && curl.Take("curl_easy_cleanup", l.easy_cleanup) &&
        curl.Take("curl_easy_strerror", l.easy_strerror) && curl.Take("curl_slist_append", l.slist_append) &&
        curl.Take("curl_slist_free_all", l.slist_free_all);
    loaded.why = curl.why();
    if (!resolved) return loaded;
    // Once per process: curl_global_init is not thread-safe on older libcurl.
    if (l.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        loaded.why = "libcurl failed to initialise";
        return loaded;
    }
    loaded.ok = true;
    return loaded;
}

}  // namespace

const CurlLibrary* Curl(std::string* why) {
    static const ResidentFunctions<CurlLibrary> loaded = Load();
    return loaded.Get(why);
}

CurlHandle NewCurl(std::string* why) {
    const CurlLibrary* curl = Curl(why);
    if (curl == nullptr) return nullptr;
    CurlHandle handle(curl->easy_init());
    if (!handle && why != nullptr) *why = "libcurl made no handle";
    return handle;
}

CurlHandle NewHttpRequest(const char* url) {
    CurlHandle curl = NewCurl();
    if (!curl) return nullptr;
    const platform::TimeLimits limits = platform::CurrentTimeLimits();
    CURL* c = curl.get();
    bool ok = CurlSet(c, CURLOPT_URL, url) == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_USERAGENT, "http generic") == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count())) == CURLE_OK;
    ok = ok && CurlSet(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count())) == CURLE_OK;
    if (!ok) return nullptr;
    return curl;
}

}  // namespace quorvel::posix
