// The originals of a corpus run: files named on the command line and every
// "*.wav" below the folders named, each folder's files in sorted order.
#pragma once

#include <string>
#include <vector>

namespace vntr::cli {

struct Original {
    std::string path;       // as it will be opened
    std::string name;       // as shown: a file's name, or its path inside the folder named
    std::string keepFolder; // where --keep puts its files inside its folder: see KeepFolderName, made unique
};

struct OriginalList {
    std::vector<Original> originals;
    std::vector<std::string> problems; // folders (and entries) that could not be read, folders without waves
};

// In the order of the arguments; a folder is searched recursively for names
// ending in ".wav" in any case, sorted by their path inside it.  Symbolic
// links to folders are followed, each folder searched once, so a link that
// loops ends where it would come back.  A file reached twice (the same
// device and inode) is taken once.  Every folder that could not be read is
// named in `problems`.
OriginalList CollectOriginals(const std::vector<std::string> &arguments);

// The folder an original's kept files go to, one entry inside --keep DIR
// whatever the original is called: its name without ".wav", each '/' made
// '_', cut to 200 bytes; "", "." and ".." get a '_' in front.
std::string KeepFolderName(const std::string &name);

} // namespace vntr::cli
