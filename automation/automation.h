// IDispatch for the stand-in classes: the fixed members (methods and
// properties) of the class's interface in standins/standins.idl, served by
// name, plus properties by any name for classes whose objects carry schema
// properties (an ADSI object's `site.ServerComment = x`).
//
// The member tables are generated from the IDL (cmake/gen_interface.py
// --members), so a class is its member functions and nothing else:
//
//   // standins.idl
//   interface IProbe : IDispatch {
//       [id(1), propget] HRESULT Name([out, retval] BSTR* Value);
//       [id(1), propput] HRESULT Name([in] BSTR Value);
//       [id(3)] HRESULT Add([in] long A, [in, optional, defaultvalue(1)] long B, [out, retval] long* Sum);
//   };
//   // probe.h
//   class Probe final : public AutomationObject<Probe, idl::IProbe> {
//   public:
//       Value GetName(const Arguments&);          // read-write property: GetFoo, PutFoo
//       void PutName(const Variant& value);       // (read-only: Foo; _NewEnum: NewEnum)
//       Value Add(const Arguments& args) { return Value(args.Long(0) + args.Long(1)); }
//   };
//
// Arguments reach a member as the caller gave them, and the member converts
// them; a left-out optional argument that declares a defaultvalue arrives as
// that value, one that declares none stays left out (Arguments::Given).
//
// A member raises a failure by throwing StepError: with a source or a
// description it reaches the client through EXCEPINFO (DISP_E_EXCEPTION);
// without either (RaiseHresult) the bare HRESULT is returned, as the system
// providers do, and the client's layer supplies the text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/com_object.h"
#include "automation/dispatch_table.h"
#include "automation/objects.h"

namespace quorvel::platform {

// Raises a bare HRESULT from a member.
[[noreturn]] void RaiseHresult(HRESULT hr);

// The positional arguments of one call, in written order, by value.
class Arguments {
public:
    explicit Arguments(std::vector<Value> values) : values_(std::move(values)) {}
    std::size_t size() const { return values_.size(); }
    // Given and not the "missing" marker of a skipped optional argument.
    bool Given(std::size_t i) const;
    // The argument; raises 450 (wrong number of arguments) when not given.
    const Value& operator[](std::size_t i) const;
    std::u16string Text(std::size_t i) const { return (*this)[i].Text(); }
    std::int32_t Long(std::size_t i) const { return (*this)[i].Long(); }
    std::int16_t Short(std::size_t i) const { return (*this)[i].Short(); }
    bool Bool(std::size_t i) const { return (*this)[i].Bool(); }

private:
    std::vector<Value> values_;
};

// One member of an interface, as the generator writes it.
template <typename T>
struct Member {
    const char16_t* name;
    DISPID id;
    // A method, or a property's read; nullptr for a write-only property.
    Value (T::*call)(const Arguments&) = nullptr;
    // A property's write; nullptr for methods and read-only properties.
    void (T::*put)(const Variant&) = nullptr;
    // A method's parameters, in order.
    std::span<const ParamInfo> params;
};

// An IEnumVARIANT over a fixed list, for a container's _NewEnum.
Value NewEnum(std::vector<Variant> items);
// The same over `count` elements made as they are fetched, by `item(i)`: a
// container of thousands then never holds them all at once. A StepError
// raised by `item` fails that Next.
Value NewEnum(std::size_t count, std::function<Variant(std::size_t)> item);

namespace detail {

// Names compare without regard to ASCII case, as GetIDsOfNames does.
bool SameName(std::u16string_view a, std::u16string_view b);

// A member's name against a wanted one, its first letter looked at before
// the member's length is taken (every property read asks).
inline bool SameMemberName(const char16_t* member, std::u16string_view name) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; };
    if (name.empty() || fold(member[0]) != fold(name[0])) return member[0] == u'\0' && name.empty();
    return SameName(member, name);
}

// Fills EXCEPINFO from a member's StepError and returns what Invoke returns.
HRESULT ReportError(const StepError& error, EXCEPINFO* info);

// The arguments of DISPPARAMS in written order (references followed);
// `put_value` receives the DISPID_PROPERTYPUT argument of a property write.
HRESULT CollectArguments(const DISPPARAMS* params, WORD flags, std::vector<Value>& args, Value* put_value);

// Checks the count of `args` against `params` and puts in the declared
// default of each left-out argument that has one.
HRESULT ApplyDefaults(std::span<const ParamInfo> params, std::vector<Value>& args);

// Calls a member through its table entry. A table may name a member a class
// inherits (`&User::Name` from a shared base); GCC's vptr check then takes
// the adjusted `this` for a wrong object and reports a call that is valid.
#if defined(__GNUC__) && !defined(__clang__)
#define QUORVEL_NO_VPTR_CHECK __attribute__((no_sanitize("vptr")))
#else
#define QUORVEL_NO_VPTR_CHECK
#endif
template <typename T>
QUORVEL_NO_VPTR_CHECK Value CallMember(T& self, Value (T::*call)(const Arguments&), Arguments args) {
    return (self.*call)(args);
}
template <typename T>
QUORVEL_NO_VPTR_CHECK void PutMember(T& self, void (T::*put)(const Variant&), const Variant& value) {
    (self.*put)(value);
}
#undef QUORVEL_NO_VPTR_CHECK

}  // namespace detail

inline constexpr DISPID kFirstDynamicId = 0x10000;

// T serves Interface, a struct of standin_members.h generated from the IDL.
template <typename T, typename Interface, typename... More>
class AutomationObject : public ComObject<IDispatch, More...> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (count == 0) return S_OK;
        if (names == nullptr || ids == nullptr || names[0] == nullptr) return E_POINTER;
        try {
            for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
            const std::u16string_view name(reinterpret_cast<const char16_t*>(names[0]));
            for (const Member<T>& member : Members()) {
                if (detail::SameMemberName(member.name, name)) {
                    ids[0] = member.id;
                    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments
                }
            }
            for (std::size_t d = 0; d < dynamic_.size(); ++d) {
                if (detail::SameName(dynamic_[d], name)) {
                    ids[0] = kFirstDynamicId + static_cast<DISPID>(d);
                    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
                }
            }
            if (!static_cast<T*>(this)->HasProperty(name)) return DISP_E_UNKNOWNNAME;
            dynamic_.emplace_back(name);
            ids[0] = kFirstDynamicId + static_cast<DISPID>(dynamic_.size() - 1);
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* arg_err) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (arg_err != nullptr) *arg_err = 0;
        if (result != nullptr) VariantInit(result);
        try {
            std::vector<Value> values;
            Value put_value;
            const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
            if (const HRESULT hr = detail::CollectArguments(params, flags, values, &put_value); FAILED(hr)) return hr;
            T& self = *static_cast<T*>(this);
            Value out;
            if (id >= kFirstDynamicId) {
                const std::size_t d = static_cast<std::size_t>(id - kFirstDynamicId);
                if (d >= dynamic_.size()) return DISP_E_MEMBERNOTFOUND;
                if (!values.empty()) return DISP_E_BADPARAMCOUNT;
                if (put) {
                    self.PutProperty(dynamic_[d], put_value);
                } else {
                    out = self.GetProperty(dynamic_[d]);
                }
            } else {
                const Member<T>* found = nullptr;
                for (const Member<T>& member : Members()) {
                    if (member.id == id) found = &member;
                }
                if (found == nullptr) return DISP_E_MEMBERNOTFOUND;
                const Member<T>& member = *found;
                if (const HRESULT hr = detail::ApplyDefaults(member.params, values); FAILED(hr)) return hr;
                if (put) {
                    if (member.put == nullptr) return DISP_E_MEMBERNOTFOUND;
                    detail::PutMember(self, member.put, put_value);
                } else {
                    if (member.call == nullptr) return DISP_E_MEMBERNOTFOUND;
                    out = detail::CallMember(self, member.call, Arguments(std::move(values)));
                }
            }
            if (result != nullptr) *result = out.detach();
            return S_OK;
        } catch (const StepError& error) {
            return detail::ReportError(error, info);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    // Properties by any name: none unless the class says otherwise.
    bool HasProperty(std::u16string_view) { return false; }
    Value GetProperty(const std::u16string&) { RaiseHresult(DISP_E_MEMBERNOTFOUND); }
    void PutProperty(const std::u16string&, const Variant&) { RaiseHresult(DISP_E_MEMBERNOTFOUND); }

private:
    static std::span<const Member<T>> Members() { return Interface::template Members<T>(); }

    // Names of the properties by name this object was asked about; a
    // name's DISPID is kFirstDynamicId + its place.
    std::vector<std::u16string> dynamic_;
};

// A class object: IClassFactory for classes created by ProgID, and
// IParseDisplayName for directory providers bound by moniker ("IIS://...").
class ClassObject final : public ComObject<IClassFactory, IParseDisplayName> {
public:
    // Creates an instance and answers `riid` of it.
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
    // Binds the object a display name (the whole "PREFIX://...") names; raises StepError.
    using BindFn = ComPtr<IDispatch> (*)(std::u16string_view display_name);

    ClassObject(CreateFn create, BindFn bind) : create_(create), bind_(bind) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx* pbc, LPOLESTR name, ULONG* eaten,
                                               IMoniker** moniker) override;

private:
    CreateFn create_;
    BindFn bind_;
};

// `CreateFn` for a class with a default constructor.
template <typename T>
HRESULT CreateInstanceOf(REFIID riid, void** ppv) {
    auto object = MakeObject<T>();
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(riid, ppv);
}

}  // namespace quorvel::platform
