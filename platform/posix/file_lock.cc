#include "platform/file_lock.h"

#include <optional>

#include "platform/posix/atomic_file.h"
#include "platform/posix/paths.h"

namespace quorvel::platform {

struct FileLock::Impl {
    std::optional<posix::FileLock> lock;
};

FileLock::FileLock(std::string_view path) : impl_(std::make_unique<Impl>()) {
    if (path.empty()) return;
    impl_->lock.emplace(posix::MapAnsiPath(path).string());
}

FileLock::~FileLock() = default;

bool FileLock::held() const { return impl_->lock && impl_->lock->held(); }

}  // namespace quorvel::platform
