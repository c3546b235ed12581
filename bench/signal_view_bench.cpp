// Opening the signal view on a long run: a 30-minute original at 8 kHz and
// the decoded results of 15 codecs, as wave files on disk the way a run
// leaves them.  One iteration is what the window does when the view opens:
// read the run into a signal set, hand it to the view, and draw the canvas
// once (into an offscreen image).  Counters: peak_MB, the process's peak
// resident memory during the iteration (its high-water mark is reset
// first), and held_MB, what stays resident while the view is open.
//
// Signals: kristoff.raw from codec2-examples repeated to 30 minutes (a tone
// when absent); each "decoded" file is the original delayed, scaled and with
// noise of its own level, so that every difference and curve has content.
// The run's measures of each (SNR, LSD and their curves) are made before,
// as the run makes them; ViSQOL is left out (it does not change what the
// view reads).
#include "core/quality.hpp"
#include "gui/logic/signal_set.hpp"
#include "gui/window/signal_canvas.hpp"
#include "gui/window/signal_view.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace vntr;

constexpr int kRate = 8000;
constexpr int kMinutes = 30;
constexpr int kCodecs = 15;

void PutLe(std::ofstream &f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.put(static_cast<char>(v >> (8 * i) & 0xFF));
}

void WriteWave(const std::string &path, const std::vector<int16_t> &x) {
    std::ofstream f(path, std::ios::binary);
    const auto data = static_cast<uint32_t>(x.size() * 2);
    f.write("RIFF", 4);
    PutLe(f, 36 + data, 4);
    f.write("WAVEfmt ", 8);
    PutLe(f, 16, 4);
    PutLe(f, 1, 2);
    PutLe(f, 1, 2);
    PutLe(f, kRate, 4);
    PutLe(f, kRate * 2, 4);
    PutLe(f, 2, 2);
    PutLe(f, 16, 2);
    f.write("data", 4);
    PutLe(f, data, 4);
    f.write(reinterpret_cast<const char *>(x.data()), static_cast<std::streamsize>(data));
}

// The run's files, made once for the whole program.
struct LongRun {
    std::string dir;
    std::string original;
    std::vector<gui::DecodedSource> sources;

    LongRun() {
        dir = (std::filesystem::temp_directory_path() / "vntr-longview-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr) return;
        std::vector<int16_t> speech = test::ReadRaw(test::SpeechRecording("kristoff"));
        if (speech.empty()) speech = test::Tone(kRate * 10, 440, kRate, 8000);
        const std::size_t length = static_cast<std::size_t>(kRate) * 60 * kMinutes;
        std::vector<int16_t> x(length);
        for (std::size_t i = 0; i < length; ++i) x[i] = speech[i % speech.size()];
        original = dir + "/original.wav";
        WriteWave(original, x);
        std::mt19937 random(7);
        std::vector<int16_t> y(length);
        for (int c = 0; c < kCodecs; ++c) {
            const int delay = 40 + 23 * c;
            const double gain = 0.7 + 0.03 * c;
            std::normal_distribution<double> noise(0.0, 30.0 + 40.0 * c);
            for (std::size_t i = 0; i < length; ++i) {
                const double v = i < static_cast<std::size_t>(delay) ? 0.0 : gain * x[i - delay] + noise(random);
                y[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
            }
            gui::DecodedSource s;
            s.name = "Codec " + std::to_string(c + 1);
            s.decodedPath = dir + "/" + std::to_string(c) + ".decoded.wav";
            s.inputPath = original;
            s.delaySamples = delay;
            WriteWave(s.decodedPath, y);
            // What the run measured (the window hands it to the view).
            evaluator::CompareWorkspace workspace;
            s.quality = evaluator::MeasureQuality(original, s.decodedPath, workspace);
            sources.push_back(std::move(s));
        }
    }
    ~LongRun() {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
};

const LongRun &Run() {
    static const LongRun run;
    return run;
}

// The process's resident memory in MB: now (VmRSS) or its peak (VmHWM).
double ResidentMb(const char *field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;
    }
    return 0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Processor time of the process (all its threads), in ms: the machine may
// be shared, and wall time counts other programs' turns too.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void BM_OpenSignalView(benchmark::State &state) {
    const LongRun &run = Run();
    if (run.sources.size() != static_cast<std::size_t>(kCodecs)) {
        state.SkipWithError("cannot write the run's files");
        return;
    }
    std::vector<std::string> names;
    for (const auto &s : run.sources) names.push_back(s.name);
    double peak = 0;
    double held = 0;
    double readMs = 0;
    double viewMs = 0;
    double drawMs = 0;
    double drawWallMs = 0;
    for (auto _ : state) {
        ResetPeak();
        {
            const double start = CpuMs();
            gui::SignalSet set;
            set.originalName = "original.wav";
            set.palette = gui::CodecPalette(names);
            std::vector<std::string> unreadable;
            if (!gui::LoadSignalSet(run.original, "Original", run.sources, set, unreadable) || !unreadable.empty()) {
                state.SkipWithError("cannot read the run's files");
                return;
            }
            const double read = CpuMs();
            gui::SignalView view;
            view.SetSignals(std::move(set), "30 minutes, 15 codecs");
            gui::SignalCanvas *canvas = view.Canvas();
            canvas->resize(1100, std::max(700, canvas->minimumSizeHint().height()));
            const double given = CpuMs();
            const auto wallStart = std::chrono::steady_clock::now();
            QImage image(canvas->size(), QImage::Format_RGB32);
            canvas->render(&image);
            const double drawn = CpuMs();
            drawWallMs +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
            readMs += read - start;
            viewMs += given - read;
            drawMs += drawn - given;
            benchmark::DoNotOptimize(image.constBits());
            held = std::max(held, ResidentMb("VmRSS"));
        }
        peak = std::max(peak, ResidentMb("VmHWM"));
    }
    state.counters["peak_MB"] = peak;
    state.counters["held_MB"] = held;
    // Processor time of the steps: reading the run, handing it to the view, drawing.
    const auto n = static_cast<double>(state.iterations());
    state.counters["read_cpu_ms"] = readMs / n;
    state.counters["view_cpu_ms"] = viewMs / n;
    state.counters["draw_cpu_ms"] = drawMs / n;
    // The first drawing as the user waits for it (the summaries are read on every processor).
    state.counters["draw_wall_ms"] = drawWallMs / n;
}
BENCHMARK(BM_OpenSignalView)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Run();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
