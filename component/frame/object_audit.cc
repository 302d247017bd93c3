#include "component/frame/object_audit.h"

#include <initializer_list>

#include "base/ascii.h"

namespace quorvel {
namespace {

using automation::Object;
using automation::Variant;

// Without a copy: every call a method makes through an object is asked this.
bool Is(std::u16string_view member, std::u16string_view name) {
    if (member.size() != name.size()) return false;
    for (size_t i = 0; i < member.size(); ++i)
        if (base::ToUpperAscii(member[i]) != base::ToUpperAscii(name[i])) return false;
    return true;
}

// The methods that change nothing.
bool OnlyReads(std::u16string_view member) {
    for (const char16_t* name : {u"Get", u"GetEx", u"GetObject", u"GetInfo", u"GetInfoEx", u"IsMember",
                                 u"EnumBackups", u"Members", u"Groups"})
        if (Is(member, name)) return true;
    return false;
}

// A method's arguments, as a list.
AuditValue Arguments(const std::vector<Variant>& args) {
    std::vector<std::u16string> items;
    for (const Variant& arg : args) items.push_back(arg.Display());
    return AuditValue::List(std::move(items));
}

}  // namespace

AuditValue AuditValueOf(const Variant& value) {
    const VARTYPE vt = value.vt() & static_cast<VARTYPE>(~VT_BYREF);
    if (vt == VT_EMPTY || vt == VT_NULL) return {};
    if ((vt & VT_ARRAY) != 0) return AuditValue::List(value.TextList());
    if (vt == VT_BOOL) return AuditValue(value.Bool() ? u"True" : u"False");
    return AuditValue(value.Text());
}

ObjectAudit::Known& ObjectAudit::Find(const Object& object) {
    for (Known& known : known_)
        if (known.object.get() == object.get()) return known;
    Known known;
    known.object = object;
    try {
        known.path = object.Get(u"ADsPath").Text();
    } catch (const StepError&) {
    }
    known_.push_back(std::move(known));
    return known_.back();
}

std::optional<std::u16string> ObjectAudit::Written(std::u16string_view member, bool put,
                                                   const std::vector<Variant>& args) {
    if (put) return std::u16string(member);
    if (Is(member, u"Put") && args.size() == 2) return args[0].Text();
    return std::nullopt;
}

void ObjectAudit::Before(const Object& object, std::u16string_view member, bool put, const std::vector<Variant>& args) {
    before_ = {};
    const std::optional<std::u16string> property = Written(member, put, args);
    if (!property) return;
    Known& known = Find(object);
    if (known.created) return;
    for (const Write& write : known.pending)
        if (Is(write.property, *property)) return;
    try {
        before_ = AuditValueOf(put ? object.Get(*property) : object.Call(u"Get", {*property}));
    } catch (const StepError&) {
        // A property the object does not hold yet.
    }
}

void ObjectAudit::After(const Object& object, std::u16string_view member, bool put, const std::vector<Variant>& args,
                        const automation::Value& result) {
    if (const std::optional<std::u16string> property = Written(member, put, args)) {
        Known& known = Find(object);
        AuditValue after = AuditValueOf(args.back());
        for (Write& write : known.pending) {
            if (Is(write.property, *property)) {
                write.after = std::move(after);
                return;
            }
        }
        known.pending.push_back({*property, std::move(before_), std::move(after)});
        return;
    }
    if (OnlyReads(member)) return;
    if (Is(member, u"SetInfo")) {
        Known& known = Find(object);
        for (Write& write : known.pending)
            trail_.Merge(known.path, write.property, std::move(write.before), std::move(write.after));
        known.pending.clear();
        return;
    }
    if (Is(member, u"Create") && args.size() == 2) {
        const Object child = result.AsObject();
        if (child.IsNothing()) return;
        Known& known = Find(child);
        known.created = true;
        if (known.path.empty()) known.path = Find(object).path + u"/" + args[1].Text();
        trail_.Change(known.path, u"", {}, args[0].Text());
        return;
    }
    if (Is(member, u"Delete") && args.size() == 2) {
        trail_.Change(Find(object).path + u"/" + args[1].Text(), u"", args[0].Text(), {});
        return;
    }
    trail_.Change(Find(object).path, std::u16string(member) + u"()", {}, Arguments(args));
}

}  // namespace quorvel
