#include "platform/posix/curl.h"

#include "platform/time_limits.h"

namespace quorvel::posix {

// curl_global_init is not thread-safe on older libcurl: once per process.
bool CurlGlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

CurlHandle NewHttpRequest(const char* url) {
    if (!CurlGlobalInit()) return nullptr;
    const platform::TimeLimits limits = platform::CurrentTimeLimits();
    CurlHandle curl(curl_easy_init());
    if (!curl) return nullptr;
    CURL* c = curl.get();
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, "http generic") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count())) == CURLE_OK;
    if (!ok) return nullptr;
    return curl;
}

}  // namespace quorvel::posix
