#include "standins/iis/directory.h"

#include <utility>

#include "platform/utf8.h"

namespace quorvel::iis {
namespace {

constexpr std::int32_t kStarted = 2;
constexpr std::int32_t kStopped = 4;

bool IsValidName(std::u16string_view name) {
    return !name.empty() && name.find(u'/') == std::u16string_view::npos &&
           name.find(u'\\') == std::u16string_view::npos;
}

// The properties an object makes up rather than reads.
bool IsMadeUp(std::u16string_view property) {
    return IsKey(property, u"NAME") || IsKey(property, u"CLASS") || IsKey(property, u"ADSPATH") ||
           IsKey(property, u"PARENT");
}

}  // namespace

Entry::Entry(std::shared_ptr<Store> store, Text computer, Text path, Text cls, bool exists)
    : store_(std::move(store)), computer_(std::move(computer)), path_(std::move(path)), cls_(std::move(cls)),
      exists_(exists), loaded_(!exists) {}

Entry Entry::Bind(std::u16string_view ads_path) {
    if (ads_path.size() < 4 || UpperKey(ads_path.substr(0, 4)) != u"IIS:") throw DirectoryError(kBadPathName);
    return BindDisplayName(ads_path.substr(4));
}

Entry Entry::BindDisplayName(std::u16string_view rest) {
    if (rest.substr(0, 2) != u"//") throw DirectoryError(kBadPathName);
    rest.remove_prefix(2);
    while (!rest.empty() && rest.back() == u'/') rest.remove_suffix(1);
    const size_t slash = rest.find(u'/');
    const Text computer(rest.substr(0, slash));
    Text path(slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1));
    if (computer.empty()) throw DirectoryError(kBadPathName);
    if (path.find(u"//") != Text::npos) throw DirectoryError(kBadPathName);
    auto store = MachineStore();
    if (!store->IsComputerName(computer)) throw DirectoryError(kPathNotFound);
    auto node = store->Load(path);
    if (!node) throw DirectoryError(kPathNotFound);
    // The spelling of the path as created, not as asked for: the last name
    // as the object has it.
    if (!path.empty()) {
        const size_t last = path.rfind(u'/');
        const size_t start = last == Text::npos ? 0 : last + 1;
        if (path.compare(start, Text::npos, node->name) != 0) path.replace(start, Text::npos, node->name);
    }
    Entry entry(std::move(store), computer, std::move(path), std::move(node->cls), true);
    entry.properties_ = std::move(node->properties);
    entry.loaded_ = true;
    return entry;
}

Text Entry::name() const { return path_.empty() ? computer_ : LastName(path_); }

Text Entry::ads_path() const { return u"IIS://" + computer_ + (path_.empty() ? Text() : u"/" + path_); }

void Entry::Load() {
    auto node = store_->Load(path_);
    if (!node) throw DirectoryError(kPathNotFound);
    properties_ = std::move(node->properties);
    loaded_ = true;
}

void Entry::RequireExisting() const {
    if (!exists_) throw DirectoryError(kPathNotFound);
}

const Value* Entry::Stored(std::u16string_view property) {
    if (IsMadeUp(property)) return nullptr;
    // Every bind reads a property: the key is made in a buffer kept for it.
    thread_local Text key;
    UpperKeyInto(property, key);
    if (const auto it = written_.find(key); it != written_.end()) return &it->second.value;
    if (!loaded_) Load();
    if (properties_) {
        if (const auto it = properties_->find(key); it != properties_->end()) return &it->second.value;
    }
    return nullptr;
}

Value Entry::Get(std::u16string_view property) {
    if (const Value* stored = Stored(property)) return *stored;
    if (IsKey(property, u"NAME")) return name();
    if (IsKey(property, u"CLASS")) return cls_;
    if (IsKey(property, u"ADSPATH")) return ads_path();
    if (IsKey(property, u"PARENT")) {
        Text parent = u"IIS://" + computer_;
        if (const Text above = ParentPath(path_); !above.empty()) parent.append(u"/").append(above);
        return parent;
    }
    if (IsKey(property, u"SERVERSTATE") && IsKey(cls_, u"IISWEBSERVER")) return kStopped;
    throw DirectoryError(kPropertyNotFound);
}

void Entry::Put(std::u16string_view property, Value value) {
    const Text key = UpperKey(property);
    if (key.empty() || !IsStorable(property) || !IsStorableValue(value)) throw DirectoryError(kInvalidArgument);
    if (IsMadeUp(key)) throw DirectoryError(kNotSupported);
    written_[key] = Property{Text(property), std::move(value)};
}

void Entry::SetInfo() {
    if (exists_ && written_.empty()) return;
    Change change{exists_ ? Change::Kind::kPut : Change::Kind::kCreate, path_, cls_, written_};
    store_->Commit(change);
    exists_ = true;
    auto merged = properties_ ? std::make_shared<Properties>(*properties_) : std::make_shared<Properties>();
    for (auto& [key, property] : written_) (*merged)[key] = std::move(property);
    properties_ = std::move(merged);
    written_.clear();
}

void Entry::GetInfo() {
    RequireExisting();
    written_.clear();
    Load();
}

Entry Entry::Create(std::u16string_view cls, std::u16string_view name) {
    RequireExisting();
    if (!IsValidName(name) || cls.empty() || !IsStorable(name) || !IsStorable(cls))
        throw DirectoryError(kInvalidArgument);
    const Text path = JoinPath(path_, name);
    if (store_->Load(path)) throw DirectoryError(kAlreadyExists);
    return Entry(store_, computer_, path, Text(cls), false);
}

Entry Entry::GetObject(std::u16string_view cls, std::u16string_view name) {
    RequireExisting();
    if (!IsValidName(name)) throw DirectoryError(kPathNotFound);
    auto node = store_->Load(JoinPath(path_, name));
    if (!node || UpperKey(node->cls) != UpperKey(cls)) throw DirectoryError(kPathNotFound);
    Entry entry(store_, computer_, JoinPath(path_, node->name), node->cls, true);
    entry.properties_ = std::move(node->properties);
    entry.loaded_ = true;
    return entry;
}

void Entry::Delete(std::u16string_view cls, std::u16string_view name) {
    RequireExisting();
    if (!IsValidName(name)) throw DirectoryError(kPathNotFound);
    const Text path = JoinPath(path_, name);
    auto node = store_->Load(path);
    if (!node || UpperKey(node->cls) != UpperKey(cls)) throw DirectoryError(kPathNotFound);
    store_->Commit({Change::Kind::kDelete, path, {}, {}});
}

std::vector<Entry> Entry::Children() {
    std::vector<Entry> children;
    for (const Child& child : *ChildList()) children.push_back(MakeChild(child));
    return children;
}

ChildList Entry::ChildList() {
    RequireExisting();
    return store_->Children(path_);
}

Entry Entry::MakeChild(const Child& child) const {
    return Entry(store_, computer_, JoinPath(path_, child.name), child.cls, true);
}

void Entry::SetState(std::int32_t state) {
    RequireExisting();
    Properties properties;
    properties[u"SERVERSTATE"] = Property{u"ServerState", state};
    store_->Commit({Change::Kind::kPut, path_, {}, properties});
    auto merged = properties_ ? std::make_shared<Properties>(*properties_) : std::make_shared<Properties>();
    (*merged)[u"SERVERSTATE"] = properties[u"SERVERSTATE"];
    properties_ = std::move(merged);
}

void Entry::Start() { SetState(kStarted); }

void Entry::Stop() { SetState(kStopped); }

void Entry::AppCreate2(std::int32_t mode) {
    Put(u"AppRoot", u"/LM/" + path_);
    Put(u"AppIsolated", mode);
    SetInfo();
}

void Entry::Backup(std::u16string_view location, std::int32_t version, std::int32_t flags) {
    if (!IsStorable(location)) throw DirectoryError(kInvalidArgument);
    store_->Backup(location, version, flags);
}

void Entry::Restore(std::u16string_view location, std::int32_t version, std::int32_t) {
    store_->Restore(location, version);
    // This object reads the restored metabase from now on.
    written_.clear();
    loaded_ = false;
}

void Entry::DeleteBackup(std::u16string_view location, std::int32_t version) {
    store_->DeleteBackup(location, version);
}

TextList Entry::EnumBackups(std::u16string_view location) {
    TextList list;
    const Text wanted = UpperKey(location);
    for (const BackupInfo& backup : store_->Backups()) {
        if (!wanted.empty() && UpperKey(backup.name) != wanted) continue;
        list.push_back(backup.name + u'\t' + platform::FromUtf8(std::to_string(backup.version)) + u'\t' +
                       platform::FromUtf8(backup.made));
    }
    return list;
}

}  // namespace quorvel::iis
