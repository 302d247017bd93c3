// COM and OLE Automation types with their Windows names and layouts. The
// Windows build takes them from the system headers, the POSIX build from our
// own binary interface; component code includes only this header.
#pragma once

#if defined(_WIN32)
#include <objbase.h>
#include <olectl.h>
#include <oleauto.h>
#include <windows.h>
// A .def file exports the entry points on Windows.
#define QUORVEL_EXPORT
#else
#include "platform/posix/runtime/com_types.h"
#endif

#include <string>
#include <string_view>

namespace quorvel::platform {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "BSTRs hold UTF-16 code units");

inline std::u16string FromBstr(const OLECHAR* text) {
    if (text == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(const_cast<BSTR>(text)));
}

// Never null: the empty string is an allocated zero-length BSTR.
inline BSTR ToBstr(std::u16string_view text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

}  // namespace quorvel::platform
