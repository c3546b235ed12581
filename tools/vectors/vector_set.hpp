// Reference vectors: every codec library's coded streams and decoded PCM for
// a fixed set of inputs, reduced to checksums (and, for decoders whose float
// arithmetic may round differently under another compiler, a short excerpt of
// the PCM to measure a difference against).
//
// Which libraries and modes are covered is data: tests/vectors/libraries.json.
// What they produced when the vectors were last made: tests/vectors/expected.json.
// Everything here runs a library only through its exported C interface, bound
// by its ordinal table, as any caller does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vntr::vectors {

// --- The table ---

// One mode of a library.
struct Mode {
    std::string label;                       // names the mode in vectors and messages
    uint32_t format = 0;                     // format word given at open: rate and sample width
    uint32_t options = 0;                    // open options
    std::vector<uint32_t> encodeFlags = {0}; // per-call flags, used in turn frame by frame
    std::optional<bool> flush;               // end-of-stream call; by default from the codec id
};

// How far decoded PCM may drift from the stored excerpt under a compiler
// other than the one that made the vectors.
struct Tolerance {
    int maxDifference = 2;  // largest |difference| of one sample
    double minSnrDb = 60.0; // stored excerpt against the difference
};

struct Library {
    std::string name; // short name and file stem of the library
    std::vector<Mode> modes;
    bool floatArithmetic = true; // its output may drift by rounding under another compiler
    Tolerance tolerance;
    // A wrapper around a system library (the peers): what it codes is that
    // library's, so its vectors hold for the version its description names.
    bool systemLibrary = false;
};

// Reads the table; throws std::runtime_error saying what is wrong.
std::vector<Library> LoadLibraries(const std::string &path);

// --- Inputs ---

struct Input {
    std::string name;
    std::string recording; // installed 8000 Hz raw file a real input is cut from; empty if synthetic
    bool damaged = false;  // the sweep's coded stream with bits flipped
};

// The inputs every mode is run over, in order.
const std::vector<Input> &Inputs();

// 16-bit samples of an input at `rate` Hz; empty when its recording is not
// installed.  Integer arithmetic throughout, so that every machine makes the
// same input.
std::vector<int16_t> MakeInput(const Input &input, int rate);

int SampleRate(uint32_t format);
bool EightBit(uint32_t format);

// --- Results ---

struct Excerpt {
    std::size_t at = 0;           // first sample
    std::vector<int16_t> samples; // 8-bit samples are kept less 128
};

struct Side {
    std::size_t count = 0; // bytes of a stream, samples of PCM
    std::string checksum;  // FNV-1a 64 of the bytes, hex
    int endStatus = 0;     // decoding: the status that ended it, 0 when all input was taken
    std::optional<Excerpt> excerpt;
};

struct Vector {
    Side coded;   // the encoder's stream (for the damaged input: the damaged stream)
    Side decoded; // the decoder's PCM from that stream
};

// The description a library gives of itself (GetCodecInfo).  Throws
// std::runtime_error when the call fails.
std::string Description(const std::string &path);

// "<library>/<mode>/<input>".
std::string Key(const Library &library, const Mode &mode, const Input &input);

// Runs `library` (loaded from `path`) in one mode over one input's samples:
// encodes, damages the stream for the damaged input, decodes.  Float
// libraries get an excerpt of their PCM.  The decoded samples are handed
// back in `pcm` when it is given (8-bit ones less 128).  Throws
// std::runtime_error naming the call that failed.
Vector Run(const std::string &path, const Library &library, const Mode &mode, const Input &input,
           const std::vector<int16_t> &samples, std::vector<int16_t> *pcm = nullptr);

// --- Stored vectors ---

struct VectorFile {
    std::string toolchain; // compiler, version and target that made them
    // The description of each system-library wrapper when its vectors were
    // made (it names the system library's version).
    std::map<std::string, std::string> descriptions;
    std::map<std::string, Vector> vectors;
};

VectorFile LoadVectors(const std::string &path);
void SaveVectors(const VectorFile &file, const std::string &path);

// The compiler, version and target of this build, as VectorFile records it.
std::string Toolchain();

// --- Comparison ---

std::string Fnv1a64(const void *data, std::size_t bytes);

struct Drift {
    int maxDifference = 0;
    double snrDb = 0.0; // infinite when equal
};
// Decoded samples against a stored excerpt at its position; nullopt when the
// decoded signal does not reach the end of the excerpt.
std::optional<Drift> Measure(const std::vector<int16_t> &decoded, const Excerpt &excerpt);

// The verdict on one vector.  With `exact` (the toolchain that made the
// vectors, or a library whose arithmetic is exact) any difference is a
// fault.  Otherwise a float library's PCM may drift within its tolerance of
// the stored excerpt, and a coded stream that differs leaves nothing to judge.
enum class Outcome { Same, WithinTolerance, NotJudged, Differs };
struct Judgement {
    Outcome outcome = Outcome::Same;
    std::string message; // names library, mode, input and side; empty when Same
};
Judgement Judge(const Library &library, const Mode &mode, const Input &input, bool exact, const Vector &got,
                const std::vector<int16_t> &pcm, const Vector &stored);

} // namespace vntr::vectors
