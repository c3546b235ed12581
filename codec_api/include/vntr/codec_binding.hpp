// Typed entry points of one codec library, bound from its ordinal table.
// Header-only, for callers of the interface (tools, tests); the library file
// is opened with dlopen and closed when the binding goes away.
#pragma once

#include <vntr/codec_api.h>

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace vntr {

class CodecBinding {
public:
    explicit CodecBinding(const std::string &path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
        const auto *table = static_cast<const CodecOrdinalTable *>(dlsym(handle_, CODEC_ORDINAL_TABLE_SYMBOL));
        if (table == nullptr || table->count < CODEC_ORD_COUNT) {
            dlclose(handle_);
            throw std::runtime_error(path + " has no ordinal table");
        }
        table_ = table;
        openEncoder = Bind<CodecOpenFn>(CODEC_ORD_OPEN_ENCODER);
        encode = Bind<CodecEncodeFn>(CODEC_ORD_ENCODE);
        closeEncoder = Bind<CodecCloseFn>(CODEC_ORD_CLOSE_ENCODER);
        openDecoder = Bind<CodecOpenFn>(CODEC_ORD_OPEN_DECODER);
        decode = Bind<CodecDecodeFn>(CODEC_ORD_DECODE);
        closeDecoder = Bind<CodecCloseFn>(CODEC_ORD_CLOSE_DECODER);
        getCodecInfo = Bind<CodecGetInfoFn>(CODEC_ORD_GET_CODEC_INFO);
        getCodecData = Bind<CodecGetDataFn>(CODEC_ORD_GET_CODEC_DATA);
        getErrorString = Bind<CodecErrorStringFn>(CODEC_ORD_GET_ERROR_STRING);
        registerServer = Bind<CodecRegisterFn>(CODEC_ORD_REGISTER_SERVER);
        unregisterServer = Bind<CodecRegisterFn>(CODEC_ORD_UNREGISTER_SERVER);
    }
    CodecBinding(const CodecBinding &) = delete;
    CodecBinding &operator=(const CodecBinding &) = delete;
    ~CodecBinding() { dlclose(handle_); }

    // The function exported under `name`, for comparing with the ordinals.
    void *Symbol(const char *name) const { return dlsym(handle_, name); }
    CodecAnyFn Ordinal(int ordinal) const { return table_->entry[ordinal - 1]; }

    CodecOpenFn openEncoder;
    CodecEncodeFn encode;
    CodecCloseFn closeEncoder;
    CodecOpenFn openDecoder;
    CodecDecodeFn decode;
    CodecCloseFn closeDecoder;
    CodecGetInfoFn getCodecInfo;
    CodecGetDataFn getCodecData;
    CodecErrorStringFn getErrorString;
    CodecRegisterFn registerServer;
    CodecRegisterFn unregisterServer;

private:
    template <class Fn>
    Fn Bind(int ordinal) const {
        return reinterpret_cast<Fn>(table_->entry[ordinal - 1]);
    }

    void *handle_ = nullptr;
    const CodecOrdinalTable *table_ = nullptr;
};

} // namespace vntr
