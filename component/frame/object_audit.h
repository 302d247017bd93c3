// What a call does to directory objects, as the audit trail records it. The
// provider keeps property writes on the object until its SetInfo commits
// them, so a write is kept per object, with the value the object held before
// it (read first; none for an object the call created), and becomes a change
// at the SetInfo that commits it. A Create and a Delete are changes at once,
// and so is any other method but those that only read (Get, GetObject,
// GetInfo, IsMember, EnumBackups...): Start(), Add(), SetPassword()...
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/objects.h"
#include "component/frame/audit.h"

namespace quorvel {

class ObjectAudit : public automation::ObjectWatcher {
public:
    explicit ObjectAudit(AuditTrail& trail) : trail_(trail) {}
    AuditTrail& trail() { return trail_; }

    void Before(const automation::Object& object, std::u16string_view member, bool put,
                const std::vector<automation::Variant>& args) override;
    void After(const automation::Object& object, std::u16string_view member, bool put,
               const std::vector<automation::Variant>& args, const automation::Value& result) override;

private:
    struct Write {
        std::u16string property;
        AuditValue before;
        AuditValue after;
    };
    struct Known {
        automation::Object object;  // held, so that its address names it for the whole call
        std::u16string path;
        bool created = false;
        std::vector<Write> pending;
    };

    Known& Find(const automation::Object& object);
    // The property a member writes: the member itself, or the first argument
    // of a Put method; nothing for other members.
    static std::optional<std::u16string> Written(std::u16string_view member, bool put,
                                                 const std::vector<automation::Variant>& args);

    AuditTrail& trail_;
    std::vector<Known> known_;
    AuditValue before_;  // what the property in the middle of its write held
};

// A value as the trail shows it: a list as a list, a Boolean as True or False,
// anything else as its text; empty or null as absent.
AuditValue AuditValueOf(const automation::Variant& value);

}  // namespace quorvel
