// The originals of a corpus run: files named on the command line and every
// "*.wav" below the folders named, each folder's files in sorted order.
#pragma once

#include <string>
#include <vector>

namespace vntr::cli {

struct Original {
    std::string path;       // as it will be opened
    std::string name;       // as shown: a file's name, or its path inside the folder named
    std::string keepFolder; // where --keep puts its files: the name without ".wav", made unique
};

struct OriginalList {
    std::vector<Original> originals;
    std::vector<std::string> problems; // folders that could not be read, folders without waves
};

// In the order of the arguments; a folder is searched recursively (its
// sub-folders' symbolic links not followed) for names ending in ".wav" in
// any case, sorted by their path inside it.  A file reached twice (the same
// device and inode) is taken once.
OriginalList CollectOriginals(const std::vector<std::string> &arguments);

} // namespace vntr::cli
