// libFuzzer target: any bytes as a registry hive's text.  What parses is
// written back, parsed again and compared: the same tree, and the same text
// when written once more.  What does not parse is refused with the line it
// failed on.  Build with
//   cmake -DVNTR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
// and run build/tests/fuzz/hive_fuzz -max_total_time=600.
#include <vntr/platform/registry_store.hpp>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace hive = vntr::platform::hive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The text in a buffer of exactly its size, so that a read past its end is seen.
    auto buffer = std::make_unique<char[]>(size + (size == 0));
    std::memcpy(buffer.get(), data, size);
    const std::string_view text(buffer.get(), size);

    hive::Node first;
    std::string error;
    if (!hive::Parse(text, first, error)) {
        if (error.rfind("line ", 0) != 0) __builtin_trap();
        return 0;
    }
    std::string written;
    // A tree whose text would be over the reader's limit is not written at all.
    if (!hive::Serialize(first, written)) {
        if (!written.empty()) __builtin_trap();
        return 0;
    }
    hive::Node second;
    if (!hive::Parse(written, second, error)) __builtin_trap();
    if (!hive::Equal(first, second)) __builtin_trap();
    std::string again;
    if (!hive::Serialize(second, again) || again != written) __builtin_trap();
    return 0;
}
