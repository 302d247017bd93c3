// Owners of COM references, BSTRs and VARIANTs, the same in both builds and
// in every module (component, stand-ins, host, tests).
//
//   ComPtr<IDispatch> object;
//   factory->CreateInstance(nullptr, IID_IDispatch, object.out_void());
//   ComPtr<IEnumVARIANT> children = object.Query<IEnumVARIANT>(IID_IEnumVARIANT);
//   Bstr text(u"W3SVC");          // SysFreeString on destruction
//   Variant value(std::int16_t{2}); // VT_I2; Variant(2) is VT_I4, Variant(true) VT_BOOL
#pragma once

#include <concepts>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com.h"

namespace quorvel::automation {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_ != nullptr) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    // Takes over a reference the caller owns.
    static ComPtr Attach(T* raw) {
        ComPtr p;
        p.ptr_ = raw;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Share(T* raw) {
        if (raw != nullptr) raw->AddRef();
        return Attach(raw);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For an out-parameter: releases what is held first.
    T** out() {
        reset();
        return &ptr_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }

    // Hands the reference to the caller.
    T* detach() { return std::exchange(ptr_, nullptr); }
    void reset() {
        if (T* p = std::exchange(ptr_, nullptr)) p->Release();
    }

    // QueryInterface; empty when the object does not have the interface.
    template <typename U>
    ComPtr<U> Query(REFIID iid) const {
        ComPtr<U> result;
        if (ptr_ != nullptr && FAILED(ptr_->QueryInterface(iid, result.out_void()))) result.reset();
        return result;
    }

private:
    T* ptr_ = nullptr;
};

inline std::u16string_view ViewOf(BSTR text) {
    if (text == nullptr) return {};
    return {reinterpret_cast<const char16_t*>(text), SysStringLen(text)};
}

// A terminated copy of a name for a call that takes an LPOLESTR; on the
// stack when it is short, as the names of members and monikers are.
class OleText {
public:
    explicit OleText(std::u16string_view text) {
        if (text.size() < std::size(small_)) {
            text.copy(small_, text.size());
            small_[text.size()] = u'\0';
        } else {
            large_.assign(text);
            text_ = large_.data();
        }
    }
    OleText(const OleText&) = delete;
    OleText& operator=(const OleText&) = delete;
    LPOLESTR get() { return reinterpret_cast<LPOLESTR>(text_); }

private:
    char16_t small_[128];
    std::u16string large_;
    char16_t* text_ = small_;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text) : value_(platform::ToBstr(text)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr& other) : value_(other.value_ == nullptr ? nullptr : platform::ToBstr(other.view())) {}
    Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Bstr& operator=(Bstr other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    static Bstr Attach(BSTR raw) {
        Bstr b;
        b.value_ = raw;
        return b;
    }

    BSTR get() const { return value_; }
    BSTR* out() {
        SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }
    BSTR detach() { return std::exchange(value_, nullptr); }
    std::u16string_view view() const { return ViewOf(value_); }
    std::u16string str() const { return std::u16string(view()); }

private:
    BSTR value_ = nullptr;
};

// Owns one VARIANT; exactly its size, so that a vector of them is an
// argument array (DISPPARAMS::rgvarg) as it stands. The typed readers coerce
// as Automation does and raise the step error a VB client would see
// (13 for a value that does not convert, 6 for one out of range).
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }

    Variant(std::u16string_view text);
    Variant(const char16_t* text) : Variant(std::u16string_view(text)) {}
    Variant(const std::u16string& text) : Variant(std::u16string_view(text)) {}
    // VT_I4 for int and long (LONG is long on Windows), VT_I2 for int16_t.
    template <std::integral I>
        requires(!std::same_as<I, bool> && !std::same_as<I, std::int16_t> && sizeof(I) <= 4)
    Variant(I number) : Variant() {
        value_.vt = VT_I4;
        value_.lVal = static_cast<LONG>(number);
    }
    Variant(std::int16_t number) : Variant() {
        value_.vt = VT_I2;
        value_.iVal = number;
    }
    template <std::same_as<bool> B>
    Variant(B flag) : Variant() {
        value_.vt = VT_BOOL;
        value_.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    }
    // An array of VARIANTs holding strings, lower bound 0 (an ADSI list).
    Variant(const std::vector<std::u16string>& list);
    // VT_DISPATCH; a null pointer is Nothing.
    Variant(const ComPtr<IDispatch>& object);

    // VT_ERROR DISP_E_PARAMNOTFOUND: an optional argument left out.
    static Variant Missing();
    // Takes over what `raw` owns and leaves it VT_EMPTY.
    static Variant Take(VARIANT& raw);

    VARTYPE vt() const { return value_.vt; }
    bool empty() const { return value_.vt == VT_EMPTY; }
    const VARIANT* get() const { return &value_; }
    VARIANT* get() { return &value_; }
    // For an out-parameter: cleared first.
    VARIANT* out() {
        VariantClear(&value_);
        return &value_;
    }
    VARIANT detach() {
        VARIANT raw = value_;
        VariantInit(&value_);
        return raw;
    }

    std::u16string Text() const;
    std::int32_t Long() const;
    std::int16_t Short() const;
    bool Bool() const;
    // A list property: an array (of VARIANTs or BSTRs) or one scalar as a
    // list of one; empty for VT_EMPTY.
    std::vector<std::u16string> TextList() const;
    // VT_DISPATCH (or VT_UNKNOWN that has IDispatch); empty for VT_EMPTY,
    // VT_NULL and Nothing.
    ComPtr<IDispatch> Dispatch() const;
    bool IsArray() const { return (value_.vt & VT_ARRAY) != 0; }
    // The value as VBScript's CStr writes it: True/False for Booleans, one
    // line per element for a list. For tools and messages.
    std::u16string Display() const;

private:
    VARIANT value_;
};

static_assert(sizeof(Variant) == sizeof(VARIANT), "a vector of Variants is an argument array");

// The VARIANTs of a vector, as DISPPARAMS wants them.
inline VARIANT* RawArray(std::vector<Variant>& values) {
    return values.empty() ? nullptr : values.front().get();
}

}  // namespace quorvel::automation
