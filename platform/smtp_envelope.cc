// What both SMTP clients check before they connect.
#include <string_view>

#include "platform/smtp.h"

namespace quorvel::platform {
namespace {

bool IsEnvelopeAddress(std::string_view address) {
    for (const char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '<' || c == '>') return false;
    }
    return true;
}

}  // namespace

SmtpResult CheckEnvelope(const SmtpDelivery& delivery) {
    if (!IsEnvelopeAddress(delivery.from)) return {SmtpFailure::kSender, "invalid sender address"};
    for (const std::string& to : delivery.to)
        if (!IsEnvelopeAddress(to)) return {SmtpFailure::kRecipient, "invalid recipient address"};
    return {};
}

}  // namespace quorvel::platform
