// BSTR, VARIANT and the coercions of OLE Automation, following oleaut32's
// rules for the types the component's interface uses.
#include "platform/posix/runtime/com_types.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "base/ascii.h"

namespace {

using quorvel::base::EqualsIgnoringAsciiCase;
using quorvel::base::HexDigitValue;

// A BSTR is the character data of a malloc block that begins with the byte
// length; plain malloc keeps blocks interchangeable between the host and the
// library, which each carry a copy of this runtime.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

BSTR AllocBytes(const void* data, UINT byte_len) {
    if (byte_len > std::numeric_limits<std::uint32_t>::max() - kPrefix - sizeof(OLECHAR)) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byte_len + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    const std::uint32_t len32 = byte_len;
    std::memcpy(block, &len32, kPrefix);
    if (data != nullptr) {
        std::memcpy(block + kPrefix, data, byte_len);
    } else {
        std::memset(block + kPrefix, 0, byte_len);
    }
    std::memset(block + kPrefix + byte_len, 0, sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

BSTR AllocText(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::u16string_view TextOf(BSTR text) { return {text == nullptr ? u"" : text, SysStringLen(text)}; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A number as VarNumFromParseNum reads it in the neutral locale: blanks
// around it, a sign, digits with ',' grouping, a fraction and an exponent.
// Hexadecimal and octal forms (&H, &O) are not read.
std::optional<double> ParseNumber(std::u16string_view text) {
    text = Trim(text);
    std::string ascii;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
    int mantissa_digits = 0;
    while (i < text.size() && ((text[i] >= u'0' && text[i] <= u'9') || (text[i] == u',' && mantissa_digits > 0))) {
        if (text[i] != u',') {
            ascii += static_cast<char>(text[i]);
            ++mantissa_digits;
        }
        ++i;
    }
    if (i < text.size() && text[i] == u'.') {
        ascii += '.';
        ++i;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
            ascii += static_cast<char>(text[i++]);
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
        int exponent_digits = 0;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
            ascii += static_cast<char>(text[i++]);
            ++exponent_digits;
        }
        if (exponent_digits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return std::strtod(ascii.c_str(), nullptr);  // inf on a huge exponent: an overflow below
}

// A value read from a VARIANT before it becomes the target type.
struct Value {
    enum Kind { Empty, Null, Integer, Real, Boolean, Text, Unsupported } kind = Unsupported;
    std::int64_t integer = 0;
    double real = 0;
    std::u16string_view text;
};

Value Read(const VARIANT& v) {
    Value out;
    switch (v.vt) {
        case VT_EMPTY: out.kind = Value::Empty; break;
        case VT_NULL: out.kind = Value::Null; break;
        case VT_I1: out.kind = Value::Integer; out.integer = v.cVal; break;
        case VT_UI1: out.kind = Value::Integer; out.integer = v.bVal; break;
        case VT_I2: out.kind = Value::Integer; out.integer = v.iVal; break;
        case VT_UI2: out.kind = Value::Integer; out.integer = v.uiVal; break;
        case VT_I4: out.kind = Value::Integer; out.integer = v.lVal; break;
        case VT_UI4: out.kind = Value::Integer; out.integer = v.ulVal; break;
        case VT_INT: out.kind = Value::Integer; out.integer = v.intVal; break;
        case VT_UINT: out.kind = Value::Integer; out.integer = v.uintVal; break;
        case VT_I8: out.kind = Value::Integer; out.integer = v.llVal; break;
        case VT_R4: out.kind = Value::Real; out.real = v.fltVal; break;
        case VT_R8: out.kind = Value::Real; out.real = v.dblVal; break;
        case VT_BOOL: out.kind = Value::Boolean; out.integer = v.boolVal; break;
        case VT_BSTR: out.kind = Value::Text; out.text = TextOf(v.bstrVal); break;
        default: break;
    }
    return out;
}

// The integer a value converts to, rounding halves to even as VarI4FromR8 does.
HRESULT ToInteger(const Value& value, std::int64_t low, std::int64_t high, std::int64_t& out) {
    double real = 0;
    switch (value.kind) {
        case Value::Empty: out = 0; return S_OK;
        case Value::Integer:
        case Value::Boolean:
            if (value.integer < low || value.integer > high) return DISP_E_OVERFLOW;
            out = value.integer;
            return S_OK;
        case Value::Real: real = value.real; break;
        case Value::Text: {
            auto parsed = ParseNumber(value.text);
            if (!parsed) return DISP_E_TYPEMISMATCH;
            real = *parsed;
            break;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
    if (std::isnan(real)) return DISP_E_OVERFLOW;
    double rounded = std::nearbyint(real);
    if (rounded < static_cast<double>(low) || rounded > static_cast<double>(high)) return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(rounded);
    return S_OK;
}

HRESULT ToReal(const Value& value, double& out) {
    switch (value.kind) {
        case Value::Empty: out = 0; return S_OK;
        case Value::Integer:
        case Value::Boolean: out = static_cast<double>(value.integer); return S_OK;
        case Value::Real: out = value.real; return S_OK;
        case Value::Text: {
            auto parsed = ParseNumber(value.text);
            if (!parsed) return DISP_E_TYPEMISMATCH;
            if (std::isinf(*parsed)) return DISP_E_OVERFLOW;
            out = *parsed;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToBool(const Value& value, VARIANT_BOOL& out) {
    switch (value.kind) {
        case Value::Empty: out = VARIANT_FALSE; return S_OK;
        case Value::Integer:
        case Value::Boolean: out = value.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case Value::Real: out = value.real != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case Value::Text: {
            // The words match only without blanks around them, as in oleaut32.
            const std::u16string_view word = value.text;
            if (EqualsIgnoringAsciiCase(word, u"true") || EqualsIgnoringAsciiCase(word, u"#true#")) {
                out = VARIANT_TRUE;
                return S_OK;
            }
            if (EqualsIgnoringAsciiCase(word, u"false") || EqualsIgnoringAsciiCase(word, u"#false#")) {
                out = VARIANT_FALSE;
                return S_OK;
            }
            auto parsed = ParseNumber(word);
            if (!parsed) return DISP_E_TYPEMISMATCH;
            out = *parsed != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Fifteen significant digits, as VarBstrFromR8 writes them ("0.1", "1E+20").
std::string FormatReal(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    return buffer;
}

HRESULT ToText(const Value& value, USHORT flags, BSTR& out) {
    std::u16string text;
    switch (value.kind) {
        case Value::Empty: break;
        case Value::Integer: text = Widen(std::to_string(value.integer)); break;
        case Value::Real: text = Widen(FormatReal(value.real)); break;
        case Value::Boolean:
            // Windows writes words only when asked to; otherwise the number.
            if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
                text = value.integer != 0 ? u"True" : u"False";
            } else {
                text = Widen(std::to_string(value.integer));
            }
            break;
        case Value::Text: text = value.text; break;
        default: return DISP_E_TYPEMISMATCH;
    }
    out = AllocText(text);
    return out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT Convert(const VARIANT& source, USHORT flags, VARTYPE vt, VARIANT& out) {
    const Value value = Read(source);
    if (value.kind == Value::Unsupported) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) {
        out.vt = VT_EMPTY;
        return S_OK;
    }
    if (vt == VT_NULL) {
        if (value.kind != Value::Empty && value.kind != Value::Null) return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
        return S_OK;
    }
    if (value.kind == Value::Null) return DISP_E_TYPEMISMATCH;
    HRESULT hr = S_OK;
    switch (vt) {
        case VT_I2: {
            std::int64_t n = 0;
            hr = ToInteger(value, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max(), n);
            if (SUCCEEDED(hr)) out.iVal = static_cast<SHORT>(n);
            break;
        }
        case VT_I4: {
            std::int64_t n = 0;
            hr = ToInteger(value, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), n);
            if (SUCCEEDED(hr)) out.lVal = static_cast<LONG>(n);
            break;
        }
        case VT_R8: hr = ToReal(value, out.dblVal); break;
        case VT_BOOL: hr = ToBool(value, out.boolVal); break;
        case VT_BSTR: hr = ToText(value, flags, out.bstrVal); break;
        default: return DISP_E_BADVARTYPE;
    }
    if (SUCCEEDED(hr)) out.vt = vt;
    return hr;
}

// Gives `dest` what `value` owns once what `dest` held is cleared; when it
// cannot be, `value` is cleared instead and `dest` left as it was.
HRESULT MoveInto(VARIANT* dest, VARIANT& value) {
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&value);
        return hr;
    }
    *dest = value;
    return S_OK;
}

}  // namespace

// ---- BSTR -------------------------------------------------------------------

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(std::char_traits<char16_t>::length(psz)));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > (std::numeric_limits<UINT>::max() >> 1)) return nullptr;
    return AllocBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBytes(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (pbstr == nullptr) return FALSE;
    BSTR fresh = SysAllocString(psz);
    if (fresh == nullptr && psz != nullptr) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (pbstr == nullptr) return FALSE;
    BSTR fresh = SysAllocStringLen(psz, len);
    if (fresh == nullptr) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr) std::free(BlockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) return 0;
    std::uint32_t len = 0;
    std::memcpy(&len, BlockOf(bstr), kPrefix);
    return len;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR)); }

// ---- VARIANT ----------------------------------------------------------------

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return;
    std::memset(static_cast<void*>(pvarg), 0, sizeof(VARIANT));
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    if ((pvarg->vt & VT_BYREF) == 0) {
        switch (pvarg->vt) {
            case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
            case VT_DISPATCH:
                if (pvarg->pdispVal != nullptr) pvarg->pdispVal->Release();
                break;
            case VT_UNKNOWN:
                if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
                break;
            default:
                if ((pvarg->vt & VT_ARRAY) != 0) {
                    const HRESULT hr = SafeArrayDestroy(pvarg->parray);
                    if (FAILED(hr)) return hr;
                } else if ((pvarg->vt & VT_VECTOR) != 0 || pvarg->vt == VT_RECORD) {
                    return DISP_E_BADVARTYPE;
                }
                break;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if ((pvargSrc->vt & VT_VECTOR) != 0 || pvargSrc->vt == VT_RECORD) return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if ((pvargSrc->vt & VT_ARRAY) != 0 && (pvargSrc->vt & VT_BYREF) == 0) {
        copy.parray = nullptr;
        if (pvargSrc->parray != nullptr) {
            const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        }
    } else if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal != nullptr) {
        copy.bstrVal = AllocBytes(pvargSrc->bstrVal, SysStringByteLen(pvargSrc->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((pvargSrc->vt == VT_DISPATCH || pvargSrc->vt == VT_UNKNOWN) && pvargSrc->punkVal != nullptr) {
        pvargSrc->punkVal->AddRef();
    }
    return MoveInto(pvargDest, copy);
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
    if ((pvargSrc->vt & VT_BYREF) == 0) return VariantCopy(pvarDest, pvargSrc);
    if (pvargSrc->byref == nullptr) return E_INVALIDARG;
    const VARTYPE base = static_cast<VARTYPE>(pvargSrc->vt & ~VT_BYREF);
    VARIANT direct;
    VariantInit(&direct);
    switch (base) {
        case VT_VARIANT: {
            const VARIANT* inner = pvargSrc->pvarVal;
            if ((inner->vt & VT_BYREF) != 0 && (inner->vt & ~VT_BYREF) == VT_VARIANT) return E_INVALIDARG;
            VARIANT tmp;
            VariantInit(&tmp);
            const HRESULT hr = VariantCopyInd(&tmp, inner);
            if (FAILED(hr)) return hr;
            return MoveInto(pvarDest, tmp);
        }
        case VT_I1: direct.cVal = *pvargSrc->pcVal; break;
        case VT_UI1: direct.bVal = *pvargSrc->pbVal; break;
        case VT_I2: direct.iVal = *pvargSrc->piVal; break;
        case VT_UI2: direct.uiVal = *pvargSrc->puiVal; break;
        case VT_I4: direct.lVal = *pvargSrc->plVal; break;
        case VT_UI4: direct.ulVal = *pvargSrc->pulVal; break;
        case VT_INT: direct.intVal = *pvargSrc->pintVal; break;
        case VT_UINT: direct.uintVal = *pvargSrc->puintVal; break;
        case VT_I8: direct.llVal = *pvargSrc->pllVal; break;
        case VT_UI8: direct.ullVal = *pvargSrc->pullVal; break;
        case VT_R4: direct.fltVal = *pvargSrc->pfltVal; break;
        case VT_R8: direct.dblVal = *pvargSrc->pdblVal; break;
        case VT_CY: direct.cyVal = *pvargSrc->pcyVal; break;
        case VT_DATE: direct.date = *pvargSrc->pdate; break;
        case VT_BOOL: direct.boolVal = *pvargSrc->pboolVal; break;
        case VT_ERROR: direct.scode = *pvargSrc->pscode; break;
        case VT_BSTR: direct.bstrVal = *pvargSrc->pbstrVal; break;
        case VT_DISPATCH: direct.pdispVal = *pvargSrc->ppdispVal; break;
        case VT_UNKNOWN: direct.punkVal = *pvargSrc->ppunkVal; break;
        default: return DISP_E_BADVARTYPE;
    }
    direct.vt = base;
    return VariantCopy(pvarDest, &direct);  // duplicates what the reference points to
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
    VARIANT source;
    VariantInit(&source);
    HRESULT hr = VariantCopyInd(&source, pvarSrc);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    if (source.vt == vt) {
        result = source;  // takes over what the copy owns
        VariantInit(&source);
    } else {
        hr = Convert(source, wFlags, vt, result);
        VariantClear(&source);
        if (FAILED(hr)) return hr;
    }
    return MoveInto(pvargDest, result);
}

// ---- SAFEARRAY ---------------------------------------------------------------

namespace {

// The element type lives in front of the descriptor, as on Windows.
constexpr std::size_t kArrayHeader = 16;
constexpr USHORT kHaveVartype = 0x0080;

VARTYPE& VartypeOf(SAFEARRAY* psa) {
    return *reinterpret_cast<VARTYPE*>(reinterpret_cast<unsigned char*>(psa) - kArrayHeader);
}

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_VARIANT: return sizeof(VARIANT);
        case VT_BSTR: return sizeof(BSTR);
        case VT_DISPATCH:
        case VT_UNKNOWN: return sizeof(void*);
        case VT_I4: return sizeof(LONG);
        case VT_I2: return sizeof(SHORT);
        case VT_BOOL: return sizeof(VARIANT_BOOL);
        default: return 0;
    }
}

USHORT FeaturesOf(VARTYPE vt) {
    switch (vt) {
        case VT_VARIANT: return FADF_VARIANT;
        case VT_BSTR: return FADF_BSTR;
        case VT_DISPATCH: return FADF_DISPATCH;
        case VT_UNKNOWN: return FADF_UNKNOWN;
        default: return 0;
    }
}

bool IsValidArray(SAFEARRAY* psa) { return psa != nullptr && psa->cDims == 1 && (psa->fFeatures & kHaveVartype) != 0; }

void* ElementAt(SAFEARRAY* psa, LONG index) {
    return static_cast<unsigned char*>(psa->pvData) +
           static_cast<std::size_t>(index - psa->rgsabound[0].lLbound) * psa->cbElements;
}

// Releases what one element owns and zeroes it.
void ClearElement(VARTYPE vt, void* element) {
    switch (vt) {
        case VT_VARIANT: VariantClear(static_cast<VARIANT*>(element)); break;
        case VT_BSTR:
            SysFreeString(*static_cast<BSTR*>(element));
            *static_cast<BSTR*>(element) = nullptr;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            auto*& unknown = *static_cast<IUnknown**>(element);
            if (unknown != nullptr) unknown->Release();
            unknown = nullptr;
            break;
        }
        default: break;
    }
}

// Copies one element into zeroed storage.
HRESULT CopyElement(VARTYPE vt, const void* from, void* to, ULONG size) {
    switch (vt) {
        case VT_VARIANT: return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
        case VT_BSTR: {
            const BSTR text = *static_cast<const BSTR*>(from);
            if (text == nullptr) return S_OK;
            BSTR copy = AllocBytes(text, SysStringByteLen(text));
            if (copy == nullptr) return E_OUTOFMEMORY;
            *static_cast<BSTR*>(to) = copy;
            return S_OK;
        }
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            IUnknown* unknown = *static_cast<IUnknown* const*>(from);
            if (unknown != nullptr) unknown->AddRef();
            *static_cast<IUnknown**>(to) = unknown;
            return S_OK;
        }
        default: std::memcpy(to, from, size); return S_OK;
    }
}

}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    const ULONG size = ElementSize(vt);
    if (size == 0 || cElements > std::numeric_limits<ULONG>::max() / size) return nullptr;
    auto* block = static_cast<unsigned char*>(std::calloc(1, kArrayHeader + sizeof(SAFEARRAY)));
    if (block == nullptr) return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kArrayHeader);
    VartypeOf(psa) = vt;
    psa->cDims = 1;
    psa->fFeatures = static_cast<USHORT>(FeaturesOf(vt) | kHaveVartype);
    psa->cbElements = size;
    psa->rgsabound[0] = {cElements, lLbound};
    if (cElements > 0) {
        psa->pvData = std::calloc(cElements, size);
        if (psa->pvData == nullptr) {
            std::free(block);
            return nullptr;
        }
        if (vt == VT_VARIANT) {
            for (ULONG i = 0; i < cElements; ++i) VariantInit(static_cast<VARIANT*>(psa->pvData) + i);
        }
    }
    return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) return S_OK;
    if (!IsValidArray(psa)) return E_INVALIDARG;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    const VARTYPE vt = VartypeOf(psa);
    for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
        ClearElement(vt, static_cast<unsigned char*>(psa->pvData) + static_cast<std::size_t>(i) * psa->cbElements);
    }
    std::free(psa->pvData);
    std::free(reinterpret_cast<unsigned char*>(psa) - kArrayHeader);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (psa == nullptr) return S_OK;
    if (!IsValidArray(psa)) return E_INVALIDARG;
    const VARTYPE vt = VartypeOf(psa);
    SAFEARRAY* copy = SafeArrayCreateVector(vt, psa->rgsabound[0].lLbound, psa->rgsabound[0].cElements);
    if (copy == nullptr) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
        const std::size_t offset = static_cast<std::size_t>(i) * psa->cbElements;
        const HRESULT hr = CopyElement(vt, static_cast<unsigned char*>(psa->pvData) + offset,
                                       static_cast<unsigned char*>(copy->pvData) + offset, psa->cbElements);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!IsValidArray(psa) || plLbound == nullptr) return E_INVALIDARG;
    if (nDim != 1) return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!IsValidArray(psa) || plUbound == nullptr) return E_INVALIDARG;
    if (nDim != 1) return DISP_E_BADINDEX;
    *plUbound = static_cast<LONG>(psa->rgsabound[0].lLbound + static_cast<std::int64_t>(psa->rgsabound[0].cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!IsValidArray(psa) || pvt == nullptr) return E_INVALIDARG;
    *pvt = VartypeOf(psa);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!IsValidArray(psa) || ppvData == nullptr) return E_INVALIDARG;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    if (!IsValidArray(psa)) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!IsValidArray(psa) || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
    const LONG index = rgIndices[0];
    const std::int64_t offset = static_cast<std::int64_t>(index) - psa->rgsabound[0].lLbound;
    if (offset < 0 || offset >= psa->rgsabound[0].cElements) return DISP_E_BADINDEX;
    const VARTYPE vt = VartypeOf(psa);
    if (vt == VT_VARIANT) VariantInit(static_cast<VARIANT*>(pv));
    if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN) *static_cast<void**>(pv) = nullptr;
    return CopyElement(vt, ElementAt(psa, index), pv, psa->cbElements);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!IsValidArray(psa) || rgIndices == nullptr) return E_INVALIDARG;
    const LONG index = rgIndices[0];
    const std::int64_t offset = static_cast<std::int64_t>(index) - psa->rgsabound[0].lLbound;
    if (offset < 0 || offset >= psa->rgsabound[0].cElements) return DISP_E_BADINDEX;
    const VARTYPE vt = VartypeOf(psa);
    // For BSTR and interface arrays pv is the value itself, as on Windows.
    unsigned char staged[sizeof(VARIANT)] = {};
    const void* from = pv;
    if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        std::memcpy(staged, &pv, sizeof pv);
        from = staged;
    }
    if (from == nullptr) return E_INVALIDARG;
    unsigned char fresh[sizeof(VARIANT)] = {};
    if (vt == VT_VARIANT) VariantInit(reinterpret_cast<VARIANT*>(fresh));
    const HRESULT hr = CopyElement(vt, from, fresh, psa->cbElements);
    if (FAILED(hr)) return hr;
    void* slot = ElementAt(psa, index);
    ClearElement(vt, slot);
    std::memcpy(slot, fresh, psa->cbElements);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
    if (pperrinfo != nullptr) *pperrinfo = nullptr;
    return S_FALSE;
}

// ---- GUID text ---------------------------------------------------------------

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) return E_INVALIDARG;
    *pclsid = IID_NULL;
    if (lpsz == nullptr) return S_OK;
    std::u16string_view text(lpsz);
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return CO_E_CLASSSTRING;
    std::uint8_t bytes[16] = {};
    std::size_t pos = 1;
    for (int b = 0; b < 16; ++b) {
        if (pos == 9 || pos == 14 || pos == 19 || pos == 24) {
            if (text[pos] != u'-') return CO_E_CLASSSTRING;
            ++pos;
        }
        int high = HexDigitValue(text[pos]);
        int low = HexDigitValue(text[pos + 1]);
        if (high < 0 || low < 0) return CO_E_CLASSSTRING;
        bytes[b] = static_cast<std::uint8_t>(high * 16 + low);
        pos += 2;
    }
    if (pos != 37) return CO_E_CLASSSTRING;
    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    *pclsid = guid;
    return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < 39) return 0;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(rguid.Data1), static_cast<unsigned>(rguid.Data2),
                  static_cast<unsigned>(rguid.Data3), rguid.Data4[0], rguid.Data4[1], rguid.Data4[2],
                  rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int i = 0; i < 39; ++i) lpsz[i] = static_cast<OLECHAR>(buffer[i]);
    return 39;
}

