#include "component/frame/intent.h"

#include <charconv>
#include <random>

#include "platform/files.h"
#include "platform/system.h"
#include "platform/utf8.h"
#include "support/line_fields.h"
#include "support/md5.h"

namespace quorvel {
namespace {

std::string HexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::string Digest(std::string_view salt, std::u16string_view secret) {
    return Md5HexOfBytes(std::string(salt) + platform::ToUtf8(secret));
}

}  // namespace

IntentRecord& IntentRecord::Set(std::string_view key, std::u16string_view value) {
    for (auto& [name, text] : fields_) {
        if (name == key) {
            text = value;
            return *this;
        }
    }
    fields_.emplace_back(std::string(key), std::u16string(value));
    return *this;
}

IntentRecord& IntentRecord::Set(std::string_view key, std::int32_t value) {
    return Set(key, platform::FromUtf8(std::to_string(value)));
}

std::u16string IntentRecord::Text(std::string_view key) const {
    for (const auto& [name, text] : fields_)
        if (name == key) return text;
    return {};
}

std::optional<std::int32_t> IntentRecord::Number(std::string_view key) const {
    const std::string text = platform::ToUtf8(Text(key));
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string IntentRecord::Serialize(std::string_view method) const {
    std::string out = "[";
    out.append(method).append("]\r\n");
    for (const auto& [name, text] : fields_)
        out += name + "=" + platform::EscapeLineField(platform::ToUtf8(text)) + "\r\n";
    return out;
}

IntentRecord IntentRecord::Parse(std::string_view bytes) {
    IntentRecord record;
    bool header = false;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!header) {
            if (line.size() < 2 || line.front() != '[' || line.back() != ']') return {};
            header = true;
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) return {};
        record.fields_.emplace_back(std::string(line.substr(0, equals)),
                                    platform::FromUtf8(platform::UnescapeLineField(line.substr(equals + 1))));
    }
    return record;
}

std::u16string SecretDigest(std::u16string_view secret) {
    std::random_device random;
    std::string salt;
    for (int i = 0; i < 8; ++i) salt += static_cast<char>(random() & 0xFF);
    salt = HexOf(salt);
    return platform::FromUtf8(salt + ":" + Digest(salt, secret));
}

bool MatchesDigest(std::u16string_view secret, std::u16string_view digest) {
    const std::string text = platform::ToUtf8(digest);
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return Digest(std::string_view(text).substr(0, colon), secret) == std::string_view(text).substr(colon + 1);
}

MethodIntent::MethodIntent(std::string_view method, std::string_view target_key)
    : method_(method), target_key_(target_key) {
    const std::string folder = platform::StateFolder();
    if (!folder.empty()) path_ = folder + "\\" + method_ + ".intent";
}

bool MethodIntent::RecordExists() const { return !path_.empty() && platform::FileExists(path_); }

void MethodIntent::Lock() {
    if (path_.empty()) Raise(kPermissionDenied);
    lock_.emplace(path_.substr(0, path_.size() - std::string_view(".intent").size()));
    if (!lock_->held()) {
        lock_.reset();
        Raise(kPermissionDenied);
    }
}

std::optional<IntentRecord> MethodIntent::Leftover() const {
    if (path_.empty()) return std::nullopt;
    const auto bytes = platform::ReadFileBytes(path_);
    if (!bytes) return std::nullopt;
    return IntentRecord::Parse(*bytes);
}

void MethodIntent::Write(const IntentRecord& record) const {
    if (path_.empty() || !platform::ReplaceFileBytes(path_, record.Serialize(method_))) Raise(kPathFileAccess);
}

void MethodIntent::Remove() const {
    if (path_.empty()) Raise(kPathFileAccess);
    const platform::FileStatus status = platform::DeleteFileForced(path_);
    if (status != platform::FileStatus::kDone && status != platform::FileStatus::kFileNotFound) Raise(kPathFileAccess);
}

bool BeginIntent(CallFrame& frame, const MethodIntent& intent, const IntentRecord& record) {
    const int failures = frame.failures();
    frame.Step([&] { intent.Write(record); });
    return frame.failures() == failures;
}

bool EndIntent(CallFrame& frame, const MethodIntent& intent) {
    const int failures = frame.failures();
    frame.Step([&] { intent.Remove(); });
    return frame.failures() == failures;
}

bool TakeLock(CallFrame& frame, MethodIntent& intent) {
    const int failures = frame.failures();
    frame.Step([&] { intent.Lock(); });
    return frame.failures() == failures;
}

void LogRepair(CallFrame& frame, std::u16string_view text) {
    // Without an open log the line is lost; the repair stands.
    try {
        frame.Log(u"错误号：" + platform::FromUtf8(std::to_string(kRepairedCode)) + std::u16string(text));
    } catch (const StepError&) {
    }
}

void AuditRepair(CallFrame& frame, std::u16string_view target) {
    if (!frame.Audit().WriteRepair(target)) frame.Step([] { Raise(kPathFileAccess); });
}

}  // namespace quorvel
