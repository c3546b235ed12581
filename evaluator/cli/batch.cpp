#include "cli/batch.hpp"

#include "cli/console_frontend.hpp"
#include "cli/conversion.hpp"
#include "cli/corpus_files.hpp"
#include "cli/corpus_report.hpp"
#include "cli/corpus_run.hpp"
#include "cli/file_result.hpp"
#include "cli/kept_files.hpp"
#include "cli/report.hpp"
#include "core/evaluator.hpp"
#include "core/instance.hpp"
#include "core/wave_samples.hpp"

#include <vntr/platform/paths.hpp>

#include <CLI/CLI.hpp>

#include <sys/stat.h>
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
                 "usage: vtbench32 --batch [ORIGINAL.wav | FOLDER ...] [--codecs A,B,...] [--option CODEC=4800|6400|vad[+...]]\n"
                 "                 [--vad] [-j N] [--resample] [--mono] [--json FILE] [--csv FILE] [--keep DIR]\n"
                 "                 [--progress | --quiet] [--no-quality] [--session FILE | --save-session FILE]\n"
                 "Runs every selected codec over the original (default: %s) and prints the\n"
                 "comparison sorted by bit rate; over several originals or folders (searched for *.wav),\n"
                 "one table per codec over the whole corpus.  vtbench32 --batch --help tells more.\n",
                 VNTR_DEFAULT_ORIGINAL);
}

bool WantsBatch(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") == 0) return true;
    }
    return false;
}


namespace {

struct BatchOptions {
    std::vector<std::string> originals;
    std::string codecList;
    std::vector<std::string> optionArgs;
    bool vad = false;
    std::string sessionIn;
    std::string sessionOut;
    std::string keepDir;
    std::string jsonPath;
    std::string csvPath;
    int jobs = 0;
    bool resample = false;
    bool mono = false;
    bool progress = false;
    bool quiet = false;
    bool noQuality = false;
};

bool IsFolder(const std::string &path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sets the selection and the options of the command line; 0, or the exit
// status of a bad command line (said on stderr).
int ApplyCodecChoices(evaluator::Evaluator &ev, const BatchOptions &o) {
    if (!o.codecList.empty()) {
        std::vector<bool> selection(ev.SlotCount(), false);
        for (const auto &name : Split(o.codecList, ',')) {
            const int index = FindSlot(ev, name);
            if (index < 0) {
                std::fprintf(stderr, "vtbench32: no codec named %s is installed\n", name.c_str());
                return 2;
            }
            selection[static_cast<std::size_t>(index)] = true;
        }
        ev.ApplySelection(selection);
    }
    for (std::size_t i = 0; i < ev.SlotCount() && o.vad; ++i) {
        auto &slot = ev.Slots()[i];
        if ((slot.info.optionMask & 0x1) != 0) slot.encoderOptions |= 0x1;
        slot.decoderOptions = slot.encoderOptions;
    }
    for (const auto &arg : o.optionArgs) {
        const auto equals = arg.find('=');
        const int index = equals == std::string::npos ? -1 : FindSlot(ev, arg.substr(0, equals));
        if (index < 0) {
            std::fprintf(stderr, "vtbench32: --option %s: expected CODEC=OPTIONS with an installed codec\n",
                         arg.c_str());
            return 2;
        }
        auto &slot = ev.Slots()[static_cast<std::size_t>(index)];
        std::string error;
        if (!ParseOptionWord(arg.substr(equals + 1), slot.info.optionMask, slot.encoderOptions, error)) {
            std::fprintf(stderr, "vtbench32: --option %s: %s\n", arg.c_str(), error.c_str());
            return 2;
        }
        slot.decoderOptions = slot.encoderOptions;
    }
    return 0;
}

// Many originals: the corpus run and its report.
bool RunCorpusBatch(evaluator::Evaluator &ev, const BatchOptions &o, bool showProgress) {
    bool anySelected = false;
    std::vector<std::string> codecOrder;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        if (ev.Slots()[i].selected == 0) continue;
        anySelected = true;
        codecOrder.push_back(ev.Slots()[i].Name());
    }
    if (!anySelected) {
        ev.ProcessSelectedCodecs(); // says that no codec is selected
        return false;
    }
    OriginalList list = CollectOriginals(o.originals);
    for (const auto &problem : list.problems) std::fprintf(stderr, "vtbench32: %s\n", problem.c_str());
    if (list.originals.empty()) {
        std::fprintf(stderr, "vtbench32: no originals to run\n");
        return false;
    }
    CorpusSettings settings;
    settings.jobs = o.jobs > 0 ? o.jobs : AvailableCores();
    settings.measureQuality = !o.noQuality;
    settings.resample = o.resample;
    settings.mono = o.mono;
    settings.keepDir = o.keepDir;
    settings.showProgress = showProgress;
    const CorpusOutcome outcome = RunCorpus(ev, list.originals, settings, stderr);
    if (outcome.setupFailed) return false;
    const auto codecs = Summarise(outcome.files, codecOrder);
    PrintCorpusReport(stdout, outcome, codecs);
    std::fflush(stdout);

    bool ok = list.problems.empty() && !outcome.interrupted;
    std::size_t finished = 0;
    for (const auto &f : outcome.files) {
        ok = ok && f.state == FileState::Done && !f.AnyCodecFailed() && !f.keepFailed;
        if (f.state == FileState::Done || f.state == FileState::Refused) ++finished;
    }
    if (outcome.interrupted) {
        std::fprintf(stderr, "vtbench32: interrupted; %zu of %zu originals finished\n", finished, outcome.files.size());
    }
    std::string error;
    if (!o.jsonPath.empty() && !WriteCorpusJson(o.jsonPath, outcome, codecs, error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    if (!o.csvPath.empty() && !WriteCsv(o.csvPath, outcome.files, error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    return ok;
}

// One original (or a session): the comparison as the window shows it.
bool RunSingleBatch(evaluator::Evaluator &ev, ConsoleFrontend &ui, const BatchOptions &o) {
    std::string originalPath = o.originals.empty() ? std::string() : o.originals.front();
    const std::string converted = ev.Temp().dir + "~t_conv.wav";
    std::string conversion;
    if (o.sessionIn.empty() && (o.resample || o.mono)) {
        evaluator::WaveSampleReader probe;
        std::vector<uint32_t> masks;
        for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
            if (ev.Slots()[i].selected != 0) masks.push_back(ev.Slots()[i].info.formatMask);
        }
        if (probe.Open(originalPath)) {
            const ConversionPlan plan = PlanConversion(probe.SampleRate(), probe.Channels(), masks, o.resample, o.mono);
            if (plan.Needed()) {
                std::string error;
                if (!ConvertOriginal(originalPath, plan, converted, ui, ConsoleFrontend::InterruptFlag(), error)) {
                    unlink(converted.c_str());
                    std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
                    return false;
                }
                conversion = ConversionNote(probe.SampleRate(), plan);
                originalPath = converted;
            }
        }
    }
    struct RemoveCopy {
        const std::string &path;
        ~RemoveCopy() { unlink(path.c_str()); }
    } removeCopy{converted};

    bool ok = true;
    if (!o.sessionIn.empty()) {
        ok = ev.OpenSession(o.sessionIn);
    } else if (ev.OpenOriginalFile(originalPath)) {
        ev.ProcessSelectedCodecs();
    } else {
        ok = false;
    }
    if (ev.Cancelled()) {
        std::fprintf(stderr, "vtbench32: processing cancelled\n");
        return false;
    }
    const std::string shownName = conversion.empty() ? ev.OriginalDisplayName() : platform::FileNameOf(o.originals.front());
    if (ev.Original().Exists()) PrintReport(stdout, ev, shownName, conversion);
    std::fflush(stdout);

    bool anySelected = false;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        ok = ok && !ev.Slots()[i].failed;
        anySelected = anySelected || ev.Slots()[i].selected != 0;
    }
    // Nothing compared is not a success.
    ok = ok && anySelected;
    if (!o.keepDir.empty()) {
        std::vector<std::string> problems;
        // The original named, and the copy that was run (converted, or out of a session).
        FileSet originals;
        if (!o.originals.empty()) originals.Add(o.originals.front());
        originals.Add(ev.Original().path);
        ok = KeepFiles(ui, ev, o.keepDir, originals, problems) && ok;
        for (const auto &problem : problems) std::fprintf(stderr, "vtbench32: %s\n", problem.c_str());
    }
    if (!o.sessionOut.empty() && ev.Original().Exists()) ok = ev.SaveSession(o.sessionOut) && ok;
    std::string error;
    if (!o.jsonPath.empty() && !WriteJson(o.jsonPath, ev, ui.Messages(), error, shownName, conversion)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    if (!o.csvPath.empty()) {
        const FileResult file = OriginalResult(ev, o.sessionIn.empty() ? o.originals.front() : ev.Original().path,
                                               shownName, conversion, ui.Messages());
        if (!WriteCsv(o.csvPath, {file}, error)) {
            std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
            ok = false;
        }
    }
    return ok;
}

} // namespace

int RunBatch(int argc, char **argv) {
    CLI::App app{"vtbench32 --batch: encode and decode originals with every selected codec and compare them"};
    BatchOptions o;
    bool batch = false;
    app.add_flag("--batch", batch, "run without a window");
    app.add_option("originals", o.originals,
                   "original PCM wave files, and folders searched for *.wav (several: a corpus run)")
        ->check(CLI::ExistingPath);
    app.add_option("--codecs", o.codecList, "comma-separated codecs to run (default: the user's selection)");
    app.add_option("--option", o.optionArgs, "options of one codec, e.g. VT4864v6=4800 or VT15=vad (repeatable)");
    app.add_flag("--vad", o.vad, "voice activity detection for every codec that offers it");
    app.add_option("-j,--jobs", o.jobs, "originals run at once (default: the number of cores)")
        ->check(CLI::Range(1, 256));
    app.add_flag("--resample", o.resample,
                 "convert an original at a rate no selected codec takes to the nearest rate one takes");
    app.add_flag("--mono", o.mono, "mix stereo originals down to mono");
    app.add_option("--session", o.sessionIn, "open a session file and rerun it")->check(CLI::ExistingFile);
    app.add_option("--save-session", o.sessionOut, "save the comparison of one original as a session file");
    app.add_option("--keep", o.keepDir, "copy the coded and decoded files into this folder");
    app.add_option("--json", o.jsonPath, "write all results as JSON");
    app.add_option("--csv", o.csvPath, "write one row per original and codec as CSV");
    auto *progressFlag = app.add_flag("--progress", o.progress, "show progress even when stderr is not a terminal");
    app.add_flag("--quiet", o.quiet, "no progress")->excludes(progressFlag);
    app.add_flag("--no-quality", o.noQuality, "skip the objective quality measures");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const bool corpus = o.originals.size() > 1 || (o.originals.size() == 1 && IsFolder(o.originals.front()));
    if (!o.sessionIn.empty() && (!o.originals.empty() || !o.codecList.empty() || o.resample || o.mono)) {
        std::fprintf(stderr, "vtbench32: --session brings its own original and codecs\n");
        return 2;
    }
    if (!o.sessionOut.empty() && (corpus || o.resample || o.mono)) {
        std::fprintf(stderr, "vtbench32: --save-session stores one original as it is (no corpus, --resample or --mono)\n");
        return 2;
    }
    if (o.sessionIn.empty() && o.originals.empty()) o.originals.push_back(VNTR_DEFAULT_ORIGINAL);
    const bool showProgress = !o.quiet && (o.progress || isatty(STDERR_FILENO) != 0);

    evaluator::EvaluatorConfig config;
    config.measureQuality = !o.noQuality;
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

    // A corpus run draws its own bar; one original shows the codec's progress lines.
    ConsoleFrontend ui(stderr, showProgress && !corpus);
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
    if (const int status = ApplyCodecChoices(ev, o); status != 0) return finish(status);
    const bool ok = corpus ? RunCorpusBatch(ev, o, showProgress) : RunSingleBatch(ev, ui, o);
    return finish(ok ? 0 : 1);
}

} // namespace vntr::cli
