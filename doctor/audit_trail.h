// The audit trail DllAudit.log as quorvel doctor reads and writes it (the
// format is the component's: component/frame/audit.h describes it; the doctor
// keeps to the description, since it stands below the call frame).
//
// Read: for each file the doctor checks, the last value the trail records
// for each of its items ("[SECTION]KEY" of a profile file, a user-list
// record by its domain and mailbox), so that a file whose content differs
// from what the component last wrote there is known to have been changed
// outside the component. What the trail never mentions is taken to predate
// it. Written: one line for each repair of a file or directory object, so
// that what the doctor changed is explained too (METHOD "Doctor", ACTION
// "REPAIR", RESULT 0).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel::doctor {

// A value of a change: absent ("-"), a secret ("***", never compared), or text.
struct TrailValue {
    enum class Kind { kAbsent, kSecret, kText } kind = Kind::kAbsent;
    std::u16string text;
    static TrailValue Absent() { return {}; }
    static TrailValue Of(std::u16string text) { return {Kind::kText, std::move(text)}; }
};

// The last change of one item of a file, and the line that records it.
struct LastChange {
    TrailValue after;
    std::int64_t log_line = 0;
    std::u16string call;  // "DATE TIME METHOD ACTION TARGET"
};

struct FileHistory {
    // "[SECTION]KEY", the section and key folded, for a profile file; the
    // domain and mailbox (75 characters) for a user list's records.
    std::unordered_map<std::u16string, LastChange> items;
    // The file replaced as a whole after the last change of an item ("SIZE
    // bytes MD5 HEX"), as a restore replaces it.
    std::optional<LastChange> whole;
};

class Trail {
public:
    // The trail at `path`; empty when it is not there.
    static Trail Load(const std::u16string& path);

    const std::u16string& path() const { return path_; }
    // Whether the file is there (the component keeps a trail).
    bool exists() const { return exists_; }
    // What the trail says of a file (by its name as the methods give it, in
    // any letter case), or null.
    const FileHistory* Of(const std::u16string& file) const;

    // The item name of a profile key, and of a user-list record.
    static std::u16string ProfileItem(std::u16string_view section, std::u16string_view key);
    static std::u16string RecordItem(std::u16string_view record);

private:
    static void Renumber(FileHistory& history, const std::vector<std::u16string>& args, const LastChange& change);

    std::u16string path_;
    bool exists_ = false;
    std::map<std::u16string, FileHistory> files_;  // by the file's folded name
};

// "[SECTION]KEY": a profile key as the trail names it.
std::u16string ItemName(std::u16string_view section, std::u16string_view key);

// One change of a repair: OBJECT, ITEM, OLD, NEW (nullopt: absent).
struct RepairChange {
    std::u16string object;
    std::u16string item;
    std::optional<std::u16string> before;
    std::optional<std::u16string> after;
};

// Appends the line of a repair of `target` to the trail; false when it
// cannot be written. Nothing when there are no changes.
bool WriteRepairLine(const std::u16string& trail_path, const std::u16string& target,
                     const std::vector<RepairChange>& changes);

// The folder of the component's logs: beside the registered library (on
// POSIX the folder QUORVEL_LOG_FOLDER names, when set), and the calling
// process's id and account, for the line.
std::u16string ComponentLogFolder();
std::uint32_t ProcessNumber();
std::u16string ProcessAccount();

}  // namespace quorvel::doctor
