// One running evaluator per temporary folder: the instances share their
// temporary file names, so a second one would overwrite the first one's files.
#pragma once

#include <memory>
#include <string>

namespace vntr::evaluator {

class InstanceLock {
public:
    // Takes the lock in `tempDir`; nothing when another instance holds it.
    static std::unique_ptr<InstanceLock> Acquire(const std::string &tempDir);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace vntr::evaluator
