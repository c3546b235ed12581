#include "cli/batch.hpp"

#include "cli/console_frontend.hpp"
#include "cli/report.hpp"
#include "core/evaluator.hpp"
#include "core/instance.hpp"

#include <vntr/platform/paths.hpp>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

#ifndef VNTR_DEFAULT_ORIGINAL
#define VNTR_DEFAULT_ORIGINAL ""
#endif

namespace vntr::cli {
namespace {

struct Preferences {
    int32_t selected;
    uint32_t encoderOptions;
    uint32_t decoderOptions;
};

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

int FindSlot(const evaluator::Evaluator &ev, const std::string &name) {
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        if (ev.Slots()[i].Name() == name) return static_cast<int>(i);
    }
    return -1;
}

// "4800", "6400", "vad", "novad", "default", joined with '+'.
bool ParseOptionWord(const std::string &text, uint32_t offered, uint32_t &word, std::string &error) {
    for (const auto &token : Split(text, '+')) {
        uint32_t bit = 0;
        if (token == "4800") {
            bit = CODEC_OPT_4800;
            word &= ~CODEC_OPT_6400;
        } else if (token == "6400") {
            bit = CODEC_OPT_6400;
            word &= ~CODEC_OPT_4800;
        } else if (token == "vad") {
            bit = 0x1;
        } else if (token == "novad") {
            word &= ~0x1u;
            continue;
        } else if (token == "default") {
            word = 0;
            continue;
        } else {
            error = "unknown option '" + token + "' (use 4800, 6400, vad, novad or default)";
            return false;
        }
        if ((offered & bit) == 0) {
            error = "the codec does not offer option '" + token + "'";
            return false;
        }
        word |= bit;
    }
    return true;
}

} // namespace

void PrintUsage(std::FILE *out) {
    std::fprintf(out,
                 "usage: vtbench32 --batch [ORIGINAL.wav] [--codecs A,B,...] [--option CODEC=4800|6400|vad[+...]]\n"
                 "                 [--vad] [--session FILE] [--save-session FILE] [--keep DIR] [--json FILE]\n"
                 "Runs every selected codec over the original (default: %s) and prints the\n"
                 "comparison sorted by bit rate.  vtbench32 --batch --help tells more.\n",
                 VNTR_DEFAULT_ORIGINAL);
}

bool WantsBatch(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") == 0) return true;
    }
    return false;
}

int RunBatch(int argc, char **argv) {
    CLI::App app{"vtbench32 --batch: encode and decode an original with every selected codec and compare them"};
    bool batch = false;
    std::string originalPath;
    std::string codecList;
    std::vector<std::string> optionArgs;
    bool vad = false;
    std::string sessionIn;
    std::string sessionOut;
    std::string keepDir;
    std::string jsonPath;
    bool progress = false;
    bool noQuality = false;
    app.add_flag("--batch", batch, "run without a window");
    app.add_option("original", originalPath, "original PCM wave file")->check(CLI::ExistingFile);
    app.add_option("--codecs", codecList, "comma-separated codecs to run (default: the user's selection)");
    app.add_option("--option", optionArgs, "options of one codec, e.g. VT4864v6=4800 or VT15=vad (repeatable)");
    app.add_flag("--vad", vad, "voice activity detection for every codec that offers it");
    app.add_option("--session", sessionIn, "open a session file and rerun it")->check(CLI::ExistingFile);
    app.add_option("--save-session", sessionOut, "save the comparison as a session file");
    app.add_option("--keep", keepDir, "copy the coded and decoded files into this folder");
    app.add_option("--json", jsonPath, "write all results as JSON");
    app.add_flag("--progress", progress, "show progress on a terminal");
    app.add_flag("--no-quality", noQuality, "skip the objective quality measures");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (!sessionIn.empty() && (!originalPath.empty() || !codecList.empty())) {
        std::fprintf(stderr, "vtbench32: --session brings its own original and codecs\n");
        return 2;
    }
    if (sessionIn.empty() && originalPath.empty()) originalPath = VNTR_DEFAULT_ORIGINAL;

    evaluator::EvaluatorConfig config;
    config.measureQuality = !noQuality;
    const auto tempDir = platform::UserTempDirectory();
    if (!tempDir) {
        std::fprintf(stderr, "vtbench32: cannot create the temporary folder\n");
        return 1;
    }
    config.tempDir = *tempDir;
    const auto lock = evaluator::InstanceLock::Acquire(config.tempDir);
    if (!lock) {
        std::fprintf(stderr, "vtbench32: another vtbench32 is running with the temporary folder %s\n",
                     config.tempDir.c_str());
        return 3;
    }

    ConsoleFrontend ui(stderr, progress && isatty(STDERR_FILENO) != 0);
    ConsoleFrontend::CatchInterrupt();
    evaluator::Evaluator ev(ui, config);
    if (!ev.Startup()) return 1;

    // Choices made on the command line are for this run: the user's own
    // preferences are put back before they are written at exit.
    std::vector<Preferences> saved;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        const auto &slot = ev.Slots()[i];
        saved.push_back({slot.selected, slot.encoderOptions, slot.decoderOptions});
    }
    auto finish = [&](int status) {
        for (std::size_t i = 0; i < saved.size(); ++i) {
            auto &slot = ev.Slots()[i];
            slot.selected = saved[i].selected;
            slot.encoderOptions = saved[i].encoderOptions;
            slot.decoderOptions = saved[i].decoderOptions;
        }
        ev.Shutdown();
        return status;
    };

    if (!codecList.empty()) {
        std::vector<bool> selection(ev.SlotCount(), false);
        for (const auto &name : Split(codecList, ',')) {
            const int index = FindSlot(ev, name);
            if (index < 0) {
                std::fprintf(stderr, "vtbench32: no codec named %s is installed\n", name.c_str());
                return finish(2);
            }
            selection[static_cast<std::size_t>(index)] = true;
        }
        ev.ApplySelection(selection);
    }
    for (std::size_t i = 0; i < ev.SlotCount() && vad; ++i) {
        auto &slot = ev.Slots()[i];
        if ((slot.info.optionMask & 0x1) != 0) slot.encoderOptions |= 0x1;
        slot.decoderOptions = slot.encoderOptions;
    }
    for (const auto &arg : optionArgs) {
        const auto equals = arg.find('=');
        const int index = equals == std::string::npos ? -1 : FindSlot(ev, arg.substr(0, equals));
        if (index < 0) {
            std::fprintf(stderr, "vtbench32: --option %s: expected CODEC=OPTIONS with an installed codec\n",
                         arg.c_str());
            return finish(2);
        }
        auto &slot = ev.Slots()[static_cast<std::size_t>(index)];
        std::string error;
        if (!ParseOptionWord(arg.substr(equals + 1), slot.info.optionMask, slot.encoderOptions, error)) {
            std::fprintf(stderr, "vtbench32: --option %s: %s\n", arg.c_str(), error.c_str());
            return finish(2);
        }
        slot.decoderOptions = slot.encoderOptions;
    }

    bool ok = true;
    if (!sessionIn.empty()) {
        ok = ev.OpenSession(sessionIn);
    } else if (ev.OpenOriginalFile(originalPath)) {
        ev.ProcessSelectedCodecs();
    } else {
        ok = false;
    }
    if (ev.Cancelled()) {
        std::fprintf(stderr, "vtbench32: processing cancelled\n");
        return finish(1);
    }
    if (ev.Original().Exists()) PrintReport(stdout, ev);
    std::fflush(stdout);

    bool anySelected = false;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        ok = ok && !ev.Slots()[i].failed;
        anySelected = anySelected || ev.Slots()[i].selected != 0;
    }
    // Nothing compared is not a success.
    ok = ok && anySelected;
    if (!keepDir.empty()) {
        if (!platform::MakeDirectories(keepDir)) {
            std::fprintf(stderr, "vtbench32: cannot create %s\n", keepDir.c_str());
            ok = false;
        }
        for (std::size_t i = 0; i < ev.SlotCount() && ok; ++i) {
            const auto &slot = ev.Slots()[i];
            if (slot.selected == 0 || !slot.HasResults()) continue;
            const std::string name = slot.Name();
            ok = evaluator::CopyFile(ui, ev.Temp().Coded(name), keepDir + "/" + name + ".coded.wav") && ok;
            ok = evaluator::CopyFile(ui, ev.Temp().Decoded(name), keepDir + "/" + name + ".decoded.wav") && ok;
        }
    }
    if (!sessionOut.empty() && ev.Original().Exists()) ok = ev.SaveSession(sessionOut) && ok;
    if (!jsonPath.empty()) {
        std::string error;
        if (!WriteJson(jsonPath, ev, ui.Messages(), error)) {
            std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
            ok = false;
        }
    }
    return finish(ok ? 0 : 1);
}

} // namespace vntr::cli
