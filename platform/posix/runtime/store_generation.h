// A store's generation: a number in a small file beside the store's database
// (registry.db-generation beside registry.db), mapped into every process that
// uses the store, and moved by every commit made through the store. A process
// that keeps answers of the store in memory compares the number with the one
// its answers were read under: one load from shared memory, no system call,
// and a commit of any process is seen at the next look.
//
// A commit moves the number twice: to odd before its transaction begins and
// to even once it has ended, and writers take turns under an exclusive lock
// on the file, which the system drops when a writer dies. Answers are kept
// only under an even number that is the same before and after they were
// read. So a commit under way, or one whose writer died in the middle (the
// number stays odd until the next writer), makes every kept answer stale;
// it never leaves one looking current.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace quorvel::posix {

class StoreGeneration {
public:
    // What answers are kept under: the number in the file, and this process's
    // own commits (counted here too, so that they are seen even when the file
    // at the path is no longer the one mapped).
    struct Mark {
        std::uint64_t shared = 0;
        std::uint64_t local = 0;
        bool operator==(const Mark&) const = default;
    };

    // One commit's turn, taken before its transaction begins and ended after
    // its end, whether it committed or not. False when the number cannot be
    // moved; the commit must then not be made, or readers would miss it.
    class Turn {
    public:
        Turn(Turn&& other) noexcept;
        Turn& operator=(Turn&&) = delete;
        Turn(const Turn&) = delete;
        ~Turn() { End(); }
        explicit operator bool() const { return word_ != nullptr; }
        // The mark readers will see once this turn has ended, as long as no
        // other commit follows: answers read inside the turn after its
        // commit may be kept under it.
        Mark MarkAfter() const { return {odd_ + 1, local_after_}; }
        void End();

    private:
        friend class StoreGeneration;
        explicit Turn(StoreGeneration* owner) : owner_(owner) {}
        StoreGeneration* owner_;
        int fd_ = -1;
        std::uint64_t* word_ = nullptr;
        std::uint64_t odd_ = 0;
        std::uint64_t local_after_ = 0;
    };

    // The file at `file`, made with `mode` (less the umask) when missing.
    // When it can be neither made nor read the generation is not usable:
    // Settled() is then always nullopt, and readers look at the store itself.
    StoreGeneration(std::filesystem::path file, mode_t mode);
    ~StoreGeneration();
    StoreGeneration(const StoreGeneration&) = delete;
    StoreGeneration& operator=(const StoreGeneration&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // The mark now, when no commit is under way; nullopt while one is (or its
    // writer died in it), or when the generation is not usable.
    std::optional<Mark> Settled() const {
        if (word_ == nullptr) return std::nullopt;
        const std::uint64_t shared = Load(word_);
        if (shared % 2 != 0) return std::nullopt;
        return Mark{shared, local_.load(std::memory_order_acquire)};
    }
    // Whether nothing was committed since `mark` was settled.
    bool Unchanged(const Mark& mark) const {
        return word_ != nullptr && Load(word_) == mark.shared && local_.load(std::memory_order_acquire) == mark.local;
    }

    // Whether the file at the path is still the one mapped (a system call);
    // false too when it is gone.
    bool StillAtPath() const;

    // Waits for the turns of other writers, in this process or another.
    Turn BeginCommit();

private:
    static std::uint64_t Load(std::uint64_t* word) {
        return std::atomic_ref<std::uint64_t>(*word).load(std::memory_order_acquire);
    }

    std::filesystem::path file_;
    mode_t mode_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::uint64_t* word_ = nullptr;  // mapped read-only
    std::atomic<std::uint64_t> local_{0};
};

}  // namespace quorvel::posix
