#include "cli/batch.hpp"

#include "cli/codec_rates.hpp"
#include "cli/console_frontend.hpp"
#include "cli/conversion.hpp"
#include "cli/corpus_files.hpp"
#include "cli/corpus_run.hpp"
#include "cli/kept_files.hpp"
#include "cli/modes.hpp"
#include "core/evaluator.hpp"
#include "core/instance.hpp"
#include "core/wave_samples.hpp"
#include "report/corpus_report.hpp"
#include "report/file_result.hpp"
#include "report/original_report.hpp"

#include <vntr/platform/clock.hpp>
#include <vntr/platform/paths.hpp>

#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#ifndef VNTR_DEFAULT_ORIGINAL
#define VNTR_DEFAULT_ORIGINAL ""
#endif

namespace vntr::cli {

using report::CodecResult;
using report::CollectCodecResults;
using report::CorpusOutcome;
using report::FileResult;
using report::FileState;
using report::ModeLabel;
using report::NoCodecTakesTheRate;
using report::OriginalResult;
using report::PrintCorpusReport;
using report::PrintRows;
using report::ReportedOriginal;
using report::ReportedOriginalOf;
using report::Summarise;
using report::UntakenRateMessage;
using report::WriteCorpusJson;
using report::WriteCsv;
using report::WriteOriginalJson;

void PrintUsage(std::FILE *out) {
    std::fprintf(
        out,
        "usage: vtbench32 --batch [ORIGINAL.wav | FOLDER ...] [--codecs A,B,...] [--saved-selection]\n"
        "                 [--option CODEC=4800|6400|vad|novad[+...][,MODE...]] [--vad] [-j N] [--resample] [--mono] "
        "[--json FILE] [--csv FILE] [--keep DIR]\n"
        "                 [--progress | --quiet] [--no-quality | --no-visqol] [--scorer 'COMMAND {ref} {deg}']\n"
        "                 [--session FILE | --save-session FILE]\n"
        "Runs every codec (or those named) over the original (default: %s) and prints the\n"
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
    bool savedSelection = false;
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
    std::optional<double> level; // dBov
    bool progress = false;
    bool quiet = false;
    bool noQuality = false;
    bool noVisqol = false;
    std::string scorer;
};

bool IsFolder(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> SplitList(const std::string &text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ',')) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

// Sets the selection and the modes of the command line into `plan`; 0, or
// the exit status of a bad command line (said on stderr).
int ApplyCodecChoices(evaluator::Evaluator &ev, const BatchOptions &o, ModePlan &plan) {
    if (!o.codecList.empty()) {
        std::vector<bool> selection(ev.SlotCount(), false);
        for (const auto &name : SplitList(o.codecList)) {
            const int index = ev.FindCodec(name);
            if (index < 0) {
                std::fprintf(stderr, "vtbench32: no codec named %s is installed\n", name.c_str());
                return 2;
            }
            selection[static_cast<std::size_t>(index)] = true;
        }
        ev.ApplySelection(selection);
    }
    for (std::size_t i = 0; i < ev.SlotCount() && o.vad; ++i) {
        if ((ev.OfferedOptions(i) & CODEC_OPT_VAD) != 0) ev.SetCodecOptions(i, ev.CodecOptions(i) | CODEC_OPT_VAD);
    }
    plan = CurrentModes(ev);
    for (const auto &arg : o.optionArgs) {
        const auto equals = arg.find('=');
        const int index = equals == std::string::npos ? -1 : ev.FindCodec(arg.substr(0, equals));
        if (index < 0) {
            std::fprintf(stderr, "vtbench32: --option %s: expected CODEC=OPTIONS with an installed codec\n",
                         arg.c_str());
            return 2;
        }
        const auto codec = static_cast<std::size_t>(index);
        std::string error;
        std::vector<uint32_t> modes;
        if (!ParseModes(arg.substr(equals + 1), ev.OfferedOptions(codec), ev.CodecOptions(codec), modes, error)) {
            std::fprintf(stderr, "vtbench32: --option %s: %s\n", arg.c_str(), error.c_str());
            return 2;
        }
        ev.SetCodecOptions(codec, modes.front());
        if (ev.IsSelected(codec)) plan.modes[codec] = modes;
    }
    return 0;
}

// Seconds of the monotonic clock since `startMs`.
double SecondsSince(uint64_t startMs) {
    return static_cast<double>(platform::MonotonicMs() - startMs) / 1000.0;
}

// The rows of the corpus table in slot order: every mode of every selected codec.
std::vector<std::string> RowLabels(const evaluator::Evaluator &ev, const ModePlan &plan) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < ev.SlotCount() && i < plan.modes.size(); ++i) {
        const auto &slot = ev.Slots()[i];
        for (const uint32_t word : plan.modes[i]) labels.push_back(ModeLabel(slot.Name(), slot.info.optionMask, word));
    }
    return labels;
}

// Many originals: the corpus run and its report.
bool RunCorpusBatch(evaluator::Evaluator &ev, const BatchOptions &o, const ModePlan &plan, bool showProgress) {
    const std::vector<std::string> codecOrder = RowLabels(ev, plan);
    if (codecOrder.empty()) {
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
    settings.level = o.level;
    settings.keepDir = o.keepDir;
    settings.showProgress = showProgress;
    settings.modes = plan;
    const CorpusOutcome outcome = RunCorpus(ev, list.originals, settings, stderr);
    if (outcome.setupFailed) return false;
    const auto codecs = Summarise(outcome.files, codecOrder);
    PrintCorpusReport(stdout, outcome, codecs);
    std::fflush(stdout);

    bool ok = list.problems.empty() && !outcome.interrupted;
    std::size_t finished = 0;
    for (const auto &f : outcome.files) {
        ok = ok && f.state == FileState::Done && !f.AnyCodecFailed() && !f.keepFailed && !f.untaken;
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

// One original with --resample: each codec at its own rate.
bool RunSingleAtCodecRates(evaluator::Evaluator &ev, ConsoleFrontend &ui, const BatchOptions &o, const ModePlan &plan) {
    const uint64_t start = platform::MonotonicMs();
    const std::string &path = o.originals.front();
    RatesRun run;
    std::vector<std::string> problems;
    std::string error;
    FileSet originals;
    originals.Add(path);
    const bool ran = RunAtCodecRates(ev, ui, path, plan, o.mono, o.level, o.keepDir, originals, problems, run, error);
    for (const auto &problem : problems) std::fprintf(stderr, "vtbench32: %s\n", problem.c_str());
    if (!ran) {
        std::fprintf(stderr, "vtbench32: %s\n", run.cancelled ? "processing cancelled" : error.c_str());
        return false;
    }
    ReportedOriginal original;
    original.exists = true;
    original.name = platform::FileNameOf(path);
    original.path = path;
    original.sampleRate = run.source.rate;
    original.seconds = run.source.rate > 0 ? static_cast<double>(run.source.frames) / run.source.rate : 0;
    original.formatText = run.source.FormatText();
    char duration[32];
    std::snprintf(duration, sizeof duration, "%4.2f sec", original.seconds);
    original.durationText = duration;
    original.conversion = run.note;
    PrintRows(stdout, original, run.rows);
    std::fflush(stdout);
    bool ok = problems.empty() && !run.rows.empty();
    for (const auto &row : run.rows) ok = ok && row.outcome != "failed";
    FileResult file;
    file.path = path;
    file.name = original.name;
    file.state = FileState::Done;
    file.conversion = run.note;
    file.messages = ui.Messages();
    file.sampleRate = original.sampleRate;
    file.format = original.formatText;
    file.seconds = original.seconds;
    file.codecs = run.rows;
    if (!o.jsonPath.empty() && !WriteOriginalJson(o.jsonPath, file, SecondsSince(start), error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    if (!o.csvPath.empty() && !WriteCsv(o.csvPath, {file}, error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    return ok;
}

// One original (or a session): the comparison as the window shows it.
bool RunSingleBatch(evaluator::Evaluator &ev, ConsoleFrontend &ui, const BatchOptions &o, const ModePlan &plan) {
    if (o.resample && o.sessionIn.empty()) return RunSingleAtCodecRates(ev, ui, o, plan);
    const uint64_t start = platform::MonotonicMs();
    std::string originalPath = o.originals.empty() ? std::string() : o.originals.front();
    const std::string converted = ev.Temp().dir + "~t_conv.wav";
    std::string conversion;
    if (o.sessionIn.empty() && (o.mono || o.level)) {
        evaluator::WaveSampleReader probe;
        if (probe.Open(originalPath)) {
            ConversionPlan conversionPlan = PlanConversion(probe.Channels(), o.mono);
            if (o.level && !PlanLevel(originalPath, *o.level, conversionPlan)) {
                std::fprintf(stderr, "vtbench32: cannot read %s to measure its level\n", originalPath.c_str());
                return false;
            }
            if (conversionPlan.Needed()) {
                std::string error;
                if (!ConvertOriginal(originalPath, conversionPlan, converted, ui, ConsoleFrontend::InterruptFlag(),
                                     error)) {
                    unlink(converted.c_str());
                    std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
                    return false;
                }
                conversion = ConversionNote(conversionPlan);
                originalPath = converted;
            }
        }
    }
    struct RemoveCopy {
        const std::string &path;
        ~RemoveCopy() { unlink(path.c_str()); }
    } removeCopy{converted};

    if (o.sessionIn.empty() && conversion.empty()) {
        if (const std::string other = OtherEncoding(originalPath); !other.empty()) {
            std::fprintf(stderr, "vtbench32: %s\n", OtherEncodingMessage(originalPath, other).c_str());
            return false;
        }
    }

    bool ok = true;
    bool keepOk = true;
    std::vector<CodecResult> rows;
    std::vector<std::string> problems;
    // Each pass's files are kept before the next pass of other modes replaces them.
    // No kept copy replaces the original named, nor the copy that was run
    // (converted, or out of a session).
    FileSet originals;
    if (!o.originals.empty()) originals.Add(o.originals.front());
    auto keep = [&](std::size_t) {
        if (o.keepDir.empty()) return;
        originals.Add(ev.Original().path);
        keepOk = KeepFiles(ui, ev, o.keepDir, originals, problems) && keepOk;
    };
    if (!o.sessionIn.empty()) {
        ok = ev.OpenSession(o.sessionIn);
        if (!ev.Cancelled()) {
            rows = CollectCodecResults(ev);
            keep(0);
        }
    } else if (ev.OpenOriginalFile(originalPath)) {
        RunModes(ev, plan, rows, keep);
    } else {
        ok = false;
    }
    if (ev.Cancelled()) {
        std::fprintf(stderr, "vtbench32: processing cancelled\n");
        return false;
    }
    const std::string shownName =
        conversion.empty() ? ev.OriginalDisplayName() : platform::FileNameOf(o.originals.front());
    const ReportedOriginal original = ReportedOriginalOf(ev, shownName, conversion);
    if (original.exists) PrintRows(stdout, original, rows);
    std::fflush(stdout);

    bool anySelected = false;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) anySelected = anySelected || ev.IsSelected(i);
    for (const auto &row : rows) ok = ok && row.outcome != "failed";
    if (original.exists && NoCodecTakesTheRate(rows)) {
        std::fprintf(stderr, "vtbench32: %s: %s\n", original.name.c_str(),
                     UntakenRateMessage(original.sampleRate).c_str());
        ok = false;
    }
    // Nothing compared is not a success.
    ok = ok && anySelected && keepOk;
    for (const auto &problem : problems) std::fprintf(stderr, "vtbench32: %s\n", problem.c_str());
    if (!o.sessionOut.empty() && ev.Original().Exists()) ok = ev.SaveSession(o.sessionOut) && ok;
    std::string error;
    FileResult file = OriginalResult(ev, o.sessionIn.empty() ? o.originals.front() : ev.Original().path, shownName,
                                     conversion, ui.Messages());
    if (file.state == FileState::Done) file.codecs = rows;
    if (!o.jsonPath.empty() && !WriteOriginalJson(o.jsonPath, file, SecondsSince(start), error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    if (!o.csvPath.empty() && !WriteCsv(o.csvPath, {file}, error)) {
        std::fprintf(stderr, "vtbench32: %s\n", error.c_str());
        ok = false;
    }
    return ok;
}

namespace fs = std::filesystem;

// The temporary folder of one batch run, "~batch-XXXXXX" inside the
// per-user temporary folder, locked while the run lasts: runs never share
// their temporary files with each other or with the window, so they need
// no single-instance rule.  The folders of runs that were killed (their lock
// is free) are deleted by the next run.
class BatchFolder {
public:
    static std::unique_ptr<BatchFolder> Make() {
        const auto base = platform::UserTempDirectory();
        if (!base) return nullptr;
        std::error_code ec;
        for (fs::directory_iterator it(*base, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(kPrefix, 0) != 0 || !it->is_directory(ec)) continue;
            // A run that has just made its folder may not hold its lock yet.
            const fs::path lockFile = it->path() / "vtbench32.lock";
            std::error_code timeError;
            const auto made = fs::last_write_time(lockFile, timeError);
            if (timeError || fs::file_time_type::clock::now() - made < std::chrono::seconds(10)) continue;
            if (const auto stale = evaluator::InstanceLock::Acquire(it->path().string())) {
                std::error_code ignored;
                fs::remove_all(it->path(), ignored);
            }
        }
        std::string pattern = *base + kPrefix + "XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return nullptr;
        auto lock = evaluator::InstanceLock::Acquire(pattern);
        if (!lock) {
            fs::remove_all(pattern, ec);
            return nullptr;
        }
        return std::unique_ptr<BatchFolder>(new BatchFolder(pattern + "/", std::move(lock)));
    }
    ~BatchFolder() {
        lock_.reset();
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string &Path() const { return path_; }

private:
    static constexpr const char *kPrefix = "~batch-";
    BatchFolder(std::string path, std::unique_ptr<evaluator::InstanceLock> lock)
        : path_(std::move(path)), lock_(std::move(lock)) {}
    std::string path_;
    std::unique_ptr<evaluator::InstanceLock> lock_;
};

} // namespace

int RunBatch(int argc, char **argv) {
    CLI::App app{"vtbench32 --batch: encode and decode originals with every selected codec and compare them"};
    BatchOptions o;
    bool batch = false;
    app.add_flag("--batch", batch, "run without a window");
    app.add_option("originals", o.originals,
                   "original PCM wave files, and folders searched for *.wav (several: a corpus run)")
        ->check(CLI::ExistingPath);
    app.add_option("--codecs", o.codecList, "comma-separated codecs to run (default: every codec installed)");
    app.add_flag(
        "--saved-selection", o.savedSelection,
        "start from the codecs and modes last chosen in the window instead of every codec in its default mode");
    app.add_option("--option", o.optionArgs,
                   "modes of one codec, e.g. VT4864v6=4800, VT4864v6=4800,6400 (a row for each) or VT15=vad+4800 "
                   "(repeatable)");
    app.add_flag("--vad", o.vad, "voice activity detection for every codec that offers it");
    app.add_option("-j,--jobs", o.jobs, "originals run at once (default: the number of cores)")
        ->check(CLI::Range(1, 256));
    app.add_flag("--resample", o.resample,
                 "read originals in any format libsndfile reads and feed each codec a copy at its own rate");
    app.add_flag("--mono", o.mono, "mix stereo originals down to mono");
    app.add_option("--level", o.level,
                   "scale each original to this active speech level in dBov (ITU-T P.56 method B), e.g. -26")
        ->check(CLI::Range(-80.0, 0.0));
    app.add_option("--session", o.sessionIn, "open a session file and rerun it")->check(CLI::ExistingFile);
    app.add_option("--save-session", o.sessionOut, "save the comparison of one original as a session file");
    app.add_option("--keep", o.keepDir, "copy the coded and decoded files into this folder");
    app.add_option("--json", o.jsonPath, "write all results as JSON");
    app.add_option("--csv", o.csvPath, "write one row per original and codec as CSV");
    auto *progressFlag = app.add_flag("--progress", o.progress, "show progress even when stderr is not a terminal");
    app.add_flag("--quiet", o.quiet, "no progress")->excludes(progressFlag);
    auto *noQualityFlag = app.add_flag("--no-quality", o.noQuality, "skip the objective quality measures");
    app.add_flag("--no-visqol", o.noVisqol, "skip the ViSQOL score (SNR, segmental SNR and LSD are still measured)")
        ->excludes(noQualityFlag);
    app.add_option("--scorer", o.scorer,
                   "run this installed tool on each original/decoded pair, e.g. 'pesq +8000 {ref} {deg}': "
                   "its last printed number is one more column")
        ->excludes(noQualityFlag);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const bool corpus = o.originals.size() > 1 || (o.originals.size() == 1 && IsFolder(o.originals.front()));
    if (!o.sessionIn.empty() && (!o.originals.empty() || !o.codecList.empty() || o.resample || o.mono || o.level)) {
        std::fprintf(stderr, "vtbench32: --session brings its own original and codecs\n");
        return 2;
    }
    if (!o.sessionOut.empty() && (corpus || o.resample || o.mono || o.level)) {
        std::fprintf(
            stderr,
            "vtbench32: --save-session stores one original as it is (no corpus, --resample, --mono or --level)\n");
        return 2;
    }
    if (o.sessionIn.empty() && o.originals.empty()) o.originals.push_back(VNTR_DEFAULT_ORIGINAL);
    const bool showProgress = !o.quiet && (o.progress || isatty(STDERR_FILENO) != 0);

    evaluator::EvaluatorConfig config;
    config.measureQuality = !o.noQuality;
    config.measureVisqol = !o.noVisqol;
    if (!o.scorer.empty()) {
        std::string error;
        config.scorer = evaluator::ExternalScorer::Parse(o.scorer, error);
        if (!config.scorer) {
            std::fprintf(stderr, "vtbench32: --scorer: %s\n", error.c_str());
            return 2;
        }
    }
    // The window's choices are its own: a batch run starts from every codec
    // in its default mode unless asked, and never writes them.
    config.readPreferences = o.savedSelection;
    config.savePreferences = false;
    config.skipShortOriginals = true;
    // Every codec mode is compared at one lag for the whole run, whichever
    // worker finds it.
    if (!o.noQuality) config.alignments = std::make_shared<evaluator::AlignmentTable>();
    const auto folder = BatchFolder::Make();
    if (!folder) {
        std::fprintf(stderr, "vtbench32: cannot create a temporary folder for the run\n");
        return 1;
    }
    config.tempDir = folder->Path();

    // A corpus run draws its own bar; one original shows the codec's progress lines.
    ConsoleFrontend ui(stderr, showProgress && !corpus);
    ConsoleFrontend::CatchInterrupt();
    evaluator::Evaluator ev(ui, config);
    if (!ev.Startup()) return 1;
    ModePlan plan;
    int status = ApplyCodecChoices(ev, o, plan);
    if (status == 0 && plan.Several() && (!o.sessionOut.empty())) {
        std::fprintf(stderr, "vtbench32: --save-session stores one mode per codec\n");
        status = 2;
    }
    if (status == 0) {
        const bool ok = corpus ? RunCorpusBatch(ev, o, plan, showProgress) : RunSingleBatch(ev, ui, o, plan);
        status = ok ? 0 : 1;
        // A tool that failed is named once for the run; the run stands.
        if (config.scorer) {
            if (const std::string summary = config.scorer->Summary(); !summary.empty()) {
                std::fprintf(stderr, "vtbench32: %s\n", summary.c_str());
            }
        }
    }
    ev.Shutdown();
    return status;
}

} // namespace vntr::cli
