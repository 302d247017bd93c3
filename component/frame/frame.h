// The call frame every logging method runs in: the error log opened around the
// work, the result code, the pending error and the two error modes, and the
// call's audit trail (component/frame/audit.h), written when the call ends.
//
//   CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
//   return frame.Run([&] {
//       if (missing) return frame.Detected(3, kNoSuchUser);   // logged, returned at once
//       frame.Step([&] { WriteIniValue(...); });             // a failure becomes the pending error
//       return frame.Finish();                               // pending error -> 4, one line
//   });
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "automation/step_error.h"
#include "component/frame/audit.h"

namespace quorvel {

enum class ErrorMode {
    // A failing step is skipped and the next one runs; the last failure is
    // reported at the end.
    ContinueOnError,
    // The first failing step ends the work.
    SingleHandler,
};

// Result codes common to the methods.
enum ResultCode : std::int32_t {
    kDone = 0,
    kPreconditionFailed = 1,
    kAlreadyExists = 2,
    kDoesNotExist = 3,
    kStepFailed = 4,
};

// A method called by another one writes into its caller's open log instead
// of opening one; called directly, it has no log and its lines are lost.
enum class LogUse { kOwn, kCallers };

class CallFrame {
public:
    // Takes the lowest free file number into LogFileNumber and opens the log
    // for appending; a log that cannot be opened is a failed step.
    CallFrame(std::u16string_view method, ErrorMode mode, LogUse log = LogUse::kOwn);
    ~CallFrame();
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;

    // Runs the method's work and returns its result code; nothing escapes.
    template <typename Work>
    std::int32_t Run(Work&& work) noexcept {
        try {
            if (stopped_) return Handler();
            return work();
        } catch (const Stop&) {
            return Handler();
        } catch (const StepError& error) {
            Fail(error, false);
        } catch (const std::bad_alloc&) {
            Fail(RuntimeStepError(kOutOfMemory), false);
        } catch (...) {
            Fail(RuntimeStepError(kInternalError), false);
        }
        return mode_ == ErrorMode::SingleHandler ? Handler() : Finish();
    }

    // One step of the work.
    template <typename Action>
    void Step(Action&& action) {
        try {
            action();
        } catch (const StepError& error) {
            StepDone();
            Fail(error, true);
            return;
        } catch (const std::bad_alloc&) {
            StepDone();
            Fail(RuntimeStepError(kOutOfMemory), true);
            return;
        }
        StepDone();
    }

    // One step, then `after`, which belongs to it (an intent record moved on
    // to the next phase), whether the step failed or not; a failure of
    // `after` is the step's.
    template <typename Action, typename After>
    void Step(Action&& action, After&& after) {
        Step([&] {
            try {
                action();
            } catch (...) {
                after();
                throw;
            }
            after();
        });
    }

    // How many steps of this call have failed so far (the log that could not
    // be opened included): a piece of work failed when it raised the count.
    int failures() const { return failures_; }

    // A named clear point: the pending error is discarded.
    void ClearError() { pending_.reset(); }
    // The pending error put back as it was (after steps whose failures are
    // not this call's to report).
    void RestorePendingError(std::optional<StepError> saved) { pending_ = std::move(saved); }
    bool has_pending_error() const { return pending_.has_value(); }
    const std::optional<StepError>& pending_error() const { return pending_; }

    // A failure the method detected itself: one log line, "错误号：" code and
    // `text`, then the log is closed and the code is returned.
    std::int32_t Detected(std::int32_t code, std::u16string_view text);
    // The same from the failure's parts: "错误号：" code "，错误源：" source
    // "，错误描述：" description (the source as the method gives it, its
    // trailing blank included: u"Web站点 ").
    std::int32_t Detected(std::int32_t code, std::u16string_view source, std::u16string_view description);

    // The end of the work: a pending error makes the result 4 with one line.
    std::int32_t Finish();

    // Writes one line with the method's label; a write that fails is a failed step.
    void Log(std::u16string_view text);

    // The call's audit trail: what it is about, and the changes it made
    // (those of its profile calls and object calls are added by themselves).
    // A frame of a method called by another shares its caller's. Written when
    // the call ends (Finish, Detected); a line that cannot be written makes
    // the result 4, with a log line.
    AuditTrail& Audit() { return *audit_; }

private:
    struct Stop {};

    void Fail(const StepError& error, bool from_step);
    // The test hook (frame.cc): counts a finished step.
    static void StepDone() noexcept;
    std::int32_t Handler();
    void WriteLine(std::u16string_view text) noexcept;
    void CloseLog() noexcept;
    // The end of the call with `result`: the audit line, then the log closed.
    std::int32_t Close(std::int32_t result) noexcept;

    std::u16string label_;
    ErrorMode mode_;
    std::int32_t saved_log_number_;
    std::int32_t log_number_ = 0;
    bool log_open_ = false;
    std::optional<StepError> pending_;
    int failures_ = 0;
    bool stopped_ = false;
    std::optional<AuditTrail> own_audit_;
    AuditTrail* audit_ = nullptr;
};

// "错误号：" number "，错误源：" source "，错误描述：" description.
std::u16string ErrorText(std::int32_t number, std::u16string_view source, std::u16string_view description);
std::u16string RuntimeErrorText(const StepError& error);

}  // namespace quorvel
