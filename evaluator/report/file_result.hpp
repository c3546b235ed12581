// What one original gave: the outcome of every selected codec, taken from
// an evaluator after its run, in a form that outlives the evaluator (a corpus
// run keeps one per original; the reports are written from these).
#pragma once

#include "core/evaluator.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vntr::report {

// The mode of a codec that offers the options in `offered`, run with
// `options`, in words: "4.8k", "6.4k", "4.8k-6.4k" (the rate switched per
// frame), then "VAD" or "no VAD"; empty for a codec that offers no option.
std::string ModeWords(uint32_t offered, uint32_t options);
// "VT4864v6 4.8k"; the codec's name alone when the mode has no words.
std::string ModeLabel(const std::string &codec, uint32_t offered, uint32_t options);

struct CodecResult {
    std::string name;  // the library
    std::string mode;  // its mode in words ("4.8k"), empty for a codec without options
    std::string label; // the row's name: the library and its mode ("VT4864v6 4.8k")
    std::string description;
    std::string peerLibrary; // the system library that codes a peer, empty for ours
    std::string outcome;     // "ok", "not run", "failed", "no result"
    std::string reason;      // why a codec did not run ("8 kHz not supported")
    int16_t codecId = 0;
    uint32_t encoderOptions = 0;
    int16_t row = -1; // display row (by bit rate), -1 when not shown
    bool downsampled = false;
    int32_t sampleRate = 0;
    uint32_t inputBytes = 0;
    uint32_t codedBytes = 0;
    float bitRate = 0;
    float ratio = 0;
    double seconds = 0; // audio the codec coded
    uint64_t codingMicros = 0;
    uint64_t decodingMicros = 0;
    // As the window shows them: milliseconds, loads in percent of real time,
    // the texts of the bar and the three detail lines.
    uint32_t codingMs = 0;
    uint32_t decodingMs = 0;
    float codingLoad = 0;
    float decodingLoad = 0;
    std::string bitRateText;
    std::string ratioText;
    std::vector<std::string> lines; // empty for a codec without results
    evaluator::Quality quality;
    bool alignedOnce = false;    // compared at the codec's one alignment for the run
    int32_t latencySamples = -1; // declared algorithmic latency (delay plus a frame), -1 when unknown

    bool Ok() const { return outcome == "ok"; }
    double CodingRealTime() const { return codingMicros > 0 ? seconds * 1e6 / static_cast<double>(codingMicros) : 0; }
    double DecodingRealTime() const {
        return decodingMicros > 0 ? seconds * 1e6 / static_cast<double>(decodingMicros) : 0;
    }
};

enum class FileState {
    Pending,     // not reached (the run was interrupted before it)
    Done,        // opened and run; its codecs may still have failed
    Refused,     // its checks or its conversion failed
    Interrupted, // stopped in the middle
};
const char *FileStateName(FileState state); // "pending", "ok", "refused", "interrupted"

struct FileResult {
    std::string path;       // as found on the command line or in a folder
    std::string name;       // as shown: the file name, or the path inside the folder named
    std::string keepFolder; // the sub-folder of --keep for its files
    FileState state = FileState::Pending;
    std::vector<std::string> messages; // every message shown for it, "title: text"
    std::string conversion;            // "resampled from 16000 Hz to 11025 Hz", "mixed down to mono"
    // The original as it was run (after a conversion).
    bool fromSession = false; // opened out of a session file
    uint32_t formatFlags = 0; // the core's format word, 0 when read through libsndfile (--resample)
    int32_t sampleRate = 0;
    std::string format;
    double seconds = 0;
    uint32_t dataBytes = 0;
    std::vector<CodecResult> codecs; // in the order of the report: by bit rate, then the others
    bool keepFailed = false;
    bool untaken = false; // no selected codec takes its rate (said in its messages)

    bool AnyCodecFailed() const;
};

// True when there are rows and none ran because none takes the original's
// sample rate: the original needs --resample.
bool NoCodecTakesTheRate(const std::vector<CodecResult> &rows);
// "no selected codec takes 16000 Hz: use --resample".
std::string UntakenRateMessage(int32_t rate);

// The selected codecs of `ev` after a run, in report order.
std::vector<CodecResult> CollectCodecResults(const evaluator::Evaluator &ev);

// The one original of `ev` and its codecs, as the batch front end and the
// window's export report it: done when the original is open, else refused.
FileResult OriginalResult(const evaluator::Evaluator &ev, const std::string &path, const std::string &name,
                          const std::string &conversion, const std::vector<std::string> &messages);

} // namespace vntr::report
