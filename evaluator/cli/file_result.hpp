// What one original gave: the outcome of every selected codec, taken from
// an evaluator after its run, in a form that outlives the evaluator (a corpus
// run keeps one per original; the reports are written from these).
#pragma once

#include "core/evaluator.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vntr::cli {

struct CodecResult {
    std::string name;
    std::string description;
    std::string outcome; // "ok", "not run", "failed", "no result"
    std::string reason;  // why a codec did not run ("8 kHz not supported")
    int16_t codecId = 0;
    uint32_t encoderOptions = 0;
    int16_t row = -1;    // display row (by bit rate), -1 when not shown
    bool downsampled = false;
    int32_t sampleRate = 0;
    uint32_t inputBytes = 0;
    uint32_t codedBytes = 0;
    float bitRate = 0;
    float ratio = 0;
    double seconds = 0; // audio the codec coded
    uint64_t codingMicros = 0;
    uint64_t decodingMicros = 0;
    evaluator::Quality quality;

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
    int32_t sampleRate = 0;
    std::string format;
    double seconds = 0;
    uint32_t dataBytes = 0;
    std::vector<CodecResult> codecs; // in the order of the report: by bit rate, then the others
    bool keepFailed = false;

    bool AnyCodecFailed() const;
};

// The selected codecs of `ev` after a run, in report order.
std::vector<CodecResult> CollectCodecResults(const evaluator::Evaluator &ev);

// The one original of `ev` and its codecs, as the batch front end and the
// window's export report it: done when the original is open, else refused.
FileResult OriginalResult(const evaluator::Evaluator &ev, const std::string &path, const std::string &name,
                          const std::string &conversion, const std::vector<std::string> &messages);

} // namespace vntr::cli
