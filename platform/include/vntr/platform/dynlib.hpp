// Loading a codec library at run time and binding its functions by ordinal.
// Every codec library exports, beside its named functions, the table
// `vntr_ordinals` (see vntr/codec_api.h) whose entry n-1 is the function of
// ordinal n.
#pragma once

#include <vntr/codec_api.h>

#include <memory>
#include <string>

namespace vntr::platform {

class DynamicLibrary {
public:
    // Loads the library (all symbols resolved at once, kept local).  Nothing
    // on failure, with the loader's reason in *error.
    static std::unique_ptr<DynamicLibrary> Load(const std::string &path, std::string *error = nullptr);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    void *Symbol(const char *name) const;
    // The function of `ordinal` (1-based), or null when the library has no
    // ordinal table, the table is shorter, or the entry is empty.
    CodecAnyFn Ordinal(unsigned ordinal) const;
    template <class Fn>
    Fn Bind(unsigned ordinal) const {
        return reinterpret_cast<Fn>(Ordinal(ordinal));
    }
    const std::string &Path() const { return path_; }

private:
    DynamicLibrary(void *handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void *handle_;
    std::string path_;
};

} // namespace vntr::platform
