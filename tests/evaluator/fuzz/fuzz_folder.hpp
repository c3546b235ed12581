// The folder a fuzz target writes its files in: a fresh one under the system
// temporary folder ($TMPDIR or /tmp), removed with everything in it when the
// target exits.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace vntr::test {

class FuzzFolder {
public:
    explicit FuzzFolder(const std::string &prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("cannot create the fuzz target's folder");
            std::abort();
        }
        path_ = pattern;
    }
    ~FuzzFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    FuzzFolder(const FuzzFolder &) = delete;
    FuzzFolder &operator=(const FuzzFolder &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

} // namespace vntr::test
