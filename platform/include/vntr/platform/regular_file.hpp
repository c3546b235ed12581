// Opening files that must be regular files, without ever waiting on one that
// is not: opening a named pipe blocks until someone opens its other end, so
// the check that a path names a regular file has to come before the open can
// block, not after it.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace vntr::platform {

// Opens `path` with open(2) `flags` (O_CREAT with `mode`) only when it is, or
// becomes, a regular file.  The open itself never blocks (O_NONBLOCK, cleared
// again before returning) and the type is checked with fstat on the
// descriptor, so a named pipe, a device or a folder is refused whatever the
// path named a moment before.  O_TRUNC is applied only once the file is known
// to be regular.  A close-on-exec descriptor, or -1 with errno set (EINVAL
// for a file that is not regular, EISDIR for a folder).
int OpenRegularFile(const std::string &path, int flags, mode_t mode = 0666);

// The same as a buffered stream for reading; nullptr on failure.
std::FILE *OpenRegularFileForReading(const std::string &path);

} // namespace vntr::platform
