// The object layer's own probe: a class with a member of every shape the
// other stand-ins use (typed properties, methods with arguments, properties
// by any name, children, failures), created as "QuorvelStandins.Probe" or
// bound as "PROBE://NAME". It keeps no state outside the object; tests of
// both builds drive the layer through it.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "standin_members.h"

namespace quorvel::standins {

class Probe final : public automation::AutomationObject<Probe, idl::IProbe> {
public:
    explicit Probe(std::u16string name = u"probe") : name_(std::move(name)) {}

    // Name: read-write string.
    automation::Value GetName(const automation::Arguments&);
    void PutName(const automation::Variant& value);
    // Class: "Probe"; SetInfo(): commits nothing (a probe keeps no state).
    automation::Value Class(const automation::Arguments&);
    automation::Value SetInfo(const automation::Arguments&);
    // Echo(value): the value as given, type kept.
    automation::Value Echo(const automation::Arguments& args);
    // Add(a, [b]): a + b as a 32-bit integer; b defaults to 1.
    automation::Value Add(const automation::Arguments& args);
    // Raise(number, source, description): fails with that error;
    // RaiseHresult(hr): fails with the bare HRESULT.
    automation::Value Raise(const automation::Arguments& args);
    automation::Value RaiseHresult(const automation::Arguments& args);
    // Create(name): a child probe; Children are enumerated by _NewEnum in creation order.
    automation::Value Create(const automation::Arguments& args);
    automation::Value NewEnum(const automation::Arguments&);

    // Properties by any name, as a directory object's schema properties:
    // any name is accepted but those beginning with "No" (so that an unknown
    // member can be seen); reading one never written fails with 0x8000500D.
    bool HasProperty(std::u16string_view name);
    automation::Value GetProperty(const std::u16string& name);
    void PutProperty(const std::u16string& name, const automation::Variant& value);

private:
    std::u16string name_;
    std::map<std::u16string, automation::Variant> properties_;
    std::vector<automation::Variant> children_;
};

// "PROBE://NAME" binds a new probe named NAME; "PROBE://" with nothing after
// it names no object (0x80070003).
automation::ComPtr<IDispatch> BindProbe(std::u16string_view display_name);

}  // namespace quorvel::standins
