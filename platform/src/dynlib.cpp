#include <vntr/platform/dynlib.hpp>

#include <dlfcn.h>

namespace vntr::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string &path, std::string *error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) {
            const char *why = dlerror();
            *error = why != nullptr ? why : "cannot load " + path;
        }
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

DynamicLibrary::~DynamicLibrary() {
    dlclose(handle_);
}

void *DynamicLibrary::Symbol(const char *name) const {
    return dlsym(handle_, name);
}

CodecAnyFn DynamicLibrary::Ordinal(unsigned ordinal) const {
    const auto *table = static_cast<const CodecOrdinalTable *>(Symbol(CODEC_ORDINAL_TABLE_SYMBOL));
    if (table == nullptr || ordinal == 0 || ordinal > table->count || ordinal > CODEC_ORD_COUNT) return nullptr;
    return table->entry[ordinal - 1];
}

} // namespace vntr::platform
