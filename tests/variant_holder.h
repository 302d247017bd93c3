// Owns one VARIANT of the POSIX Automation runtime and clears it on
// destruction, for the runtime's own tests.
#pragma once

#include "platform/posix/runtime/com_types.h"

namespace quorvel::test {

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

}  // namespace quorvel::test
