// The Automation runtime of the POSIX build (BSTR, VARIANT, coercion) is
// declared with its Windows names in platform/posix/com_types.h; this header
// adds what the host and the tests need around it.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/com_types.h"

namespace quorvel::posix {

// Owns one VARIANT and clears it on destruction.
class VariantHolder {
public:
    VariantHolder() { VariantInit(&value_); }
    ~VariantHolder() { VariantClear(&value_); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;

    VARIANT* get() { return &value_; }
    const VARIANT* get() const { return &value_; }
    VARIANT* operator->() { return &value_; }

private:
    VARIANT value_;
};

}  // namespace quorvel::posix
