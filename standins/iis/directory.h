// The objects of the IIS directory as a client sees them, without COM: an
// object bound by its ADsPath keeps the properties it read (shared with the
// store's copy, not copied), collects
// written ones until SetInfo commits them, and creates, finds and deletes
// its children.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standins/iis/metabase.h"

namespace quorvel::iis {

enum : std::uint32_t {
    kPropertyNotFound = 0x8000500Du,  // never written and without a default
    kNotSupported = 0x80005006u,      // a read-only property written
    kBadPathName = 0x80005000u,       // an ADsPath that is not IIS://COMPUTER[/...]
};

class Entry {
public:
    // "IIS://NAME[/path]": NAME is this computer or localhost. A path that
    // does not name an object raises 0x80070003.
    static Entry Bind(std::u16string_view ads_path);
    // The part after "IIS:" as a moniker gives it ("//NAME/W3SVC/1").
    static Entry BindDisplayName(std::u16string_view rest);

    const Text& path() const { return path_; }   // below the computer, "" for it
    Text name() const;
    const Text& cls() const { return cls_; }
    Text ads_path() const;
    bool IsComputer() const { return path_.empty(); }

    Value Get(std::u16string_view property);
    // The value Get gives when it is one written or read (not one the object
    // makes up, as its name, or a default); null otherwise. Valid until the
    // object is changed.
    const Value* Stored(std::u16string_view property);
    void Put(std::u16string_view property, Value value);
    // Commits what was written since the last SetInfo (and, for an object
    // made by Create, the object itself) in one transaction.
    void SetInfo();
    // Reads the object again, dropping writes not committed.
    void GetInfo();

    // A new object, made in the store at its SetInfo. Raises 0x800700B7
    // when the name exists.
    Entry Create(std::u16string_view cls, std::u16string_view name);
    Entry GetObject(std::u16string_view cls, std::u16string_view name);
    // Removes the child with everything below it, at once.
    void Delete(std::u16string_view cls, std::u16string_view name);
    std::vector<Entry> Children();
    // The same in two steps, for a caller that makes the objects one by one
    // (For Each over thousands of sites): the list as it is now, and each
    // child's object from its element.
    iis::ChildList ChildList();
    Entry MakeChild(const Child& child) const;

    // Sites: ServerState 2 (started) or 4 (stopped), committed at once.
    void Start();
    void Stop();
    // Virtual directories: an application root with the isolation mode.
    void AppCreate2(std::int32_t mode);

    // The computer: backups of the whole metabase.
    void Backup(std::u16string_view location, std::int32_t version, std::int32_t flags);
    void Restore(std::u16string_view location, std::int32_t version, std::int32_t flags);
    void DeleteBackup(std::u16string_view location, std::int32_t version);
    // One element per backup: name, TAB, version, TAB, date (UTC).
    TextList EnumBackups(std::u16string_view location);

private:
    Entry(std::shared_ptr<Store> store, Text computer, Text path, Text cls, bool exists);
    void Load();
    void RequireClass(std::u16string_view cls) const;
    void RequireExisting() const;
    void SetState(std::int32_t state);

    std::shared_ptr<Store> store_;
    Text computer_;  // as the client spelled it
    Text path_;
    Text cls_;
    bool exists_;    // false until the SetInfo of a Create
    bool loaded_ = false;
    SharedProperties properties_;  // as last read or committed; null for none
    Properties written_;
};

}  // namespace quorvel::iis
