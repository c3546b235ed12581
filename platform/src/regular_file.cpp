#include <vntr/platform/regular_file.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vntr::platform {

int OpenRegularFile(const std::string &path, int flags, mode_t mode) {
    const bool truncate = (flags & O_TRUNC) != 0;
    const int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    auto refuse = [fd](int error) {
        close(fd);
        errno = error;
        return -1;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) return refuse(errno);
    if (!S_ISREG(st.st_mode)) return refuse(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) return refuse(errno);
    if (truncate && ftruncate(fd, 0) != 0) return refuse(errno);
    return fd;
}

std::FILE *OpenRegularFileForReading(const std::string &path) {
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return nullptr;
    std::FILE *file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

} // namespace vntr::platform
