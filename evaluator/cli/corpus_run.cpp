#include "cli/corpus_run.hpp"

#include "cli/codec_rates.hpp"
#include "cli/console_frontend.hpp"
#include "cli/conversion.hpp"
#include "cli/kept_files.hpp"
#include "cli/progress_line.hpp"
#include "core/wave_samples.hpp"

#include <vntr/platform/clock.hpp>

#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace vntr::cli {

using report::CodecResult;
using report::CorpusOutcome;
using report::FileResult;
using report::FileState;
using report::NoCodecTakesTheRate;
using report::UntakenRateMessage;

namespace {

namespace fs = std::filesystem;

constexpr const char *kConvertedName = "~t_conv.wav";

// A worker's side of the core's interface: messages go to the original in
// hand, questions get the console's fixed answer, and the frames pumped say
// how far the original has come.
class WorkerFrontend final : public evaluator::Frontend {
public:
    void ShowMessage(const std::string &title, evaluator::MessageIcon, const std::string &text) override {
        if (messages_ != nullptr) messages_->push_back(title + ": " + text);
    }
    evaluator::Answer AskQuestion(const std::string &, const std::string &, evaluator::QuestionButtons) override {
        return CancelRequested() ? evaluator::Answer::Yes : evaluator::Answer::No;
    }
    void ShowProgress(const evaluator::ProgressLines &) override {}
    void PumpEvents() override {
        if (ev_ != nullptr && ++pumps_ % 16 == 0) ReportProgress();
    }
    bool CancelRequested() override { return ConsoleFrontend::InterruptFlag().load(); }
    // The table lists a codec that cannot take an original with the reason.
    void ShowCodecMismatch(const std::string &) override {}

    // The original in hand: where its messages go, its length, the codecs that run on it.
    void Begin(std::vector<std::string> *messages, double seconds) {
        messages_ = messages;
        seconds_ = seconds;
        partial_.store(0);
    }
    void Watch(const evaluator::Evaluator *ev) { ev_ = ev; }
    void End() {
        messages_ = nullptr;
        partial_.store(0);
    }
    // Audio seconds of the original in hand that count as done.
    double Partial() const { return partial_.load(); }

private:
    // The share of the runnable codecs finished, the one running counting by
    // its coded and decoded bytes.
    void ReportProgress() {
        std::size_t runnable = 0;
        double done = 0;
        for (std::size_t i = 0; i < ev_->SlotCount(); ++i) {
            const auto &slot = ev_->Slots()[i];
            if (!ev_->IsSelected(i) || slot.formatFlags == 0) continue;
            ++runnable;
            if (static_cast<int>(i) < ev_->CurrentSlot()) {
                done += 1;
            } else if (static_cast<int>(i) == ev_->CurrentSlot() && slot.inputBytes > 0) {
                done += 0.5 * static_cast<double>(slot.encodedInputBytes) / slot.inputBytes;
                if (slot.codedBytes > 0 && slot.encodedInputBytes >= slot.inputBytes / 2) {
                    done += 0.5 * std::min(1.0, static_cast<double>(slot.decodedCodedBytes) / slot.codedBytes);
                }
            }
        }
        if (runnable > 0) partial_.store(seconds_ * std::min(1.0, done / static_cast<double>(runnable)));
    }

    std::vector<std::string> *messages_ = nullptr;
    const evaluator::Evaluator *ev_ = nullptr;
    double seconds_ = 0;
    std::atomic<double> partial_{0};
    unsigned pumps_ = 0;
};

struct Worker {
    WorkerFrontend ui;
    std::unique_ptr<evaluator::Evaluator> ev;
    ModePlan modes; // by the worker's own slots
    std::string folder;
    std::thread thread;
};

// What the workers and the main thread share, under `lock`.
struct Board {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<bool> finished;
    std::size_t finishedCount = 0;
    double secondsDone = 0;
    std::size_t running = 0; // workers still in their loop
    std::atomic<std::size_t> next{0};
};

double WaveSeconds(const std::string &path) {
    evaluator::WaveSampleReader reader;
    if (!reader.Open(path)) return 0;
    return static_cast<double>(reader.Frames()) / reader.SampleRate();
}

// Makes a worker whose evaluator has the prototype's codecs, selection and
// options; nothing (with the reason in `error`) when that fails.
std::unique_ptr<Worker> MakeWorker(const evaluator::Evaluator &prototype, const CorpusSettings &settings, int index,
                                   std::string &error) {
    auto worker = std::make_unique<Worker>();
    worker->folder = WorkerFolder(prototype.Temp().dir, index);
    std::error_code ec;
    fs::create_directories(worker->folder, ec);
    fs::permissions(worker->folder, fs::perms::owner_all, ec);
    if (!fs::is_directory(worker->folder)) {
        error = "cannot create the worker folder " + worker->folder;
        return nullptr;
    }
    evaluator::EvaluatorConfig config = prototype.Config();
    config.tempDir = worker->folder;
    config.measureQuality = settings.measureQuality;
    worker->ev = std::make_unique<evaluator::Evaluator>(worker->ui, config);
    // Discovery's messages were shown once, by the program's own evaluator.
    if (!worker->ev->Startup()) {
        error = "cannot start a worker in " + worker->folder;
        return nullptr;
    }
    std::vector<bool> selection(worker->ev->SlotCount(), false);
    worker->modes.modes.assign(worker->ev->SlotCount(), {});
    for (std::size_t p = 0; p < prototype.SlotCount(); ++p) {
        if (!prototype.IsSelected(p)) continue;
        const std::string name = prototype.Slots()[p].Name();
        const int found = worker->ev->FindCodec(name);
        if (found < 0) {
            error = "codec " + name + " is no longer installed";
            return nullptr;
        }
        const auto i = static_cast<std::size_t>(found);
        worker->ev->SetCodecOptions(i, prototype.CodecOptions(p));
        selection[i] = true;
        worker->modes.modes[i] = p < settings.modes.modes.size() && !settings.modes.modes[p].empty()
                                     ? settings.modes.modes[p]
                                     : std::vector<uint32_t>{prototype.CodecOptions(p)};
    }
    worker->ev->ApplySelection(selection);
    worker->ui.Watch(worker->ev.get());
    return worker;
}

// --resample: each codec at its own rate, from copies made for this original.
void RunOriginalAtCodecRates(Worker &worker, const Original &original, const CorpusSettings &settings,
                             const FileSet &allOriginals, FileResult &result) {
    RatesRun run;
    std::vector<std::string> problems;
    std::string error;
    const std::string keepDir = settings.keepDir.empty() ? "" : settings.keepDir + "/" + original.keepFolder;
    const bool ran = RunAtCodecRates(*worker.ev, worker.ui, original.path, worker.modes, settings.mono, settings.level,
                                     keepDir, allOriginals, problems, run, error);
    for (const auto &problem : problems) result.messages.push_back("vtbench32: " + problem);
    result.keepFailed = !problems.empty();
    if (!ran) {
        if (run.cancelled || ConsoleFrontend::InterruptFlag().load()) {
            result.state = FileState::Interrupted;
        } else {
            result.messages.push_back("vtbench32: " + error);
            result.state = FileState::Refused;
        }
        return;
    }
    result.sampleRate = run.source.rate;
    result.format = run.source.FormatText();
    result.seconds = run.source.rate > 0 ? static_cast<double>(run.source.frames) / run.source.rate : 0;
    result.dataBytes = 0;
    result.conversion = run.note;
    result.codecs = std::move(run.rows);
    result.state = FileState::Done;
}

void RunOriginal(Worker &worker, const Original &original, const CorpusSettings &settings, const FileSet &allOriginals,
                 FileResult &result) {
    if (settings.resample) {
        RunOriginalAtCodecRates(worker, original, settings, allOriginals, result);
        return;
    }
    evaluator::Evaluator &ev = *worker.ev;
    std::string path = original.path;
    const std::string converted = worker.folder + "/" + kConvertedName;
    evaluator::WaveSampleReader probe;
    if ((settings.mono || settings.level) && probe.Open(original.path)) {
        ConversionPlan plan = PlanConversion(probe.Channels(), settings.mono);
        if (settings.level && !PlanLevel(original.path, *settings.level, plan)) {
            result.messages.push_back("vtbench32: cannot read " + original.path + " to measure its level");
            result.state = FileState::Refused;
            return;
        }
        if (plan.Needed()) {
            std::string error;
            if (!ConvertOriginal(original.path, plan, converted, worker.ui, ConsoleFrontend::InterruptFlag(), error)) {
                unlink(converted.c_str());
                if (ConsoleFrontend::InterruptFlag().load()) {
                    result.state = FileState::Interrupted;
                } else {
                    result.messages.push_back("vtbench32: " + error);
                    result.state = FileState::Refused;
                }
                return;
            }
            result.conversion = ConversionNote(plan);
            path = converted;
        }
    }
    const std::string other = result.conversion.empty() ? OtherEncoding(path) : std::string();
    if (!other.empty()) {
        result.messages.push_back("vtbench32: " + OtherEncodingMessage(path, other));
        result.state = FileState::Refused;
    } else if (!ev.OpenOriginalFile(path)) {
        result.state = FileState::Refused;
    } else {
        // Each pass's files are kept before the next pass of other modes replaces them.
        std::vector<std::string> problems;
        auto keep = [&](std::size_t) {
            if (settings.keepDir.empty()) return;
            if (!KeepFiles(worker.ui, ev, settings.keepDir + "/" + original.keepFolder, allOriginals, problems)) {
                result.keepFailed = true;
            }
        };
        std::vector<CodecResult> rows;
        if (!RunModes(ev, worker.modes, rows, keep)) {
            result.state = FileState::Interrupted;
        } else {
            const auto &o = ev.Original();
            result.sampleRate = o.sampleRate;
            result.format = o.formatText;
            result.seconds = o.seconds;
            result.dataBytes = o.dataBytes;
            result.formatFlags = o.formatFlags;
            result.codecs = std::move(rows);
            result.state = FileState::Done;
            if (NoCodecTakesTheRate(result.codecs)) {
                result.untaken = true;
                result.messages.push_back("vtbench32: " + UntakenRateMessage(o.sampleRate));
            }
        }
        for (const auto &problem : problems) result.messages.push_back("vtbench32: " + problem);
    }
    unlink(converted.c_str());
}

void WorkerLoop(Worker &worker, const std::vector<Original> &originals, const std::vector<double> &seconds,
                const std::vector<std::size_t> &dispatch, const CorpusSettings &settings, const FileSet &allOriginals,
                std::vector<FileResult> &results, Board &board) {
    while (!ConsoleFrontend::InterruptFlag().load()) {
        const std::size_t next = board.next.fetch_add(1);
        if (next >= dispatch.size()) break;
        const std::size_t index = dispatch[next];
        FileResult &result = results[index];
        worker.ui.Begin(&result.messages, seconds[index]);
        RunOriginal(worker, originals[index], settings, allOriginals, result);
        worker.ui.End();
        // An original's codec handles and buffers come and go in many sizes;
        // handing the freed pages back keeps a long corpus from growing the
        // heap through fragmentation.
        malloc_trim(0);
        const std::lock_guard<std::mutex> hold(board.lock);
        board.finished[index] = true;
        ++board.finishedCount;
        if (result.state == FileState::Done || result.state == FileState::Refused) board.secondsDone += seconds[index];
        board.changed.notify_all();
    }
    // The worker's temporary files go with it.
    worker.ev->Temp().DeleteAll();
    worker.ev->UnloadCodecs();
    const std::lock_guard<std::mutex> hold(board.lock);
    --board.running;
    board.changed.notify_all();
}

} // namespace

std::string WorkerFolder(const std::string &tempDir, int worker) {
    std::string dir = tempDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + "~job" + std::to_string(worker);
}

void DeleteWorkerFolders(const std::string &tempDir) {
    std::error_code ec;
    for (fs::directory_iterator it(tempDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("~job", 0) == 0 && name.size() > 4 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos && it->is_directory(ec)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

int AvailableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

CorpusOutcome RunCorpus(const evaluator::Evaluator &prototype, const std::vector<Original> &originals,
                        const CorpusSettings &settings, std::FILE *err) {
    CorpusOutcome outcome;
    outcome.files.resize(originals.size());
    std::vector<double> seconds(originals.size());
    double totalSeconds = 0;
    // No kept copy may replace an original, the one it came from or another.
    FileSet allOriginals;
    for (std::size_t i = 0; i < originals.size(); ++i) {
        allOriginals.Add(originals[i].path);
        outcome.files[i].path = originals[i].path;
        outcome.files[i].name = originals[i].name;
        outcome.files[i].keepFolder = originals[i].keepFolder;
        seconds[i] = WaveSeconds(originals[i].path);
        totalSeconds += seconds[i];
    }

    const uint64_t start = platform::MonotonicMs();
    DeleteWorkerFolders(prototype.Temp().dir);
    const int count =
        std::max(1, std::min<int>(settings.jobs, static_cast<int>(std::max<std::size_t>(originals.size(), 1))));
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 1; i <= count; ++i) {
        std::string error;
        auto worker = MakeWorker(prototype, settings, i, error);
        if (!worker) {
            std::fprintf(err, "vtbench32: %s\n", error.c_str());
            if (workers.empty()) {
                outcome.setupFailed = true;
                DeleteWorkerFolders(prototype.Temp().dir);
                return outcome;
            }
            break; // run with the workers there are
        }
        workers.push_back(std::move(worker));
    }
    outcome.workers = static_cast<int>(workers.size());

    // The longest originals first, so that no worker is left with a long one
    // while the others have finished (the report keeps the corpus order).
    std::vector<std::size_t> dispatch(originals.size());
    for (std::size_t i = 0; i < dispatch.size(); ++i) dispatch[i] = i;
    std::stable_sort(dispatch.begin(), dispatch.end(),
                     [&](std::size_t a, std::size_t b) { return seconds[a] > seconds[b]; });

    Board board;
    board.finished.assign(originals.size(), false);
    board.running = workers.size();
    for (auto &worker : workers) {
        Worker &w = *worker;
        w.thread = std::thread([&, wp = &w] {
            WorkerLoop(*wp, originals, seconds, dispatch, settings, allOriginals, outcome.files, board);
        });
    }

    // Messages in corpus order as the originals finish; the bar between them.
    std::size_t printed = 0;
    bool barShown = false;
    auto clearBar = [&] {
        if (barShown) std::fputs("\r\033[K", err);
        barShown = false;
    };
    std::unique_lock<std::mutex> hold(board.lock);
    for (;;) {
        board.changed.wait_for(hold, std::chrono::milliseconds(200));
        while (printed < originals.size() && board.finished[printed]) {
            const FileResult &file = outcome.files[printed];
            for (const auto &message : file.messages) {
                clearBar();
                std::fprintf(err, "%s: %s\n", file.name.c_str(), message.c_str());
            }
            ++printed;
        }
        const bool over = board.running == 0;
        if (settings.showProgress && !over) {
            CorpusProgress progress;
            progress.files = originals.size();
            progress.filesDone = board.finishedCount;
            progress.seconds = totalSeconds;
            progress.secondsDone = board.secondsDone;
            for (const auto &w : workers) progress.secondsDone += w->ui.Partial();
            progress.elapsed = static_cast<double>(platform::MonotonicMs() - start) / 1000.0;
            std::fprintf(err, "\r\033[K%s", ProgressLine(progress).c_str());
            barShown = true;
        }
        std::fflush(err);
        if (over) break;
    }
    hold.unlock();
    clearBar();
    std::fflush(err);
    for (auto &worker : workers) worker->thread.join();
    // Originals an interrupt stopped or never reached.
    for (std::size_t i = printed; i < originals.size(); ++i) {
        for (const auto &message : outcome.files[i].messages) {
            std::fprintf(err, "%s: %s\n", outcome.files[i].name.c_str(), message.c_str());
        }
    }
    workers.clear();
    DeleteWorkerFolders(prototype.Temp().dir);
    outcome.interrupted = ConsoleFrontend::InterruptFlag().load();
    outcome.wallSeconds = static_cast<double>(platform::MonotonicMs() - start) / 1000.0;
    return outcome;
}

} // namespace vntr::cli
