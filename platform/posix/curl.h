// libcurl, set up the way every HTTP request of the component wants it.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace quorvel::posix {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// curl_global_init, once per process; false when it failed.
bool CurlGlobalInit();

// A handle for one request to `url`: plain HTTP only, no proxy (whatever the
// environment says), no redirects, no signals, agent "http generic",
// connecting and done within the HTTP time-outs (15 and 60 seconds). Null when libcurl cannot
// make one.
CurlHandle NewHttpRequest(const char* url);

}  // namespace quorvel::posix
