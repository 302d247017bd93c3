// Intent records: how a method whose steps commit to the stores one after the
// other stays all-or-nothing when its process is killed part-way (a rollback
// journal, in small).
//
// Under the method's lock, a call writes a record of what it is about to do
// before its first change and removes it after its last. A record that a
// call finds while it holds the lock was therefore left by a call that died:
// before doing anything else the finder puts right what that call left
// (completes it with the values in the record, or undoes it), logs one line
// and removes the record. A repair that cannot find out what the dead call
// did leaves the record for the next call, as a journal stays until it has
// been played back.
//
// The records live in the component's state folder (platform::StateFolder)
// as METHOD.intent: text in UTF-8 with CR LF line ends, "[METHOD]" and then
// KEY=VALUE lines (each value escaped as support/line_fields.h says), so
// that leftovers can be listed and read. A record never holds a secret: a
// password is kept as a salted digest, which tells whether a store already
// holds it and nothing more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/frame/frame.h"
#include "platform/file_lock.h"

namespace quorvel {

class IntentRecord {
public:
    IntentRecord& Set(std::string_view key, std::u16string_view value);
    IntentRecord& Set(std::string_view key, std::int32_t value);
    // Empty when the record has no such key.
    std::u16string Text(std::string_view key) const;
    std::optional<std::int32_t> Number(std::string_view key) const;

    std::string Serialize(std::string_view method) const;
    // Nothing of a record that is not one.
    static IntentRecord Parse(std::string_view bytes);

private:
    std::vector<std::pair<std::string, std::u16string>> fields_;
};

// A salted digest of a secret, for a record; whether `secret` is the one it
// was made of.
std::u16string SecretDigest(std::u16string_view secret);
bool MatchesDigest(std::u16string_view secret, std::u16string_view digest);

// One method's lock and record on this machine.
class MethodIntent {
public:
    // `target_key`: the record's key that names what the call is about, the
    // TARGET of a repair's audit line.
    explicit MethodIntent(std::string_view method, std::string_view target_key = {});
    const std::string& target_key() const { return target_key_; }

    // A record is there. Cheap, and without the lock: it may be the record of
    // a call under way, which the lock then waits for.
    bool RecordExists() const;

    // The lock of the method, held until Unlock or the end of the call;
    // raises error 70 when it cannot be had.
    void Lock();
    void Unlock() { lock_.reset(); }
    bool locked() const { return lock_.has_value(); }

    // With the lock held: the record of a call that died.
    std::optional<IntentRecord> Leftover() const;
    // Each raises error 75 when the record cannot be written or removed.
    void Write(const IntentRecord& record) const;
    void Remove() const;

private:
    std::string method_;
    std::string target_key_;
    std::string path_;
    std::optional<platform::FileLock> lock_;
};

// Before a call does anything else: when a call that died left a record,
// takes the lock if the caller does not hold it yet and lets `repair` put
// right what that call left. `repair` returns the method's "，错误源：..."
// text saying what it did, logged after "错误号：5", its changes are written
// as the audit trail's REPAIR line, and the record is removed; or nullopt when it could not tell what the dead call had done
// (the failure pending), and then the record stays and the caller ends the
// call with frame.Finish() without its own work.
template <typename Repair>
bool RepairLeftover(CallFrame& frame, MethodIntent& intent, Repair&& repair);

// Steps of a repair whose failures belong to the call that died (it went on
// after them too): made as steps, their errors then discarded.
template <typename Work>
void DeadCallsSteps(CallFrame& frame, Work&& work) {
    std::optional<StepError> saved = frame.pending_error();
    work();
    frame.RestorePendingError(std::move(saved));
}

// The record written before the first change; false (the failure pending)
// when it could not be written, and then the call must change nothing.
bool BeginIntent(CallFrame& frame, const MethodIntent& intent, const IntentRecord& record);
// The record removed after the last change; false when it could not be
// (the failure pending: the next call will repair again, which must do no
// harm).
bool EndIntent(CallFrame& frame, const MethodIntent& intent);
// The lock taken as a step; false when it could not be (the failure pending).
bool TakeLock(CallFrame& frame, MethodIntent& intent);

// The number the repair's line carries.
inline constexpr std::int32_t kRepairedCode = 5;
void LogRepair(CallFrame& frame, std::u16string_view text);
// The changes of a repair as the audit trail's REPAIR line; one that cannot
// be written is a failed step.
void AuditRepair(CallFrame& frame, std::u16string_view target);

template <typename Repair>
bool RepairLeftover(CallFrame& frame, MethodIntent& intent, Repair&& repair) {
    if (!intent.locked() && !intent.RecordExists()) return true;
    if (!intent.locked() && !TakeLock(frame, intent)) return false;
    const std::optional<IntentRecord> left = intent.Leftover();
    if (!left) return true;
    const std::optional<std::u16string> text = repair(*left);
    if (!text) return false;
    LogRepair(frame, *text);
    AuditRepair(frame, left->Text(intent.target_key()));
    return EndIntent(frame, intent);
}

}  // namespace quorvel
