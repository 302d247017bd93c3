// libcurl, loaded when the first request is made and set up the way every
// HTTP request of the component wants it. A call that makes no request never
// loads libcurl and the thirty libraries it stands on: they would cost a
// process that only edits a file several times the edit itself.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <type_traits>

namespace quorvel::posix {

// The few functions of libcurl the platform uses.
struct CurlLibrary {
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_perform) easy_perform;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
};

// libcurl loaded and initialised, once per process; nullptr when it cannot
// be, with the reason in `why` when given.
const CurlLibrary* Curl(std::string* why = nullptr);

struct CurlDeleter {
    void operator()(CURL* curl) const { Curl()->easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct CurlListDeleter {
    void operator()(curl_slist* list) const { Curl()->slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// A bare handle; null when libcurl cannot be loaded or makes none.
CurlHandle NewCurl(std::string* why = nullptr);

// curl_easy_setopt for a handle NewCurl made. The value must have the type
// the option takes: a long, a curl_off_t or a pointer, never an int.
template <typename T>
CURLcode CurlSet(CURL* curl, CURLoption option, T value) {
    static_assert(std::is_same_v<T, long> || std::is_same_v<T, curl_off_t> || std::is_pointer_v<T>,
                  "libcurl's options take a long, a curl_off_t or a pointer");
    return Curl()->easy_setopt(curl, option, value);
}

// A handle for one request to `url`: plain HTTP only, no proxy (whatever the
// environment says), no redirects, no signals, agent "http generic",
// connecting and done within the HTTP time-outs (15 and 60 seconds). Null when libcurl cannot
// make one.
CurlHandle NewHttpRequest(const char* url);

}  // namespace quorvel::posix
