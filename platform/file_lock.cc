#include "platform/file_lock.h"

#include <optional>

#include "platform/profile_io.h"

namespace quorvel::platform {

struct FileLock::Impl {
    std::optional<profile_io::Lock> lock;
};

FileLock::FileLock(std::string_view path) : impl_(std::make_unique<Impl>()) {
    const profile_io::Target target = profile_io::Resolve(path);
    if (!target.key.empty()) impl_->lock.emplace(target.key, target.path);
}

FileLock::~FileLock() = default;

bool FileLock::held() const { return impl_->lock && impl_->lock->held(); }

}  // namespace quorvel::platform
