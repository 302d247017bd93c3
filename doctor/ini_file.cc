#include "doctor/ini_file.h"

#include "platform/profile_io.h"
#include "profile/engine/profile_engine.h"

namespace quorvel::doctor {

Folder::Folder() : leads_(&platform::profile_io::AnsiLeadBytes()) {}

std::string Folder::operator()(std::string_view name) const { return profile::FoldProfileName(name, *leads_); }

const IniKey* IniSection::Find(std::string_view key) const {
    const auto it = index.find(fold(key));
    return it == index.end() ? nullptr : &keys[it->second];
}

const IniSection* IniFile::Find(std::string_view section) const {
    const auto it = index_.find(fold_(section));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

IniFile IniFile::Parse(std::string_view bytes) {
    using View = profile::ProfileEngine::LineView;
    IniFile file;
    const Folder& fold = file.fold_;
    const profile::ProfileEngine engine =
        profile::ProfileEngine::Parse(std::string(bytes), platform::profile_io::AnsiLeadBytes());
    IniSection* current = nullptr;
    engine.ForEachLine([&](const View& line) {
        if (line.type == View::Type::kHeader) {
            current = nullptr;
            if (!line.first) return;
            file.index_.emplace(fold(*line.section), file.sections_.size());
            current = &file.sections_.emplace_back();
            current->fold = fold;
            current->name = std::string(*line.section);
            current->line = line.number;
        } else if (line.type == View::Type::kKey && current != nullptr && line.first) {
            current->index.emplace(fold(line.key), current->keys.size());
            current->keys.push_back({std::string(line.key), std::string(line.value), line.has_value, line.number});
        }
    });
    return file;
}

}  // namespace quorvel::doctor
