#include "standins/probe.h"

#include <cstdint>

#include "base/ascii.h"

namespace quorvel::standins {

using automation::Arguments;
using automation::Value;
using automation::Variant;

Value Probe::GetName(const Arguments&) { return Value(name_); }

void Probe::PutName(const Variant& value) { name_ = value.Text(); }

Value Probe::Class(const Arguments&) { return Value(u"Probe"); }

Value Probe::SetInfo(const Arguments&) { return Value(); }

Value Probe::Echo(const Arguments& args) { return Value(Variant(args[0])); }

Value Probe::Add(const Arguments& args) {
    const std::int64_t sum = static_cast<std::int64_t>(args.Long(0)) + args.Long(1);
    if (sum > INT32_MAX || sum < INT32_MIN) quorvel::Raise(kOverflow);
    return Value(static_cast<std::int32_t>(sum));
}

Value Probe::Raise(const Arguments& args) {
    throw StepError(args.Long(0), args.Text(1), args.Text(2));
}

Value Probe::RaiseHresult(const Arguments& args) { automation::RaiseHresult(args.Long(0)); }

Value Probe::Create(const Arguments& args) {
    auto child = automation::MakeObject<Probe>(args.Text(0));
    if (!child) quorvel::Raise(kOutOfMemory);
    Variant item(child);
    children_.push_back(item);
    return Value(std::move(item));
}

Value Probe::NewEnum(const Arguments&) { return automation::NewEnum(children_); }

bool Probe::HasProperty(std::u16string_view name) { return base::ToUpperAscii(name.substr(0, 2)) != u"NO"; }

Value Probe::GetProperty(const std::u16string& name) {
    const auto found = properties_.find(base::ToUpperAscii(name));
    if (found == properties_.end()) automation::RaiseHresult(static_cast<HRESULT>(0x8000500Du));
    return Value(Variant(found->second));
}

void Probe::PutProperty(const std::u16string& name, const Variant& value) { properties_[base::ToUpperAscii(name)] = value; }

automation::ComPtr<IDispatch> BindProbe(std::u16string_view display_name) {
    constexpr std::u16string_view kPrefix = u"PROBE://";
    if (display_name.size() <= kPrefix.size()) automation::RaiseHresult(static_cast<HRESULT>(0x80070003u));
    auto probe = automation::MakeObject<Probe>(std::u16string(display_name.substr(kPrefix.size())));
    if (!probe) Raise(kOutOfMemory);
    return probe;
}

}  // namespace quorvel::standins
