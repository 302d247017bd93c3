// SendSmtp over libcurl.
#include "platform/smtp.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/posix/curl.h"
#include "platform/posix/http_timeouts.h"
#include "platform/posix/machine.h"

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

SmtpFailure FailureOf(CURLcode code, std::string_view reason) {
    switch (code) {
        case CURLE_OK: return SmtpFailure::kNone;
        case CURLE_URL_MALFORMAT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
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
    if (!posix::CurlGlobalInit()) return {SmtpFailure::kConnect, "the SMTP client cannot start"};
    posix::CurlHandle curl(curl_easy_init());
    if (!curl) return {SmtpFailure::kConnect, "the SMTP client cannot start"};
    posix::CurlList recipients;
    for (const std::string& to : delivery.to) {
        curl_slist* more = curl_slist_append(recipients.get(), ("<" + to + ">").c_str());
        if (more == nullptr) return {SmtpFailure::kData, "out of memory"};
        recipients.release();
        recipients.reset(more);
    }

    const posix::HttpTimeouts limits = posix::CurrentHttpTimeouts();
    const std::string url = "smtp://" + delivery.server;
    const std::string from = "<" + delivery.from + ">";
    Upload upload{delivery.message};
    char reason[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_UPLOAD, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_READFUNCTION, &OnRead) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_READDATA, &upload) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_ERRORBUFFER, reason) == CURLE_OK;
    if (!delivery.user.empty()) {
        ok = ok && curl_easy_setopt(c, CURLOPT_USERNAME, delivery.user.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_PASSWORD, delivery.password.c_str()) == CURLE_OK;
    }
    if (!ok) return {SmtpFailure::kConnect, "the SMTP client cannot start"};

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) return {};
    std::string detail = reason[0] != '\0' ? reason : curl_easy_strerror(code);
    return {FailureOf(code, detail), detail};
}

std::string MailRelay() {
    const auto configured = posix::MachineSetting("Mail", "SmtpServer");
    return configured && !configured->empty() ? *configured : std::string("127.0.0.1:25");
}

}  // namespace quorvel::platform
