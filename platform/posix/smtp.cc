// SendSmtp over libcurl.
#include "platform/smtp.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

#include "platform/posix/curl.h"
#include "platform/posix/machine.h"
#include "platform/time_limits.h"

namespace quorvel::platform {
namespace {

struct Upload {
    std::string_view rest;
};

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    const size_t n = std::min(size * count, upload->rest.size());
    std::memcpy(buffer, upload->rest.data(), n);
    upload->rest.remove_prefix(n);
    return n;
}

using Clock = std::chrono::steady_clock;

// libcurl's own time-out covers the dialogue up to the answer to the final
// dot, but the QUIT that follows (after a time-out too) waits for its answer
// up to two minutes more. libcurl calls this at least once a second while it
// waits, so it ends that wait at the deadline.
int StopAtDeadline(void* deadline, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Clock::now() >= *static_cast<const Clock::time_point*>(deadline) ? 1 : 0;
}

// "host[:port]", also "[v6]:port"; anything else would change the URL's meaning.
bool IsServerAddress(std::string_view server) {
    if (server.empty()) return false;
    return std::all_of(server.begin(), server.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view(".-_:[]").find(c) != std::string_view::npos;
    });
}

SmtpFailure FailureOf(CURLcode code, std::string_view reason) {
    switch (code) {
        case CURLE_OK: return SmtpFailure::kNone;
        case CURLE_URL_MALFORMAT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_ABORTED_BY_CALLBACK:  // the deadline
        case CURLE_WEIRD_SERVER_REPLY:
            return SmtpFailure::kConnect;
        case CURLE_LOGIN_DENIED: return SmtpFailure::kLogon;
        default: break;
    }
    if (reason.starts_with("MAIL")) return SmtpFailure::kSender;
    if (reason.starts_with("RCPT")) return SmtpFailure::kRecipient;
    return SmtpFailure::kData;
}

}  // namespace

SmtpResult SendSmtp(const SmtpDelivery& delivery) {
    if (SmtpResult refused = CheckEnvelope(delivery); refused.failure != SmtpFailure::kNone) return refused;
    if (delivery.server.empty()) return {SmtpFailure::kConnect, "no server address"};
    if (!IsServerAddress(delivery.server)) return {SmtpFailure::kConnect, "not a server address: " + delivery.server};
    std::string why;
    posix::CurlHandle curl = posix::NewCurl(&why);
    if (!curl) return {SmtpFailure::kConnect, "the SMTP client cannot start: " + why};
    const posix::CurlLibrary& lib = *posix::Curl();
    posix::CurlList recipients;
    for (const std::string& to : delivery.to) {
        curl_slist* more = lib.slist_append(recipients.get(), ("<" + to + ">").c_str());
        if (more == nullptr) return {SmtpFailure::kData, "out of memory"};
        recipients.release();
        recipients.reset(more);
    }

    // One bound on the whole dialogue: libcurl's time-out ends a little short
    // of it, so that the last wait for QUIT's answer (a second at most before
    // the callback is called) still ends within it.
    const TimeLimits limits = CurrentTimeLimits();
    const auto grace = std::min<std::chrono::milliseconds>(std::chrono::seconds(1), limits.total / 4);
    const auto budget = limits.total - grace;
    const Clock::time_point deadline = Clock::now() + budget;
    // The URL's path is the name EHLO gives: the same in both builds, never
    // the machine's own name.
    const std::string url = "smtp://" + delivery.server + "/localhost";
    const std::string from = "<" + delivery.from + ">";
    Upload upload{delivery.message};
    char reason[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    bool ok = posix::CurlSet(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_PROTOCOLS_STR, "smtp") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_CONNECTTIMEOUT_MS,
                                static_cast<long>(std::min(limits.connect, budget).count())) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_TIMEOUT_MS, static_cast<long>(budget.count())) == CURLE_OK;
    // A connection kept for reuse would say QUIT when the handle is freed,
    // where nothing bounds the wait: it is closed at the end of the transfer.
    ok = ok && posix::CurlSet(c, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_XFERINFOFUNCTION, &StopAtDeadline) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_XFERINFODATA, &deadline) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_MAIL_FROM, from.c_str()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_MAIL_RCPT, recipients.get()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_UPLOAD, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_READFUNCTION, &OnRead) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_READDATA, &upload) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_ERRORBUFFER, reason) == CURLE_OK;
    if (!delivery.user.empty()) {
        ok = ok && posix::CurlSet(c, CURLOPT_USERNAME, delivery.user.c_str()) == CURLE_OK;
        ok = ok && posix::CurlSet(c, CURLOPT_PASSWORD, delivery.password.c_str()) == CURLE_OK;
    }
    if (!ok) return {SmtpFailure::kConnect, "the SMTP client cannot start"};

    const CURLcode code = lib.easy_perform(c);
    if (code == CURLE_OK) return {};
    std::string detail = code == CURLE_ABORTED_BY_CALLBACK ? "the server did not answer in time"
                         : reason[0] != '\0'               ? reason
                                                           : lib.easy_strerror(code);
    return {FailureOf(code, detail), detail};
}

std::string MailRelay() {
    const auto configured = posix::MachineSetting("Mail", "SmtpServer");
    return configured && !configured->empty() ? *configured : std::string("127.0.0.1:25");
}

}  // namespace quorvel::platform
