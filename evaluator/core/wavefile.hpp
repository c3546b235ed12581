// Wave files: checking and describing an original, the format flags, matching
// a codec to the original, and the three RIFF services the pipeline, the
// down-sampler and the sessions use (open for reading, create for writing,
// close), plus the plain file copy.
#pragma once

#include "codec_slot.hpp"
#include "frontend.hpp"

#include <vntr/platform/riff.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vntr::evaluator {

// The current original.
struct OriginalFile {
    std::string path;
    std::string name; // the file-name part of the path
    uint32_t dataBytes = 0;
    uint32_t formatFlags = 0;
    int32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    float seconds = 0;
    std::string formatText;   // "8000 Hz, PCM 16 bit MONO"
    std::string durationText; // "4.00 sec"

    bool Exists() const { return !path.empty(); }
};

// The 18-byte format chunk of a PCM wave file.
struct PcmFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
};

// The rate flag of an exact sample rate, 0 when the rate is not one of the nine.
uint32_t RateFlag(int64_t hz);
// The rate of a format word's rate flag, 0 when it has none.
int32_t RateOfFlags(uint32_t flags);
// Bytes per sample frame of a format word: 1, 2 or 4 (0 when incomplete).
uint16_t BlockAlignOfFlags(uint32_t flags);
// "%ld Hz, PCM 16 bit MONO".
std::string FormatText(int32_t rate, uint32_t flags);

// Checks a file and, on success, describes it in *original.  On failure the
// message is shown, *original is emptied, and the result is false.
bool OpenOriginal(Frontend &ui, const std::string &path, OriginalFile &original);

// Sets a slot's processing format for the original, with its messages.
void MatchCodec(Frontend &ui, CodecSlot &slot, const OriginalFile &original);

// A RIFF file open for reading or writing the samples of its current chunk.
struct OpenWave {
    std::unique_ptr<platform::RiffFile> file;
    platform::RiffChunk riff;
    platform::RiffChunk sub; // the `data` chunk
    uint32_t remaining = 0;  // bytes of `data` not yet read

    // Reads up to `bytes` from the `data` chunk, never past it; -1 on error.
    int64_t ReadData(void *buffer, std::size_t bytes);
    // Appends to the `data` chunk; the count written (short on error).
    std::size_t WriteData(const void *buffer, std::size_t bytes);
};

// Opens a RIFF WAVE file positioned at its `data` chunk, which must not be empty.
std::optional<OpenWave> OpenWaveForReading(Frontend &ui, const std::string &path);
// Creates a PCM wave file and leaves its `data` chunk open.
std::optional<OpenWave> CreateWaveForWriting(Frontend &ui, const std::string &path, const PcmFormat &format);
// Ascends out of the chunk and the RIFF chunk (fixing written sizes) and closes.
bool CloseWave(Frontend &ui, OpenWave &wave);

// True when both paths name one existing regular file: the same device and
// inode, however the paths are spelt (links, "./", "dir/../").
bool SameFile(const std::string &a, const std::string &b);

// Copies a file whole, into a new file that replaces the destination once it
// is complete (a failed copy leaves the destination as it was).  A
// destination that is the source itself is already what the copy would
// make: it is left alone and the copy succeeds.
bool CopyFile(Frontend &ui, const std::string &source, const std::string &destination);

} // namespace vntr::evaluator
