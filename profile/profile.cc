// The profile functions over the engine, the same in both builds: reads go
// through a per-process cache that a stamp of the file revalidates; every
// change is written back whole, atomically, under a lock that other processes
// (and other threads of this one) respect, so a reader sees either the old
// file or the new one. The system's part (files, the lock, the code page) is
// in profile_io.
//
// A call that changes nothing leaves the file alone (bytes and time). On a
// missing file, reads create nothing, but every write call that succeeds
// leaves at least an empty file, as Windows opens the file for writing before
// it looks inside: deleting a key or a section, or writing empty content for
// a section, creates a 0-byte file. A null section fails and touches nothing.
#include "profile/profile.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/profile_io.h"
#include "profile/engine/profile_engine.h"
#include "profile/profile_file.h"

namespace quorvel::profile {
namespace {

using platform::profile_io::LocalLock;
using platform::profile_io::LocalMutex;
using platform::profile_io::Lock;
using platform::profile_io::Stamp;
using platform::profile_io::Status;
using platform::profile_io::Target;

// ---- the cache of parsed files ----

struct CachedFile {
    LocalMutex mutex;
    bool loaded = false;
    Stamp stamp;
    ProfileEngine engine;
    // The buffer of the copy read before the current one: a file that another
    // program keeps changing is read into memory that already has its pages.
    std::string spare;
};

// Never destroyed: transactions of threads that end late still reach it.
LocalMutex& CacheMutex() {
    static auto* mutex = new LocalMutex();
    return *mutex;
}

std::unordered_map<std::string, std::shared_ptr<CachedFile>>& Cache() {
    static auto* cache = new std::unordered_map<std::string, std::shared_ptr<CachedFile>>();
    return *cache;
}

std::shared_ptr<CachedFile> CacheEntry(const std::string& key) {
    LocalLock guard(CacheMutex());
    auto& cache = Cache();
    if (cache.size() > 256) {
        for (auto it = cache.begin(); it != cache.end();)
            it = it->second.use_count() == 1 ? cache.erase(it) : std::next(it);
    }
    auto& slot = cache[key];
    if (!slot) slot = std::make_shared<CachedFile>();
    return slot;
}

// Brings the entry up to date with the file; false when the file can't be read.
// The caller holds the entry's mutex.
bool Revalidate(CachedFile& entry, const std::string& path) {
    const LeadBytes& leads = platform::profile_io::AnsiLeadBytes();
    const bool cached = entry.loaded && entry.engine.leads() == &leads;
    std::string bytes = std::move(entry.spare);
    Stamp stamp;
    const Status r = platform::profile_io::Read(path, bytes, stamp, cached ? &entry.stamp : nullptr);
    if (r == Status::kUnchanged || r == Status::kError) {
        entry.spare = std::move(bytes);
        if (r == Status::kError) entry.loaded = false;
        return r == Status::kUnchanged;
    }
    entry.spare = ProfileEngine::Recycle(std::exchange(entry.engine, ProfileEngine::Parse(std::move(bytes), leads)));
    entry.stamp = stamp;
    entry.loaded = true;
    return true;
}

// Writes the engine's bytes (or an empty file) and keeps the entry current.
bool Store(CachedFile& entry, const std::string& path, bool changed) {
    Stamp stamp;
    if (!platform::profile_io::Replace(path, changed ? entry.engine.Serialize() : std::string(), stamp)) {
        entry.loaded = false;
        return false;
    }
    // Unknown, the copy is read again next time.
    entry.stamp = stamp;
    entry.loaded = stamp.exists;
    return true;
}

// ---- what the changes did, for the thread's observer ----

thread_local ChangeObserver* t_observer = nullptr;

std::string_view Trimmed(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The keys that changes touched, each with its value before the first of
// them; told to the observer with their values once the changes are stored.
// A numbered list closed up in one pass is told as one renumbering, in its
// place among the changes: those noted before it are settled with the values
// they had just before it.
class Journal {
public:
    // Before a change of `key`, or of the whole section when there is none.
    void Before(const ProfileEngine& engine, std::string_view section, ProfileName key) {
        if (key) {
            Note(engine, section, *key, engine.StoredValue(section, *key));
            return;
        }
        for (const std::string& name : KeyNames(engine, section))
            Note(engine, section, name, engine.StoredValue(section, name));
    }
    // After a change of a whole section: a key it brought had no value before.
    void AfterSection(const ProfileEngine& engine, std::string_view section) {
        for (const std::string& name : KeyNames(engine, section)) Note(engine, section, name, std::nullopt);
    }
    // Before a renumbering: what was noted so far takes its values as they are now.
    void Settle(const ProfileEngine& engine) {
        for (Touched& t : touched_) {
            const std::optional<std::string_view> after = engine.StoredValue(t.section, t.key);
            if (t.before != after)
                settled_.push_back({std::move(t), after ? std::optional<std::string>(*after) : std::nullopt, {}});
        }
        touched_.clear();
        seen_.clear();
    }
    // After it: the keys PREFIX FIRST..LAST of the section took the numbers one lower.
    void Renumbered(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last) {
        settled_.push_back({{std::string(Trimmed(section)), std::string(prefix), std::nullopt}, std::nullopt,
                            Renumbering{first, last}});
    }
    // The keys whose value differs now, then nothing more.
    void Deliver(const ProfileEngine& engine, std::string_view file) {
        if (t_observer != nullptr) {
            for (const Settled& s : settled_) {
                if (s.renumbering) {
                    t_observer->KeysRenumbered(file, s.key.section, s.key.key, s.renumbering->first,
                                               s.renumbering->last);
                } else {
                    t_observer->KeyChanged(file, s.key.section, s.key.key, View(s.key.before), View(s.after));
                }
            }
            for (const Touched& t : touched_) {
                const std::optional<std::string_view> after = engine.StoredValue(t.section, t.key);
                if (View(t.before) != after) t_observer->KeyChanged(file, t.section, t.key, View(t.before), after);
            }
        }
        touched_.clear();
        seen_.clear();
        settled_.clear();
    }

private:
    struct Touched {
        std::string section;
        std::string key;
        std::optional<std::string> before;
    };
    struct Renumbering {
        uint32_t first, last;
    };
    struct Settled {
        Touched key;  // a key with its value before, or a renumbering's section and prefix
        std::optional<std::string> after;
        std::optional<Renumbering> renumbering;
    };

    static std::optional<std::string_view> View(const std::optional<std::string>& value) {
        return value ? std::optional<std::string_view>(*value) : std::nullopt;
    }

    static std::vector<std::string> KeyNames(const ProfileEngine& engine, std::string_view section) {
        std::string list;
        engine.GetString(section, std::nullopt, 1u << 30, list);
        std::vector<std::string> names;
        for (size_t pos = 0; pos < list.size();) {
            const size_t end = std::min(list.find('\0', pos), list.size());
            names.emplace_back(list, pos, end - pos);
            pos = end + 1;
        }
        return names;
    }

    void Note(const ProfileEngine& engine, std::string_view section, std::string_view key,
              std::optional<std::string_view> before) {
        section = Trimmed(section);
        key = Trimmed(key);
        std::string id = FoldProfileName(section, *engine.leads());
        id += '\0';
        id += FoldProfileName(key, *engine.leads());
        if (!seen_.insert(std::move(id)).second) return;
        touched_.push_back({std::string(section), std::string(key),
                            before ? std::optional<std::string>(*before) : std::nullopt});
    }

    std::vector<Touched> touched_;
    std::unordered_set<std::string> seen_;
    std::vector<Settled> settled_;
};

// ---- transactions ----

struct TransactionState {
    Target target;
    Lock lock;
    ProfileEngine engine;
    std::string name;         // the file as the caller named it
    Journal journal;          // what the changes touched, when a thread observes them
    bool registered = false;  // routed to by this thread's calls
    bool exists = false;      // the file is on disk
    bool written = false;     // the transaction wrote the file
    Stamp found;              // the file's stamp when the transaction began
    Stamp wrote;              // and when it wrote it last
    bool dirty = false;       // the copy differs from the file
    bool touch = false;       // a call that changed nothing still creates a missing file
    bool failed = false;      // a write failed: the copy may not be what the file holds
    bool refused = false;     // a change was refused for want of the lock

    TransactionState(Target t, Lock l) : target(std::move(t)), lock(std::move(l)) {}
    ~TransactionState();
    TransactionState(const TransactionState&) = delete;
    TransactionState& operator=(const TransactionState&) = delete;

    const std::string& path() const { return target.path; }

    bool Commit() {
        if (!lock.held()) return !refused;
        if (dirty) {
            if (!platform::profile_io::Replace(path(), engine.Serialize(), wrote)) {
                failed = true;
                return false;
            }
            dirty = false;
            touch = false;
            exists = true;
            written = true;
        } else if (touch && !exists) {
            if (!platform::profile_io::Replace(path(), {}, wrote)) return false;
            touch = false;
            exists = true;
            written = true;
        }
        journal.Deliver(engine, name);
        return true;
    }
};

// This thread's transactions by file key, and by the names callers gave, so that
// calls inside a transaction need not resolve the name again.
struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <typename T>
using StringMap = std::unordered_map<std::string, T, StringHash, std::equal_to<>>;

thread_local StringMap<std::weak_ptr<TransactionState>> t_transactions;
thread_local StringMap<std::weak_ptr<TransactionState>> t_transaction_names;

std::shared_ptr<TransactionState> TransactionFor(const std::string& key) {
    if (t_transactions.empty()) return nullptr;
    const auto it = t_transactions.find(key);
    return it == t_transactions.end() ? nullptr : it->second.lock();
}

std::shared_ptr<TransactionState> TransactionNamed(std::string_view file) {
    if (t_transaction_names.empty()) return nullptr;
    const auto it = t_transaction_names.find(file);
    return it == t_transaction_names.end() ? nullptr : it->second.lock();
}

// The transaction of this thread on the file, by the name given or by the file.
std::shared_ptr<TransactionState> TransactionOf(std::string_view file, Target& target) {
    if (auto transaction = TransactionNamed(file)) return transaction;
    target = platform::profile_io::Resolve(file);
    if (target.key.empty()) return nullptr;
    return TransactionFor(target.key);
}

// The last handle of a transaction is gone: write what is pending, give the copy
// back to the cache, then (members) release the lock.
TransactionState::~TransactionState() {
    if (!registered) return;
    t_transactions.erase(target.key);
    for (auto it = t_transaction_names.begin(); it != t_transaction_names.end();)
        it = it->second.expired() ? t_transaction_names.erase(it) : std::next(it);
    const bool committed = Commit();
    auto entry = CacheEntry(target.key);
    LocalLock guard(entry->mutex);
    // Under the lock the file is as the transaction found it unless it wrote it.
    const Stamp& stamp = written ? wrote : found;
    if (committed && !failed && stamp.exists == exists) {
        entry->engine = std::move(engine);
        entry->stamp = stamp;
        entry->loaded = true;
    } else {
        entry->loaded = false;
    }
}

// One change, applied to the thread's transaction copy or to the file, with
// what the journal is told before and after it (when a thread observes).
template <typename Op, typename Before, typename After>
bool Change(std::string_view file, Op&& op, Before&& before, After&& after) {
    Target target;
    if (auto transaction = TransactionOf(file, target)) {
        // A transaction that could not take the lock reads, but changes nothing.
        if (!transaction->lock.held()) {
            transaction->refused = true;
            return false;
        }
        if (t_observer != nullptr) before(transaction->journal, transaction->engine);
        const ProfileEngine::Result r = op(transaction->engine);
        if (t_observer != nullptr) after(transaction->journal, transaction->engine, r);
        if (!r.ok) return false;
        if (r.changed) transaction->dirty = true;
        if (!transaction->exists) transaction->touch = true;
        return true;
    }
    if (target.key.empty()) return false;
    Lock lock(target.key, target.path);
    if (!lock.held()) return false;
    auto entry = CacheEntry(target.key);
    LocalLock guard(entry->mutex);
    if (!Revalidate(*entry, target.path)) return false;
    std::optional<Journal> journal;
    if (t_observer != nullptr) before(journal.emplace(), entry->engine);
    const ProfileEngine::Result r = op(entry->engine);
    if (!r.ok) return false;
    if (!r.changed && entry->stamp.exists) return true;
    // A change, or a call on a missing file, which leaves at least an empty file.
    if (!Store(*entry, target.path, r.changed)) return false;
    if (journal) {
        after(*journal, entry->engine, r);
        journal->Deliver(entry->engine, file);
    }
    return true;
}

// A change of `key`, or of the whole section when there is none.
template <typename Op>
bool Apply(std::string_view file, std::string_view section, ProfileName key, Op&& op) {
    return Change(
        file, op, [&](Journal& journal, const ProfileEngine& engine) { journal.Before(engine, section, key); },
        [&](Journal& journal, const ProfileEngine& engine, const ProfileEngine::Result&) {
            if (!key) journal.AfterSection(engine, section);
        });
}

// A read of the thread's transaction copy, or of the file through the cache;
// `none` when the file cannot be read.
template <typename R, typename Op>
R Read(std::string_view file, R none, Op&& op) {
    Target target;
    if (auto transaction = TransactionOf(file, target)) return op(transaction->engine);
    if (target.key.empty()) return none;
    std::optional<Lock> lock;
    if (platform::profile_io::kReadersTakeTheLock) {
        lock.emplace(target.key, target.path);
        if (!lock->held()) return none;
    }
    auto entry = CacheEntry(target.key);
    LocalLock guard(entry->mutex);
    if (!Revalidate(*entry, target.path)) return none;
    return op(entry->engine);
}

}  // namespace

uint32_t ProfileGetString(ProfileName section, ProfileName key, uint32_t size, std::string_view file,
                          std::string& value) {
    value.clear();
    return Read(file, 0u, [&](const ProfileEngine& e) { return e.GetString(section, key, size, value); });
}

void ForEachNumberedValue(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last,
                          uint32_t size, const std::function<bool(const std::string&)>& visit, std::string_view file) {
    Read(file, false, [&](const ProfileEngine& e) {
        e.ForEachNumberedValue(section, prefix, first, last, size, visit);
        return true;
    });
}

bool ProfileWriteString(ProfileName section, ProfileName key, ProfileName value, std::string_view file) {
    if (!section) return !key && !value;  // all null only flushes, which we never need
    return Apply(file, *section, key, [&](ProfileEngine& e) {
        return e.WriteString(section, key, value);
    });
}

bool ProfileWriteSection(ProfileName section, ProfileName content, std::string_view file) {
    if (!section) return !content;
    return Apply(file, *section, std::nullopt, [&](ProfileEngine& e) { return e.WriteSection(section, content); });
}

uint32_t GetPrivateProfileString(std::string_view section, std::string_view key, uint32_t size,
                                 std::string_view file, std::string& value) {
    return ProfileGetString(section, key, size, file, value);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, std::string_view file) {
    return ProfileWriteString(section, key, value, file);
}

bool WritePrivateProfileSection(std::string_view section, std::optional<std::string_view> content,
                                std::string_view file) {
    return ProfileWriteSection(section, content, file);
}

GapClose CloseNumberedGap(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last,
                          std::string_view file) {
    bool regular = true;
    std::optional<uint32_t> moved;
    const bool ok = Change(
        file,
        [&](ProfileEngine& e) {
            moved = e.CloseNumberedGap(section, prefix, first, last);
            regular = moved.has_value();
            return ProfileEngine::Result{regular, regular && *moved >= first};
        },
        [&](Journal& journal, const ProfileEngine& engine) { journal.Settle(engine); },
        [&](Journal& journal, const ProfileEngine&, const ProfileEngine::Result& r) {
            if (r.changed) journal.Renumbered(section, prefix, first, *moved);
        });
    if (!regular) return GapClose::kIrregular;
    return ok ? GapClose::kClosed : GapClose::kFailed;
}

struct ProfileTransaction::Impl {
    std::shared_ptr<TransactionState> state;  // shared by the transactions this thread nests on one file
};

ProfileTransaction::ProfileTransaction(std::string_view file) : impl_(std::make_unique<Impl>()) {
    Target target = platform::profile_io::Resolve(file);
    if (target.key.empty()) return;
    if (auto existing = TransactionFor(target.key)) {  // this thread already holds the file: join
        impl_->state = std::move(existing);
        return;
    }
    Lock lock(target.key, target.path);
    auto state = std::make_shared<TransactionState>(std::move(target), std::move(lock));
    {
        auto entry = CacheEntry(state->target.key);
        LocalLock guard(entry->mutex);
        if (!Revalidate(*entry, state->path())) return;
        if (state->lock.held()) {
            // The transaction owns the parsed copy until it ends; readers elsewhere
            // parse the old file again if they need it.
            state->engine = std::move(entry->engine);
            entry->loaded = false;
        } else {
            state->engine = ProfileEngine::Parse(entry->engine.Serialize(), *entry->engine.leads());
        }
        state->exists = entry->stamp.exists;
        state->found = entry->stamp;
    }
    state->name = std::string(file);
    state->registered = true;
    t_transactions[state->target.key] = state;
    t_transaction_names[std::string(file)] = state;
    impl_->state = std::move(state);
}

ProfileTransaction::~ProfileTransaction() = default;

bool ProfileTransaction::locked() const { return impl_->state != nullptr && impl_->state->lock.held(); }

ChangeObserver* ObserveChanges(ChangeObserver* observer) {
    ChangeObserver* const previous = t_observer;
    t_observer = observer;
    return previous;
}

bool ProfileTransaction::Commit() { return impl_->state ? impl_->state->Commit() : false; }

}  // namespace quorvel::profile
