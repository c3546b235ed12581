#include "temp_files.hpp"

#include <dirent.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace vntr::evaluator {

void TempFiles::DeleteAll(bool keepOriginal) const {
    std::vector<std::string> doomed;
    if (DIR *folder = opendir(dir.c_str())) {
        while (const dirent *entry = readdir(folder)) {
            const std::string_view name = entry->d_name;
            if (name.ends_with(".~c0") || name.ends_with(".~d0")) doomed.push_back(dir + std::string(name));
        }
        closedir(folder);
    }
    for (const auto &path : doomed) unlink(path.c_str());
    if (!keepOriginal) unlink(Original().c_str());
    unlink(Downsampled().c_str());
}

} // namespace vntr::evaluator
