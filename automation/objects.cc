// The late-bound calls and the VARIANT holder: the same on both builds, since
// IDispatch is; only activation (posix/ and win32/activation.cc) differs.
#include "automation/objects.h"

#include <iterator>
#include <utility>

namespace quorvel::automation {
namespace {

[[noreturn]] void RaiseFrom(HRESULT hr) { throw ErrorFromHresult(hr); }

thread_local ObjectWatcher* t_watcher = nullptr;

// While the watcher is told, this thread's calls are not watched.
template <typename Tell>
void TellWatcher(ObjectWatcher* watcher, Tell&& tell) noexcept {
    t_watcher = nullptr;
    try {
        tell(*watcher);
    } catch (...) {
    }
    t_watcher = watcher;
}

void Check(HRESULT hr) {
    if (FAILED(hr)) RaiseFrom(hr);
}

// The Windows declarations take the source without const; nothing writes to it.
// The value with its references followed (VBScript hands variables by reference).
Variant Direct(const VARIANT& value) {
    Variant out;
    Check(VariantCopyInd(out.out(), const_cast<VARIANT*>(&value)));
    return out;
}

Variant ConvertTo(const VARIANT& value, VARTYPE vt) {
    Variant out;
    Check(VariantChangeType(out.out(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, vt));
    return out;
}

std::u16string TakeText(BSTR text) {
    std::u16string out(ViewOf(text));
    return out;
}

}  // namespace

// ---- Variant -------------------------------------------------------------------

Variant::Variant(const Variant& other) : Variant() { Check(VariantCopy(&value_, const_cast<VARIANT*>(&other.value_))); }

Variant::Variant(std::u16string_view text) : Variant() {
    BSTR raw = platform::ToBstr(text);
    if (raw == nullptr) Raise(kOutOfMemory);
    value_.vt = VT_BSTR;
    value_.bstrVal = raw;
}

Variant::Variant(const std::vector<std::u16string>& list) : Variant() {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(list.size()));
    if (array == nullptr) Raise(kOutOfMemory);
    value_.vt = VT_ARRAY | VT_VARIANT;
    value_.parray = array;
    for (std::size_t i = 0; i < list.size(); ++i) {
        Variant item(list[i]);
        LONG index = static_cast<LONG>(i);
        Check(SafeArrayPutElement(array, &index, item.get()));
    }
}

Variant::Variant(const ComPtr<IDispatch>& object) : Variant() {
    value_.vt = VT_DISPATCH;
    value_.pdispVal = ComPtr<IDispatch>(object).detach();
}

Variant Variant::Missing() {
    Variant v;
    v.value_.vt = VT_ERROR;
    v.value_.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

Variant Variant::Take(VARIANT& raw) {
    Variant v;
    v.value_ = raw;
    VariantInit(&raw);
    return v;
}

std::u16string Variant::Text() const {
    // A string already: read as it is, without a converted copy.
    if (value_.vt == VT_BSTR) return TakeText(value_.bstrVal);
    return TakeText(ConvertTo(value_, VT_BSTR).get()->bstrVal);
}

std::int32_t Variant::Long() const { return ConvertTo(value_, VT_I4).get()->lVal; }

std::int16_t Variant::Short() const { return ConvertTo(value_, VT_I2).get()->iVal; }

bool Variant::Bool() const { return ConvertTo(value_, VT_BOOL).get()->boolVal != VARIANT_FALSE; }

std::vector<std::u16string> Variant::TextList() const {
    const Variant direct = Direct(value_);
    const VARIANT& v = *direct.get();
    std::vector<std::u16string> out;
    if (v.vt == VT_EMPTY) return out;
    if ((v.vt & VT_ARRAY) == 0) {
        out.push_back(direct.Text());
        return out;
    }
    SAFEARRAY* array = v.parray;
    if (array == nullptr) return out;
    if (SafeArrayGetDim(array) != 1) Raise(kTypeMismatch);
    LONG low = 0;
    LONG high = -1;
    Check(SafeArrayGetLBound(array, 1, &low));
    Check(SafeArrayGetUBound(array, 1, &high));
    const VARTYPE element = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    for (LONG i = low; i <= high; ++i) {
        if (element == VT_VARIANT) {
            Variant item;
            Check(SafeArrayGetElement(array, &i, item.out()));
            out.push_back(item.Text());
        } else if (element == VT_BSTR) {
            BSTR text = nullptr;
            Check(SafeArrayGetElement(array, &i, &text));
            out.push_back(TakeText(text));
            SysFreeString(text);
        } else {
            Raise(kTypeMismatch);
        }
    }
    return out;
}

ComPtr<IDispatch> Variant::Dispatch() const {
    const Variant direct = Direct(value_);
    const VARIANT& v = *direct.get();
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL: return {};
        case VT_DISPATCH: return ComPtr<IDispatch>::Share(v.pdispVal);
        case VT_UNKNOWN: {
            if (v.punkVal == nullptr) return {};
            ComPtr<IDispatch> object = ComPtr<IUnknown>::Share(v.punkVal).Query<IDispatch>(IID_IDispatch);
            if (!object) Raise(kTypeMismatch);
            return object;
        }
        default: Raise(kTypeMismatch);
    }
}

std::u16string Variant::Display() const {
    const Variant direct = Direct(value_);
    const VARTYPE vt = direct.vt();
    if (vt == VT_BOOL) return direct.Bool() ? u"True" : u"False";
    if (vt == VT_EMPTY || vt == VT_NULL) return {};
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return u"[object]";
    if ((vt & VT_ARRAY) != 0) {
        std::u16string out;
        for (const std::u16string& item : direct.TextList()) {
            if (!out.empty()) out += u'\n';
            out += item;
        }
        return out;
    }
    return direct.Text();
}

Object Value::AsObject() const { return Object(Dispatch()); }

// ---- Object ----------------------------------------------------------------

StepError ErrorFromInvoke(IDispatch* object, HRESULT hr, EXCEPINFO& info) {
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
        const std::int32_t code = info.scode != 0 ? info.scode : static_cast<std::int32_t>(info.wCode);
        StepError error = ErrorFromHresult(code);
        if (info.bstrSource != nullptr && SysStringLen(info.bstrSource) > 0) error.source = TakeText(info.bstrSource);
        if (info.bstrDescription != nullptr && SysStringLen(info.bstrDescription) > 0) {
            error.description = TakeText(info.bstrDescription);
        }
        return error;
    }
    StepError error = ErrorFromHresult(hr);
    // An error object, when the object says it sets one for IDispatch.
    if (object != nullptr) {
        ComPtr<ISupportErrorInfo> support = ComPtr<IDispatch>::Share(object).Query<ISupportErrorInfo>(IID_ISupportErrorInfo);
        ComPtr<IErrorInfo> details;
        if (support && support->InterfaceSupportsErrorInfo(IID_IDispatch) == S_OK &&
            GetErrorInfo(0, details.out()) == S_OK && details) {
            Bstr source;
            Bstr description;
            if (SUCCEEDED(details->GetSource(source.out())) && !source.view().empty()) error.source = source.str();
            if (SUCCEEDED(details->GetDescription(description.out())) && !description.view().empty()) {
                error.description = description.str();
            }
        }
    }
    return error;
}

DISPID Object::IdOf(std::u16string_view name) const {
    if (IsNothing()) Raise(kObjectNotSet);
    OleText text(name);
    LPOLESTR names[] = {text.get()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    Check(hr);
    return id;
}

Value Object::Invoke(DISPID id, WORD flags, std::vector<Variant>& args, bool put) const {
    // Arguments go last to first.
    std::vector<Variant> reversed(std::make_move_iterator(args.rbegin()), std::make_move_iterator(args.rend()));
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = RawArray(reversed);
    params.cArgs = static_cast<UINT>(reversed.size());
    if (put) {
        params.rgdispidNamedArgs = &put_id;
        params.cNamedArgs = 1;
    }
    Value result;
    EXCEPINFO info{};
    UINT arg_err = 0;
    const HRESULT hr =
        dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : result.out(), &info, &arg_err);
    if (FAILED(hr)) {
        StepError error = ErrorFromInvoke(dispatch_.get(), hr, info);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        throw error;
    }
    return result;
}

Value Object::Get(std::u16string_view property) const {
    std::vector<Variant> none;
    return Invoke(IdOf(property), DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, false);
}

Value Object::Use(std::u16string_view member, WORD flags, std::vector<Variant> args, bool put) const {
    const DISPID id = IdOf(member);
    ObjectWatcher* const watcher = t_watcher;
    // Invoke takes the arguments apart; a watcher is told them afterwards.
    if (watcher == nullptr) return Invoke(id, flags, args, put);
    std::vector<Variant> copy(args);
    TellWatcher(watcher, [&](ObjectWatcher& w) { w.Before(*this, member, put, args); });
    Value result = Invoke(id, flags, copy, put);
    TellWatcher(watcher, [&](ObjectWatcher& w) { w.After(*this, member, put, args, result); });
    return result;
}

void Object::Put(std::u16string_view property, const Variant& value) const {
    Use(property, DISPATCH_PROPERTYPUT, {value}, true);
}

Value Object::Call(std::u16string_view method, std::initializer_list<Variant> args) const {
    return Use(method, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::vector<Variant>(args), false);
}

Value Object::Call(std::u16string_view method, const std::vector<Variant>& args) const {
    return Use(method, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, false);
}

ObjectWatcher* WatchObjects(ObjectWatcher* watcher) {
    ObjectWatcher* const previous = t_watcher;
    t_watcher = watcher;
    return previous;
}

ComPtr<IEnumVARIANT> Object::Elements() const {
    if (IsNothing()) Raise(kObjectNotSet);
    std::vector<Variant> none;
    const Value enumerator = Invoke(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, false);
    ComPtr<IEnumVARIANT> items;
    const VARIANT& raw = *enumerator.get();
    if ((raw.vt == VT_UNKNOWN || raw.vt == VT_DISPATCH) && raw.punkVal != nullptr) {
        items = ComPtr<IUnknown>::Share(raw.punkVal).Query<IEnumVARIANT>(IID_IEnumVARIANT);
    }
    if (!items) Raise(kNoSuchMember);  // not a collection
    return items;
}

template <typename Visit>
void Object::ForEach(Visit&& visit) const {
    const ComPtr<IEnumVARIANT> items = Elements();
    constexpr ULONG kBatch = 64;
    std::vector<Variant> batch(kBatch);
    for (;;) {
        ULONG fetched = 0;
        for (Variant& v : batch) v.out();
        const HRESULT hr = items->Next(kBatch, RawArray(batch), &fetched);
        Check(hr);
        for (ULONG i = 0; i < fetched && i < kBatch; ++i) visit(batch[i]);
        if (hr == S_FALSE || fetched < kBatch) break;
    }
}

std::vector<Object> Object::Children() const {
    std::vector<Object> children;
    ForEach([&](const Variant& item) {
        if (item.vt() == VT_DISPATCH || item.vt() == VT_UNKNOWN) {
            ComPtr<IDispatch> child = item.Dispatch();
            if (child) children.emplace_back(std::move(child));
        }
    });
    return children;
}

std::size_t Object::CountChildren() const {
    // Skipping counts without making each element; an enumerator that
    // cannot skip is counted by fetching.
    const ComPtr<IEnumVARIANT> items = Elements();
    std::size_t count = 0;
    HRESULT hr = S_OK;
    while ((hr = items->Skip(1)) == S_OK) ++count;
    if (hr == S_FALSE) return count;
    count = 0;
    ForEach([&](const Variant&) { ++count; });
    return count;
}

}  // namespace quorvel::automation
