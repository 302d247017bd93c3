// The classes of the stand-in library: the outside components the
// component reaches (directory providers bound by moniker, components
// created by ProgID), each registered under its ProgID (for a provider: the
// moniker's prefix, "IIS", "WinNT").
#pragma once

#include <span>

#include "automation/automation.h"

namespace quorvel::standins {

struct StandinClass {
    const char* clsid;      // "{...}", upper case
    const char* prog_id;    // ProgID or moniker prefix
    const char* name;       // the class key's default value
    automation::ClassObject::CreateFn create;  // nullptr for a provider
    automation::ClassObject::BindFn bind;      // nullptr for a ProgID class
};

std::span<const StandinClass> Classes();

}  // namespace quorvel::standins
