// vntr_vectors: makes the reference vectors anew from the built libraries and
// writes them to the vector file, saying which ones changed.  Run it through
// tools/vectors/regenerate, which builds what it needs first.
#include "vector_set.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

namespace {

using namespace vntr::vectors;

std::string Describe(const Side &side, const char *unit) {
    return std::to_string(side.count) + " " + unit + " " + side.checksum;
}

bool Same(const Side &a, const Side &b) {
    return a.count == b.count && a.checksum == b.checksum && a.endStatus == b.endStatus;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Makes the reference vectors of every built codec library anew"};
    std::string tablePath = VNTR_VECTORS_DIR "/libraries.json";
    std::string vectorsPath = VNTR_VECTORS_DIR "/expected.json";
    std::string codecDir = VNTR_CODEC_DIR;
    bool keepMissing = false;
    app.add_option("--table", tablePath, "the table of libraries and modes");
    app.add_option("--vectors", vectorsPath, "the vector file to rewrite");
    app.add_option("--codec-dir", codecDir, "where the built libraries are");
    app.add_flag("--keep-missing", keepMissing,
                 "keep the stored vectors of inputs whose recording is not installed instead of refusing");
    CLI11_PARSE(app, argc, argv);

    try {
        const auto libraries = LoadLibraries(tablePath);
        VectorFile old;
        if (std::filesystem::exists(vectorsPath)) old = LoadVectors(vectorsPath);
        if (!old.toolchain.empty() && old.toolchain != Toolchain()) {
            std::printf("note: the vectors were made with %s; this build is %s. The builds of that toolchain\n"
                        "      check them bit for bit, others within the tolerance: regenerate with the\n"
                        "      toolchain the CI uses.\n",
                        old.toolchain.c_str(), Toolchain().c_str());
        }
        VectorFile made;
        made.toolchain = Toolchain();
        int changed = 0, added = 0, kept = 0;
        std::set<std::string> known;
        for (const Library &lib : libraries) {
            const std::string path = codecDir + "/" + lib.name + ".so";
            const bool built = std::filesystem::exists(path);
            if (!built) std::printf("not built, vectors kept as they are: %s\n", lib.name.c_str());
            if (lib.systemLibrary) {
                // The vectors of a system library's wrapper hold for the version
                // its description names; they are made anew for this one.
                const auto before = old.descriptions.find(lib.name);
                if (!built) {
                    if (before != old.descriptions.end()) made.descriptions[lib.name] = before->second;
                } else {
                    const std::string description = Description(path);
                    if (before != old.descriptions.end() && before->second != description)
                        std::printf("system library changed: %s was \"%s\", is \"%s\"; its vectors are made "
                                    "anew (the commit says which library version they pin)\n",
                                    lib.name.c_str(), before->second.c_str(), description.c_str());
                    made.descriptions[lib.name] = description;
                }
            }
            for (const Mode &mode : lib.modes) {
                for (const Input &input : Inputs()) {
                    const std::string key = Key(lib, mode, input);
                    known.insert(key);
                    const auto before = old.vectors.find(key);
                    if (!built) {
                        if (before != old.vectors.end()) made.vectors[key] = before->second, ++kept;
                        continue;
                    }
                    const auto samples = MakeInput(input, SampleRate(mode.format));
                    if (samples.empty()) {
                        if (!keepMissing)
                            throw std::runtime_error(input.recording +
                                                     " is not installed: install codec2-examples, "
                                                     "or pass --keep-missing to keep its stored vectors");
                        if (before != old.vectors.end()) made.vectors[key] = before->second, ++kept;
                        continue;
                    }
                    const Vector v = Run(path, lib, mode, input, samples);
                    made.vectors[key] = v;
                    if (before == old.vectors.end()) {
                        std::printf("new      %s\n", key.c_str());
                        ++added;
                        continue;
                    }
                    const bool codedSame = Same(before->second.coded, v.coded);
                    const bool decodedSame = Same(before->second.decoded, v.decoded);
                    if (!codedSame || !decodedSame) ++changed;
                    if (!codedSame)
                        std::printf("changed  %s coded stream: %s, was %s\n", key.c_str(),
                                    Describe(v.coded, "bytes").c_str(),
                                    Describe(before->second.coded, "bytes").c_str());
                    if (!decodedSame)
                        std::printf("changed  %s decoded PCM: %s, was %s\n", key.c_str(),
                                    Describe(v.decoded, "samples").c_str(),
                                    Describe(before->second.decoded, "samples").c_str());
                }
            }
        }
        int dropped = 0;
        for (const auto &[key, v] : old.vectors) {
            if (!known.count(key)) {
                std::printf("dropped  %s (no longer in the table)\n", key.c_str());
                ++dropped;
            }
        }
        SaveVectors(made, vectorsPath);
        std::printf("%zu vectors in %s: %d changed, %d new, %d dropped, %d kept from libraries not built\n",
                    made.vectors.size(), vectorsPath.c_str(), changed, added, dropped, kept);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vntr_vectors: %s\n", e.what());
        return 1;
    }
}
