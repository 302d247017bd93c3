// A profile file as the component's reads see it, with the line of every
// section and key: the first section of each name, and in it the first line
// of each key (later ones no read ever reaches). Names and values are the
// file's bytes, in the system code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "profile/engine/profile_engine.h"

namespace quorvel::doctor {

struct IniKey {
    std::string name;
    std::string value;  // as a read returns it whole
    bool has_value = false;
    std::uint32_t line = 0;
};

// Profile names compare so: ASCII letters without regard to case (never the
// second byte of a double-byte character of the code page).
class Folder {
public:
    Folder();  // the system code page's
    std::string operator()(std::string_view name) const;

private:
    const profile::LeadBytes* leads_;
};

struct IniSection {
    std::string name;
    std::uint32_t line = 0;
    std::vector<IniKey> keys;
    // The key of that name (any letter case), or null.
    const IniKey* Find(std::string_view key) const;

    Folder fold;
    std::unordered_map<std::string, size_t> index;  // folded name -> keys
};

class IniFile {
public:
    static IniFile Parse(std::string_view bytes);

    const std::vector<IniSection>& sections() const { return sections_; }
    const IniSection* Find(std::string_view section) const;

private:
    Folder fold_;
    std::vector<IniSection> sections_;
    std::unordered_map<std::string, size_t> index_;  // folded name -> sections
};

}  // namespace quorvel::doctor
