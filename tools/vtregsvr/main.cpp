// vtregsvr [-u] [-s] <library>: registers a codec library (calls its
// DllRegisterServer) or, with -u, unregisters it (DllUnregisterServer).
// -s keeps quiet on success.
#include <vntr/codec_api.h>
#include <vntr/platform/dynlib.hpp>
#include <vntr/platform/registry.hpp>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: vtregsvr [-u] [-s] <library>\n"
                         "  registers a codec library in the registry, or with -u removes its registration\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    bool unregister = false;
    bool silent = false;
    const char *library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0) {
            unregister = true;
        } else if (std::strcmp(argv[i], "-s") == 0) {
            silent = true;
        } else if (argv[i][0] == '-' || library != nullptr) {
            return Usage();
        } else {
            library = argv[i];
        }
    }
    if (library == nullptr) return Usage();

    std::string error;
    const auto lib = vntr::platform::DynamicLibrary::Load(library, &error);
    if (!lib) {
        std::fprintf(stderr, "vtregsvr: cannot load %s: %s\n", library, error.c_str());
        return 1;
    }
    const char *entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<CodecRegisterFn>(lib->Symbol(entry));
    if (fn == nullptr) {
        fn = lib->Bind<CodecRegisterFn>(unregister ? CODEC_ORD_UNREGISTER_SERVER : CODEC_ORD_REGISTER_SERVER);
    }
    if (fn == nullptr) {
        std::fprintf(stderr, "vtregsvr: %s has no %s\n", library, entry);
        return 1;
    }
    const int32_t result = fn();
    if (result != CODEC_REG_OK) {
        std::fprintf(stderr, "vtregsvr: %s in %s failed (0x%08X)\n", entry, library, static_cast<unsigned>(result));
        for (const auto hive : {vntr::platform::Hive::LocalMachine, vntr::platform::Hive::CurrentUser}) {
            const std::string why = vntr::platform::DiagnoseHive(hive);
            if (!why.empty()) std::fprintf(stderr, "vtregsvr: %s\n", why.c_str());
        }
        return 1;
    }
    if (!silent) std::printf("%s in %s succeeded.\n", entry, library);
    return 0;
}
