#include "component/frame/frame.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "component/frame/error_log.h"
#include "component/frame/log_writer.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "support/strings.h"

namespace quorvel {
std::u16string ErrorText(std::int32_t number, std::u16string_view source, std::u16string_view description) {
    return u"错误号：" + Decimal(number) + u"，错误源：" + std::u16string(source) + u"，错误描述：" +
           std::u16string(description);
}

std::u16string RuntimeErrorText(const StepError& error) {
    return ErrorText(error.number, error.source, error.description);
}

CallFrame::CallFrame(std::u16string_view method, ErrorMode mode, LogUse log)
    : label_(std::u16string(method) + u"函数"), mode_(mode), saved_log_number_(LogFileNumber) {
    audit_ = AuditTrail::Current();
    if (audit_ == nullptr) {
        own_audit_.emplace(method);
        audit_ = &*own_audit_;
        AuditTrail::MakeCurrent(audit_);
    }
    if (log == LogUse::kCallers) return;
    // Registrations changed by hand since the last call are seen by this one.
    platform::CheckClassesRootAgain();
    try {
        log_number_ = files::FreeFile();
        LogFileNumber = log_number_;
        files::OpenForAppend(log_number_, ErrorLogPath());
        log_open_ = true;
    } catch (const StepError& error) {
        Fail(error, false);
    } catch (...) {
        Fail(RuntimeStepError(kOutOfMemory), false);
    }
}

CallFrame::~CallFrame() {
    CloseLog();
    LogFileNumber = saved_log_number_;
    if (own_audit_) AuditTrail::MakeCurrent(nullptr);
}

// A test hook: with QUORVEL_TEST_CRASH_AFTER_STEP=N in its environment the
// process ends abruptly, as kill -9 would end it, right after the N-th step
// of any call in it has finished, so that tests can interrupt a method at
// each of its step boundaries. The variable is read once; unset, a step
// costs one comparison more.
void CallFrame::StepDone() noexcept {
    static const long crash_after = [] {
        const auto value = platform::EnvironmentVariable("QUORVEL_TEST_CRASH_AFTER_STEP");
        return value ? std::strtol(value->c_str(), nullptr, 10) : 0L;
    }();
    if (crash_after <= 0) return;
    static std::atomic<long> finished{0};
    if (finished.fetch_add(1) + 1 == crash_after) platform::TerminateAbruptly();
}

void CallFrame::Fail(const StepError& error, bool from_step) {
    ++failures_;
    pending_ = error;
    if (mode_ == ErrorMode::SingleHandler) {
        stopped_ = true;
        if (from_step) throw Stop{};
    }
}

void CallFrame::Log(std::u16string_view text) { WriteErrorLog(label_, text); }

void CallFrame::WriteLine(std::u16string_view text) noexcept {
    // The line of a failure that is being reported cannot itself be reported:
    // when the log is not open it is lost.
    try {
        Log(text);
    } catch (...) {
    }
}

void CallFrame::CloseLog() noexcept {
    if (log_open_) {
        files::Close(log_number_);
        log_open_ = false;
    }
}

std::int32_t CallFrame::Close(std::int32_t result) noexcept {
    if (own_audit_) {
        bool written = false;
        try {
            written = own_audit_->Write(result);
        } catch (...) {
        }
        if (!written) {
            WriteLine(RuntimeErrorText(RuntimeStepError(kPathFileAccess)));
            result = kStepFailed;
        }
    }
    CloseLog();
    return result;
}

std::int32_t CallFrame::Detected(std::int32_t code, std::u16string_view text) {
    WriteLine(u"错误号：" + Decimal(code) + std::u16string(text));
    return Close(code);
}

std::int32_t CallFrame::Detected(std::int32_t code, std::u16string_view source, std::u16string_view description) {
    WriteLine(ErrorText(code, source, description));
    return Close(code);
}

std::int32_t CallFrame::Finish() {
    std::int32_t result = kDone;
    if (pending_) {
        result = kStepFailed;
        WriteLine(RuntimeErrorText(*pending_));
    }
    return Close(result);
}

std::int32_t CallFrame::Handler() {
    if (pending_) WriteLine(RuntimeErrorText(*pending_));
    return Close(kStepFailed);
}

}  // namespace quorvel
