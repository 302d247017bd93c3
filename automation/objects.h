// Outside objects, late-bound by member name as a VB client drives them:
// GetObject by moniker ("IIS://NAME/W3SVC", "WinNT://NAME/alice,user"),
// CreateObject by ProgID ("JMAIL.SmtpMail"), then properties, methods and
// the children of a container through IDispatch.
//
//   Object service = GetObject(u"IIS://" + computer + u"/W3SVC");
//   for (const Object& child : service.Children()) ...
//   Object site = service.Call(u"Create", {u"IISWebServer", u"5"}).AsObject();
//   site.Put(u"ServerComment", name);              // string
//   site.Put(u"MaxBandwidth", CheckedMultiply(width, 1024));  // 32-bit integer
//   site.Put(u"Serverbindings", bindings);          // std::vector<std::u16string>: a list
//   site.Call(u"SetInfo");
//   std::u16string comment = site.Get(u"ServerComment").Text();
//
// Every failure raises the StepError a VB client's Err object would hold:
// the object's own EXCEPINFO (or IErrorInfo) when it gives one, else the
// signed HRESULT or the VB number it maps to (438 for an unknown member, 13
// for a type mismatch, ...), 429 for a class that cannot be created, 91 for
// a call on an object that was never obtained (Nothing). Inside a method
// each call is one frame.Step.
//
// Windows: CoGetObject, CLSIDFromProgID + CoCreateInstance. POSIX: the same
// path through the machine's registry (ProgID or moniker prefix -> CLSID ->
// InprocServer32 library -> DllGetClassObject -> IClassFactory or
// IParseDisplayName -> IMoniker::BindToObject).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "automation/com_holders.h"
#include "automation/step_error.h"

namespace quorvel::automation {

class Object;

// A result or property value: a Variant that can also be read as an object.
class Value : public Variant {
public:
    using Variant::Variant;
    Value() = default;
    Value(Variant&& v) : Variant(std::move(v)) {}
    // VT_DISPATCH as an Object; Nothing for VT_EMPTY, VT_NULL or a null pointer.
    Object AsObject() const;
};

class Object {
public:
    // Nothing.
    Object() = default;
    explicit Object(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

    bool IsNothing() const { return !dispatch_; }
    IDispatch* get() const { return dispatch_.get(); }
    const ComPtr<IDispatch>& dispatch() const { return dispatch_; }
    void Release() { dispatch_.reset(); }

    // obj.Name
    Value Get(std::u16string_view property) const;
    // obj.Name = value
    void Put(std::u16string_view property, const Variant& value) const;
    // obj.Name(args...), arguments in their written order.
    Value Call(std::u16string_view method, std::initializer_list<Variant> args = {}) const;
    Value Call(std::u16string_view method, const std::vector<Variant>& args) const;

    // For Each child In obj: _NewEnum (DISPID_NEWENUM) and IEnumVARIANT.
    // Elements that are not objects are skipped.
    std::vector<Object> Children() const;
    // The number of elements For Each would visit, none of them kept.
    std::size_t CountChildren() const;

private:
    // A property write or method call, told to the thread's watcher.
    Value Use(std::u16string_view member, WORD flags, std::vector<Variant> args, bool put) const;
    // The member's DISPID; raises 438 when the object has no such member.
    DISPID IdOf(std::u16string_view name) const;
    Value Invoke(DISPID id, WORD flags, std::vector<Variant>& args, bool put) const;
    // The object's _NewEnum as an IEnumVARIANT; raises 438 when it has none.
    ComPtr<IEnumVARIANT> Elements() const;
    // Visits every element of _NewEnum, fetched in batches.
    template <typename Visit>
    void ForEach(Visit&& visit) const;

    ComPtr<IDispatch> dispatch_;
};

// Told of what a thread does through objects that may change them, for the
// call frame's audit trail: each property write (`put`) and method call,
// before it is made and after it succeeded, with the arguments in their
// written order (a write's one argument is the value). Property reads are not
// told. While the watcher is told, the thread's calls are not watched, so it
// may read the object; it must not throw.
class ObjectWatcher {
public:
    virtual void Before(const Object& object, std::u16string_view member, bool put,
                        const std::vector<Variant>& args) = 0;
    virtual void After(const Object& object, std::u16string_view member, bool put, const std::vector<Variant>& args,
                       const Value& result) = 0;

protected:
    ~ObjectWatcher() = default;
};

// Installs `watcher` for this thread's calls (nullptr: none) and returns the
// one it replaces.
ObjectWatcher* WatchObjects(ObjectWatcher* watcher);

// GetObject(moniker).
Object GetObject(std::u16string_view moniker);

// CreateObject(prog_id).
Object CreateObject(std::u16string_view prog_id);

// The step error for a failed IDispatch::Invoke on `object`: EXCEPINFO when
// the result is DISP_E_EXCEPTION (deferred fill-in honoured), else the
// object's IErrorInfo when it supports one (Windows), else the HRESULT.
StepError ErrorFromInvoke(IDispatch* object, HRESULT hr, EXCEPINFO& info);

}  // namespace quorvel::automation
