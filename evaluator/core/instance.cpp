#include "instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vntr::evaluator {

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string &tempDir) {
    std::string path = tempDir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += "vtbench32.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
    close(fd_);
}

} // namespace vntr::evaluator
