#include "automation/automation.h"

#include <utility>

namespace quorvel::automation {
namespace {

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// An IEnumVARIANT whose elements are made as they are fetched; a fixed list
// is one whose elements are copies of its items.
class LazyEnumerator final : public ComObject<IEnumVARIANT> {
public:
    using Make = std::function<Variant(std::size_t)>;
    LazyEnumerator(std::size_t count, std::shared_ptr<const Make> make, std::size_t next = 0)
        : count_(count), make_(std::move(make)), next_(next) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (out == nullptr && count > 0) return E_POINTER;
        ULONG n = 0;
        HRESULT failed = S_OK;
        try {
            for (; n < count && next_ < count_; ++n) {
                out[n] = (*make_)(next_).detach();  // handed over, not copied
                ++next_;
            }
        } catch (const StepError& error) {
            failed = HresultOf(error);
        } catch (...) {
            failed = E_OUTOFMEMORY;
        }
        if (FAILED(failed)) {
            for (ULONG k = 0; k < n; ++k) VariantClear(&out[k]);
            if (fetched != nullptr) *fetched = 0;
            return failed;
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = count_ - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (out == nullptr) return E_POINTER;
        try {
            *out = MakeObject<LazyEnumerator>(count_, make_, next_).detach();
        } catch (...) {
            *out = nullptr;
        }
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::size_t count_;
    std::shared_ptr<const Make> make_;
    std::size_t next_;
};

// What a provider's IParseDisplayName hands back: binding it gives the
// object the display name named, resolved when it was parsed.
class BoundMoniker final : public ComObject<IMoniker> {
public:
    explicit BoundMoniker(ComPtr<IDispatch> object) : object_(std::move(object)) {}

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker* left, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (left != nullptr) return E_NOTIMPL;
        return object_->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID, void** ppv) override {
        if (ppv != nullptr) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** reduced) override {
        if (reduced == nullptr) return E_POINTER;
        *reduced = this;
        AddRef();
        return kReducedToSelf;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** out) override { return Nothing(out); }
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** out) override {
        if (out != nullptr) *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override { return other == this ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override {
        if (hash == nullptr) return E_POINTER;
        *hash = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker** out) override { return Nothing(out); }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** out) override { return Nothing(out); }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** out) override { return Nothing(out); }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        if (name != nullptr) *name = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten,
                                               IMoniker** out) override {
        if (eaten != nullptr) *eaten = 0;
        return Nothing(out);
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = 0;  // MKSYS_NONE
        return S_FALSE;
    }

private:
    static constexpr HRESULT kReducedToSelf = 0x000401E2;
    static HRESULT Nothing(IMoniker** out) {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }

    ComPtr<IDispatch> object_;
};

}  // namespace

void RaiseHresult(HRESULT hr) { throw StepError(hr, u"", u""); }

bool Arguments::Given(std::size_t i) const { return i < values_.size() && !IsMissing(*values_[i].get()); }

const Variant& Arguments::operator[](std::size_t i) const {
    if (!Given(i)) Raise(kWrongArgumentCount);
    return values_[i];
}

namespace {

Value EnumeratorValue(ComPtr<IEnumVARIANT> enumerator) {
    if (!enumerator) Raise(kOutOfMemory);
    Value out;
    VARIANT* raw = out.out();
    raw->vt = VT_UNKNOWN;
    raw->punkVal = enumerator.detach();
    return out;
}

}  // namespace

Value NewEnum(std::vector<Variant> items) {
    auto list = std::make_shared<const std::vector<Variant>>(std::move(items));
    const std::size_t count = list->size();
    return NewEnum(count, [list](std::size_t i) { return (*list)[i]; });
}

Value NewEnum(std::size_t count, std::function<Variant(std::size_t)> item) {
    auto make = std::make_shared<const LazyEnumerator::Make>(std::move(item));
    return EnumeratorValue(MakeObject<LazyEnumerator>(count, std::move(make)));
}

namespace detail {

HRESULT ReportError(const StepError& error, EXCEPINFO* info) {
    const HRESULT hr = HresultOf(error);
    if (error.source.empty() && error.description.empty()) return hr;
    return ExceptionResult(info, hr, error.source, error.description);
}

}  // namespace detail

HRESULT ClassObject::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if ((create_ == nullptr && IsEqualIID(riid, IID_IClassFactory)) ||
        (bind_ == nullptr && IsEqualIID(riid, IID_IParseDisplayName))) {
        return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(riid, ppv);
}

HRESULT ClassObject::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (create_ == nullptr) return E_NOTIMPL;
    try {
        return create_(riid, ppv);
    } catch (const StepError& error) {
        return HresultOf(error);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ClassObject::Serve(CreateFn create, BindFn bind, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const auto object = MakeObject<ClassObject>(create, bind);
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(riid, ppv);
}

HRESULT ClassObject::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

HRESULT ClassObject::ParseDisplayName(IBindCtx*, LPOLESTR name, ULONG* eaten, IMoniker** moniker) {
    if (moniker == nullptr || name == nullptr) return E_POINTER;
    *moniker = nullptr;
    if (eaten != nullptr) *eaten = 0;
    if (bind_ == nullptr) return E_NOTIMPL;
    try {
        const std::u16string_view text(reinterpret_cast<const char16_t*>(name));
        ComPtr<IMoniker> bound = MakeObject<BoundMoniker>(bind_(text));
        if (!bound) return E_OUTOFMEMORY;
        *moniker = bound.detach();
        if (eaten != nullptr) *eaten = static_cast<ULONG>(text.size());
        return S_OK;
    } catch (const StepError& error) {
        return HresultOf(error);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace quorvel::automation
