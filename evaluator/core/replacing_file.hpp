// Files that take the place of their destination only once they are
// complete: sessions, copies, reports.
#pragma once

#include <cstdio>
#include <string>

namespace vntr::evaluator {

// A new file is written beside the destination (in the same folder, so that
// the rename is atomic) as ".<name>.<pid>.<n>.tmp" and renamed over it at
// the end; until then, and whenever anything fails or the writer is killed,
// the destination is as it was.  The new file gets the permissions of the
// file it replaces, and a symbolic link keeps pointing where it did.  An
// existing destination that is no regular file (a pipe, a device) has no
// contents to keep and is written directly.  A file left unfinished is
// removed when the object goes.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;
    ~ReplacingFile();

    // Opens the new file; false when it cannot be made.  Temporary files
    // of this destination left by writers that no longer run are removed
    // first.
    bool Create(const std::string &destination);
    std::FILE *File() const { return file_; }
    // Flushes the contents to disk and closes the file.
    bool Finish();
    // Puts the finished file in the destination's place.
    bool Replace();
    // Finish and Replace.
    bool Commit() { return Finish() && Replace(); }

private:
    std::FILE *file_ = nullptr;
    std::string target_;
    std::string temp_; // empty when the destination is written directly
};

// Removes the ".<name>.<pid>.<n>.tmp" files beside `destination` that are
// ours (a regular file of this user) and stale: the process that wrote one
// no longer runs, or the process now holding its number started after the
// file was last written.  Returns how many went.
int RemoveStaleTemporaries(const std::string &destination);

} // namespace vntr::evaluator
