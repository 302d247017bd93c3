// The IIS metabase of the stand-in: a tree of named objects below the
// computer, each with a class and typed properties, kept in a store that
// commits every change as one transaction.
//
// Paths are relative to the computer ("W3SVC/1/ROOT"; "" is the computer
// itself). Names of objects, classes and properties match without regard to
// ASCII case; an object keeps the spelling it was created with.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/ascii.h"

namespace quorvel::iis {

using Text = std::u16string;
using TextList = std::vector<std::u16string>;

// A property keeps the type it was written with.
using Value = std::variant<Text, std::int32_t, std::int16_t, bool, TextList>;
enum class ValueType : int { kString = 0, kLong = 1, kShort = 2, kBool = 3, kList = 4 };

struct Property {
    Text name;
    Value value;
};
// Keyed by the upper-cased name.
using Properties = std::map<Text, Property>;
// An object's properties as committed, shared by the store's copy and every
// object bound to it; never changed once made (a change makes a new one).
using SharedProperties = std::shared_ptr<const Properties>;

struct Node {
    Text name;
    Text cls;
    SharedProperties properties;  // never null
    std::vector<Text> children;   // keys, in the order they were created
};

struct Child {
    Text name;
    Text cls;
};
// Shared, never null.
using ChildList = std::shared_ptr<const std::vector<Child>>;

struct BackupInfo {
    Text name;
    std::int32_t version;
    std::string made;  // UTC, "YYYY-MM-DD HH:MM:SS"
};

// HRESULTs a client of the directory sees.
enum : std::uint32_t {
    kPathNotFound = 0x80070003u,    // the object does not exist
    kFileNotFound = 0x80070002u,    // no backup of that name and version
    kAlreadyExists = 0x800700B7u,   // Create of a name that exists
    kInvalidArgument = 0x80070057u,
    kStoreFailure = 0x80004005u,    // the store could not be read or written
};

// A failed directory operation, carrying its HRESULT.
class DirectoryError : public std::runtime_error {
public:
    explicit DirectoryError(std::uint32_t code) : std::runtime_error("directory operation failed"), code_(code) {}
    std::int32_t code() const { return static_cast<std::int32_t>(code_); }

private:
    std::uint32_t code_;
};

// The key of an object's path, a class or a property name: its ASCII upper case.
inline Text UpperKey(std::u16string_view text) { return base::ToUpperAscii(text); }
// The same into `out`, whose buffer is reused (a bind spares an allocation).
void UpperKeyInto(std::u16string_view text, Text& out);
// Whether `text` is `upper` (a key) without regard to ASCII case.
bool IsKey(std::u16string_view text, std::u16string_view upper);
Text JoinPath(std::u16string_view parent, std::u16string_view name);
// "" for a top-level object.
Text ParentPath(std::u16string_view path);
Text LastName(std::u16string_view path);

// Whether the store keeps the text as it is: well-formed UTF-16. An unpaired
// surrogate would come back as U+FFFD, and two names that differ only there
// would become one, which the store could no longer read.
bool IsStorable(std::u16string_view text);
bool IsStorableValue(const Value& value);

ValueType TypeOf(const Value& value);
// The text a store keeps for a value: strings as they are, numbers in
// decimal, Booleans 1/0, lists with their elements escaped and joined by TAB.
std::string EncodeValue(const Value& value);
std::optional<Value> DecodeValue(ValueType type, std::string_view text);

// A property that holds a password (AnonymousUserPass and its kin) is kept
// sealed at rest, as the real metabase keeps it encrypted, and reads back as
// it was written. Stores keep a property as a type number and a text: the
// ValueType and EncodeValue, except for a secret string, which is type
// kSealedString with its sealed form. A store written before secrets were
// sealed holds them as plain strings, which read as they always did.
inline constexpr int kSealedString = 5;
bool IsSecretProperty(std::u16string_view name);
struct StoredValue {
    int type;
    std::string text;
};
// Raises kStoreFailure when a secret cannot be sealed.
StoredValue StoredForm(const Property& property);
std::optional<Value> ValueOfStored(int type, std::string_view text);

// The machine's sealing of secrets (a key of the machine's, kept beside the
// POSIX store; the system's machine-wide data protection on Windows), in
// printable text; nullopt when it cannot be done.
std::optional<std::string> SealSecret(std::string_view plain);
std::optional<std::string> OpenSecret(std::string_view sealed);

// One committed change: an object created (with its first properties),
// properties written on an existing one, or an object removed with
// everything below it.
struct Change {
    enum class Kind { kCreate, kPut, kDelete };
    Kind kind = Kind::kPut;
    Text path;  // as the caller spells it
    Text cls;   // kCreate
    Properties properties;
};

// The whole metabase in memory.
class Tree {
public:
    // The computer with an empty W3SVC, as on a fresh machine.
    Tree();

    const Node* Find(std::u16string_view path) const;
    // The children of the object at `path`, in the order they were created;
    // null when there is no such object. Kept until the tree changes: the web
    // service may hold thousands, counted by every call that looks for a site.
    ChildList Children(std::u16string_view path) const;
    // By a key as the tree keeps it (upper case), as in Node::children.
    const Node* FindKey(const Text& key) const {
        const auto it = nodes_.find(key);
        return it == nodes_.end() ? nullptr : &it->second;
    }
    // Raises the error the change would meet, without changing anything (a
    // name or value the store cannot keep is an invalid argument).
    void Check(const Change& change) const;
    void Apply(const Change& change);
    size_t size() const { return nodes_.size(); }

    // One text that Parse reads back into the same tree (backups, the file store).
    std::string Serialize() const;
    static std::optional<Tree> Parse(std::string_view text);

    // Every object in creation order below its parent, parents first.
    template <typename Visit>
    void Walk(Visit&& visit) const {
        WalkFrom(Text(), visit);
    }

private:
    template <typename Visit>
    void WalkFrom(const Text& key, Visit& visit) const {
        const Node& node = nodes_.at(key);
        visit(key, node);
        for (const Text& child : node.children) WalkFrom(child, visit);
    }

    void Remove(const Text& key);

    std::unordered_map<Text, Node> nodes_;
    // The lists Children gave, by key; a list nobody else holds is changed
    // in place by Apply (a site added to thousands is not a new list).
    mutable std::unordered_map<Text, std::shared_ptr<std::vector<Child>>> children_;
    // The list kept for `key` when only this tree holds it; null otherwise,
    // and then it is dropped.
    std::vector<Child>* OwnList(const Text& key);
};

// Where the metabase lives; one per machine, shared by every object of the
// process. Reads see every change committed before them, by this process or
// another.
class Store {
public:
    virtual ~Store() = default;

    // The computer this metabase belongs to is `name` (or localhost).
    virtual bool IsComputerName(std::u16string_view name);

    virtual std::optional<Node> Load(std::u16string_view path) = 0;
    virtual ChildList Children(std::u16string_view path) = 0;
    // One transaction; raises DirectoryError when the change cannot be made
    // on the current metabase (nothing is changed then).
    virtual void Commit(const Change& change) = 0;

    // Replaces the whole metabase in one transaction (Restore, and tools
    // that load a prepared one).
    virtual void Import(const Tree& tree) = 0;

    // flags bit 1: overwrite an existing version. Version -1: the next free one.
    virtual void Backup(std::u16string_view name, std::int32_t version, std::int32_t flags) = 0;
    // Version -2: the highest one.
    virtual void Restore(std::u16string_view name, std::int32_t version) = 0;
    virtual void DeleteBackup(std::u16string_view name, std::int32_t version) = 0;
    virtual std::vector<BackupInfo> Backups() = 0;
};

inline constexpr std::int32_t kNextVersion = -1;
inline constexpr std::int32_t kHighestVersion = -2;
inline constexpr std::int32_t kOverwrite = 1;

// The store of the current machine (the SQLite database in the machine
// folder on POSIX, a file replaced under a named mutex on Windows); raises
// DirectoryError when it cannot be opened.
std::shared_ptr<Store> MachineStore();

// A caller asked for a class object: a call of theirs begins. The store's
// next read checks that its files are still the ones at their paths (the
// machine folder may have been removed and made again since), which reads
// between two asks skip.
void LookAtStoreAgain();
std::uint64_t LookAtStoreAgainCount();

// The computer's own name as the directory knows it; "localhost" also binds.
bool IsThisComputer(std::u16string_view name);

}  // namespace quorvel::iis
