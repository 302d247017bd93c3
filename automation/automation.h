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
// Arguments bind as every IDispatch here binds them (BindArguments,
// dispatch_table.h): positional or named, each converted to the type the IDL
// declares (a VARIANT one as given, for the member to convert), a left-out
// optional one as its defaultvalue. A property write's value is converted to
// the property's type; the value of a property by any name arrives as given.
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
#include <unordered_map>
#include <vector>

#include "automation/com_object.h"
#include "automation/dispatch_table.h"
#include "automation/objects.h"

namespace quorvel::automation {

// Raises a bare HRESULT from a member.
[[noreturn]] void RaiseHresult(HRESULT hr);

// The arguments of one call, one per parameter in declared order, by value.
class Arguments {
public:
    explicit Arguments(std::vector<Variant> values) : values_(std::move(values)) {}
    std::size_t size() const { return values_.size(); }
    // Given and not the "missing" marker (a VARIANT parameter left out).
    bool Given(std::size_t i) const;
    // The argument; raises 450 (wrong number of arguments) when not given.
    const Variant& operator[](std::size_t i) const;
    std::u16string Text(std::size_t i) const { return (*this)[i].Text(); }
    std::int32_t Long(std::size_t i) const { return (*this)[i].Long(); }
    std::int16_t Short(std::size_t i) const { return (*this)[i].Short(); }
    bool Bool(std::size_t i) const { return (*this)[i].Bool(); }

private:
    std::vector<Variant> values_;
};

// A property write's value when nothing declares its type.
inline constexpr ParamInfo kValueAsGiven{u"Value", ParamType::Variant, false, false, nullptr, 0};

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
    // The value of a property write, as the IDL declares it.
    const ParamInfo* written = &kValueAsGiven;
};

// An IEnumVARIANT over a fixed list, for a container's _NewEnum.
Value NewEnum(std::vector<Variant> items);
// The same over `count` elements made as they are fetched, by `item(i)`: a
// container of thousands then never holds them all at once. A StepError
// raised by `item` fails that Next.
Value NewEnum(std::size_t count, std::function<Variant(std::size_t)> item);

namespace detail {

// What Invoke returns for a member's StepError: the bare HRESULT when it
// carries no source or description, else DISP_E_EXCEPTION with EXCEPINFO.
HRESULT ReportError(const StepError& error, EXCEPINFO* info);

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
        const auto find = [this](std::u16string_view name, NamedMember& found) {
            if (const Member<T>* member = MemberNamed(name)) {
                found = {member->id, member->params};
                return true;
            }
            for (std::size_t d = 0; d < dynamic_.size(); ++d) {
                if (SameName(name, dynamic_[d].c_str())) {
                    found = {kFirstDynamicId + static_cast<DISPID>(d), {}};
                    return true;
                }
            }
            if (!static_cast<T*>(this)->HasProperty(name)) return false;
            dynamic_.emplace_back(name);
            found = {kFirstDynamicId + static_cast<DISPID>(dynamic_.size() - 1), {}};
            return true;
        };
        try {
            return ResolveNames(riid, names, count, ids, find);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* arg_err) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (result != nullptr) VariantInit(result);
        try {
            const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
            T& self = *static_cast<T*>(this);
            std::vector<Variant> values;
            Value out;
            if (id >= kFirstDynamicId) {
                const std::size_t d = static_cast<std::size_t>(id - kFirstDynamicId);
                if (d >= dynamic_.size()) return DISP_E_MEMBERNOTFOUND;
                const ParamInfo* written = put ? &kValueAsGiven : nullptr;
                if (const HRESULT hr = BindArguments({}, written, params, values, arg_err); FAILED(hr)) return hr;
                if (put) {
                    self.PutProperty(dynamic_[d], values.back());
                } else {
                    out = self.GetProperty(dynamic_[d]);
                }
            } else {
                const Member<T>* found = nullptr;
                for (const Member<T>& member : Members()) {
                    if (member.id == id) found = &member;
                }
                if (found == nullptr || (put ? found->put == nullptr : found->call == nullptr)) {
                    return DISP_E_MEMBERNOTFOUND;
                }
                const Member<T>& member = *found;
                const ParamInfo* written = put ? member.written : nullptr;
                if (const HRESULT hr = BindArguments(member.params, written, params, values, arg_err); FAILED(hr)) {
                    return hr;
                }
                if (put) {
                    detail::PutMember(self, member.put, values.back());
                } else {
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

    // The member a name means, the first of the table that has it; found by
    // its folded spelling in an index made once per class (every object of
    // a class bound thousands of times in one call is asked the same names).
    static const Member<T>* MemberNamed(std::u16string_view name) {
        static const auto* const index = [] {
            auto* made = new std::unordered_map<std::u16string, const Member<T>*>();
            std::u16string folded;
            for (const Member<T>& member : Members()) {
                FoldNameInto(member.name, folded);
                made->emplace(folded, &member);
            }
            return made;
        }();
        thread_local std::u16string folded;
        FoldNameInto(name, folded);
        const auto found = index->find(folded);
        return found == index->end() ? nullptr : found->second;
    }

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

    // The body of DllGetClassObject for a class found: a new class object's `riid`.
    static HRESULT Serve(CreateFn create, BindFn bind, REFIID riid, void** ppv);

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

}  // namespace quorvel::automation
