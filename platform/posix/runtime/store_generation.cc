#include "platform/posix/runtime/store_generation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quorvel::posix {
namespace {

static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "the number is shared between processes");

constexpr off_t kSize = sizeof(std::uint64_t);

// `fd` holds at least the number. The file is never made shorter, so a
// mapping made once it is long enough stays readable.
bool LongEnough(int fd, bool writable, struct stat& st) {
    if (fstat(fd, &st) != 0) return false;
    if (st.st_size >= kSize) return true;
    return writable && ftruncate(fd, kSize) == 0;
}

std::uint64_t* Map(int fd, int protection) {
    void* mapped = mmap(nullptr, kSize, protection, MAP_SHARED, fd, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(mapped);
}

}  // namespace

StoreGeneration::StoreGeneration(std::filesystem::path file, mode_t mode) : file_(std::move(file)), mode_(mode) {
    bool writable = true;
    int fd = open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode_);
    if (fd < 0) {
        // Another user's store: read, never moved by this process.
        writable = false;
        fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
    }
    struct stat st {};
    if (LongEnough(fd, writable, st)) {
        word_ = Map(fd, PROT_READ);
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    close(fd);
}

StoreGeneration::~StoreGeneration() {
    if (word_ != nullptr) munmap(word_, kSize);
}

bool StoreGeneration::StillAtPath() const {
    struct stat st {};
    return word_ != nullptr && stat(file_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

StoreGeneration::Turn StoreGeneration::BeginCommit() {
    Turn turn(this);
    // The file at the path now, which is the one the readers of the store at
    // the path map (a machine folder made again has a new one).
    turn.fd_ = open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode_);
    if (turn.fd_ < 0) return turn;
    struct stat st {};
    if (!LongEnough(turn.fd_, true, st)) return turn;
    while (flock(turn.fd_, LOCK_EX) != 0) {
        if (errno != EINTR) return turn;
    }
    std::uint64_t* word = Map(turn.fd_, PROT_READ | PROT_WRITE);
    if (word == nullptr) return turn;
    std::atomic_ref<std::uint64_t> shared(*word);
    // Odd with the lock free: the last writer died in its turn. Its commit
    // may or may not have landed; readers took the odd number as a change.
    if (shared.load() % 2 != 0) shared.fetch_add(1);
    turn.odd_ = shared.fetch_add(1) + 1;
    // Writers of this process take turns too, so the count moves by one.
    turn.local_after_ = local_.load() + 1;
    turn.word_ = word;
    return turn;
}

StoreGeneration::Turn::Turn(Turn&& other) noexcept
    : owner_(other.owner_),
      fd_(std::exchange(other.fd_, -1)),
      word_(std::exchange(other.word_, nullptr)),
      odd_(other.odd_),
      local_after_(other.local_after_) {}

void StoreGeneration::Turn::End() {
    if (word_ != nullptr) {
        std::atomic_ref<std::uint64_t>(*word_).fetch_add(1);
        owner_->local_.fetch_add(1);
        munmap(word_, kSize);
        word_ = nullptr;
    }
    if (fd_ >= 0) close(fd_);  // the lock with it
    fd_ = -1;
}

}  // namespace quorvel::posix
