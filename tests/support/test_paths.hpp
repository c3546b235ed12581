// Where the tests find the staged codec libraries and the real recordings.
#pragma once

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace vntr::test {

// The codec libraries this build made, by short name.
inline std::vector<std::string> CodecNameList(const char *list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    for (std::string name; std::getline(in, name, ';');)
        if (!name.empty()) names.push_back(name);
    return names;
}
inline std::vector<std::string> BuiltCodecLibraries() {
    return CodecNameList(VNTR_TEST_CODEC_NAMES);
}

#ifdef VNTR_TEST_REGISTERED_CODEC_NAMES
// Those the build registers, at most the evaluator's 20 (the others are built
// for vtregsvr).
inline std::vector<std::string> RegisteredCodecLibraries() {
    return CodecNameList(VNTR_TEST_REGISTERED_CODEC_NAMES);
}
#endif

// A library's name as a test name: letters, digits and underscores only
// ("Opus 8k" -> "Opus_8k").
inline std::string TestNameOf(std::string name) {
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

inline std::string CodecLibraryPath(const std::string &name) {
    return std::string(VNTR_TEST_CODEC_DIR) + "/" + name + ".so";
}

// A recording from codec2-examples (8000 Hz, 16-bit raw); empty when absent.
inline std::string SpeechRecording(const std::string &name = "kristoff") {
    const std::string path = "/usr/share/codec2/raw/" + name + ".raw";
    return std::filesystem::exists(path) ? path : std::string();
}

} // namespace vntr::test
