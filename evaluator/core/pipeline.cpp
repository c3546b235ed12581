// The process command: every selected codec encodes the original into a
// coded file and decodes that into a wave file, timed call by call.
#include "pipeline.hpp"
#include "downsample.hpp"
#include "evaluator.hpp"
#include "printf.hpp"
#include "quality.hpp"
#include "visqol.hpp"
#include "wave_samples.hpp"

#include <vntr/platform/clock.hpp>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace vntr::evaluator {
namespace {

using platform::FourCC;
using platform::RiffChunk;
using platform::RiffResult;

// The entry points of one pass, bound by ordinal.
struct EncoderCalls {
    CodecOpenFn open = nullptr;
    CodecEncodeFn encode = nullptr;
    CodecCloseFn close = nullptr;
    CodecErrorStringFn errorString = nullptr;
};
struct DecoderCalls {
    CodecOpenFn open = nullptr;
    CodecDecodeFn decode = nullptr;
    CodecCloseFn close = nullptr;
    CodecErrorStringFn errorString = nullptr;
};

std::string StatusText(CodecErrorStringFn errorString, CodecStatus status) {
    const char *text = errorString(status);
    return text != nullptr ? text : "";
}

// Allocates a pass's buffer; false when memory is short.
bool Allocate(std::vector<unsigned char> &buffer, std::size_t bytes) {
    try {
        buffer.assign(bytes, 0);
        return true;
    } catch (const std::bad_alloc &) {
        buffer.clear();
        return false;
    }
}

// `path` as a scoring tool expects a file: 16-bit mono PCM in a name ending
// in ".wav".  The file itself when it is one, a link to it at `copy` when
// only its name differs, else a converted copy at `copy`; empty when it
// cannot be read or written.
std::string ScorableWave(Frontend &ui, const std::string &path, const std::string &copy) {
    WaveSampleReader reader;
    if (!reader.Open(path)) return "";
    const bool plain = reader.BitsPerSample() == 16 && reader.Channels() == 1;
    if (plain && path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0) return path;
    unlink(copy.c_str());
    if (plain && link(path.c_str(), copy.c_str()) == 0) return copy;
    PcmFormat format;
    format.channels = 1;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.samplesPerSec = static_cast<uint32_t>(reader.SampleRate());
    format.avgBytesPerSec = format.samplesPerSec * 2;
    auto wave = CreateWaveForWriting(ui, copy, format);
    if (!wave) return "";
    std::vector<float> block(4096);
    std::vector<unsigned char> bytes;
    bool ok = true;
    while (const std::size_t n = reader.ReadMono(block)) {
        bytes.clear();
        for (std::size_t i = 0; i < n; ++i) {
            const long s = std::clamp<long>(std::lround(block[i]), -32768, 32767);
            bytes.push_back(static_cast<unsigned char>(s & 0xFF));
            bytes.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
        }
        ok = ok && wave->WriteData(bytes.data(), bytes.size()) == bytes.size();
    }
    ok = CloseWave(ui, *wave) && ok;
    return ok ? copy : "";
}

} // namespace

void Evaluator::Error(const std::string &text) {
    ui_.ShowMessage(kErrorTitle, MessageIcon::Error, text);
}

void Evaluator::CodecError(const CodecSlot &slot, const std::string &text) {
    Error(slot.ShortName() + text);
}

ProgressLines Evaluator::Progress() const {
    ProgressLines lines;
    lines.status = statusText_;
    if (currentSlot_ >= 0) {
        lines.coding = CodingProgressLine(slots_[static_cast<std::size_t>(currentSlot_)]);
        lines.decoding = DecodingProgressLine(slots_[static_cast<std::size_t>(currentSlot_)]);
    }
    return lines;
}

void Evaluator::ShowProgressNow() {
    lastProgressMs_ = platform::MonotonicMs();
    ui_.ShowProgress(Progress());
}

// After every frame: let the front end dispatch its events, redraw the
// progress lines every 200 ms, and note a stop request.
void Evaluator::Pump() {
    ui_.PumpEvents();
    if (ui_.CancelRequested()) cancel_ = true;
    if (platform::MonotonicMs() - lastProgressMs_ >= 200) ShowProgressNow();
}

bool Evaluator::ConfirmCancel() {
    if (ui_.AskQuestion(kQuestionTitle, "Are you sure you want to cancel the processing?", QuestionButtons::YesNo) ==
        Answer::Yes) {
        cancel_ = true;
    }
    return cancel_;
}

bool Evaluator::EncodePass(const std::string &inputPath, const std::string &codedPath, CodecSlot &slot) {
    // The input.
    auto input = OpenWaveForReading(ui_, inputPath);
    if (!input) {
        CodecError(slot, " : Cannot open original file !");
        return false;
    }
    slot.inputBytes = input->sub.size;
    auto closeInput = [&] {
        if (input->file && !CloseWave(ui_, *input)) CodecError(slot, " : Cannot close original file !");
    };

    // The library's encoder entry points.
    EncoderCalls calls;
    if (slot.library) {
        calls.open = slot.library->Bind<CodecOpenFn>(CODEC_ORD_OPEN_ENCODER);
        calls.encode = slot.library->Bind<CodecEncodeFn>(CODEC_ORD_ENCODE);
        calls.close = slot.library->Bind<CodecCloseFn>(CODEC_ORD_CLOSE_ENCODER);
        calls.errorString = slot.library->Bind<CodecErrorStringFn>(CODEC_ORD_GET_ERROR_STRING);
    }
    if (!calls.open || !calls.encode || !calls.close || !calls.errorString) {
        CodecError(slot, " : Unable to locate DLL's functions !");
        closeInput();
        return false;
    }

    // The encoder.
    if (const CodecStatus s = calls.open(slot.formatFlags, slot.encoderOptions, &slot.format); s != CODEC_OK) {
        CodecError(slot, " : Cannot initialize encoding engine. " + StatusText(calls.errorString, s));
        closeInput();
        return false;
    }
    const CodecHandle handle = slot.format.handle;
    slot.latencySamples =
        slot.blockAlign != 0 ? static_cast<int32_t>(slot.format.delaySamples + slot.format.frameBytes / slot.blockAlign)
                             : -1;
    // After a failure in the middle of the pass the engine is closed too, so
    // that no state block is left behind.
    auto closeEngineQuietly = [&] { calls.close(handle); };

    // The coded file: RIFF WAVE with `fmt `, `fact` and an open `data` chunk.
    OpenWave coded;
    coded.file = platform::RiffFile::Open(codedPath, platform::RiffFile::Mode::Create);
    bool created = coded.file != nullptr;
    if (created) {
        coded.riff.formType = FourCC("WAVE");
        RiffChunk fmt;
        fmt.id = FourCC("fmt ");
        RiffChunk fact;
        fact.id = FourCC("fact");
        const auto fmtBytes = CodedFormatChunk(slot);
        const uint32_t frames = slot.blockAlign != 0 ? slot.inputBytes / slot.blockAlign : 0;
        const unsigned char factBytes[4] = {static_cast<unsigned char>(frames), static_cast<unsigned char>(frames >> 8),
                                            static_cast<unsigned char>(frames >> 16),
                                            static_cast<unsigned char>(frames >> 24)};
        created = coded.file->CreateChunk(coded.riff, true) == RiffResult::Ok &&
                  coded.file->CreateChunk(fmt) == RiffResult::Ok &&
                  coded.file->Write(fmtBytes.data(), fmtBytes.size()) == static_cast<int64_t>(fmtBytes.size());
        if (created && coded.file->Ascend(fmt) != RiffResult::Ok) Error("Cannot ascend coded file.");
        created = created && coded.file->CreateChunk(fact) == RiffResult::Ok && coded.file->Write(factBytes, 4) == 4;
        if (created && coded.file->Ascend(fact) != RiffResult::Ok) Error("Cannot ascend coded file.");
        coded.sub.id = FourCC("data");
        created = created && coded.file->CreateChunk(coded.sub) == RiffResult::Ok;
        if (!created) {
            if (coded.file->Close()) {
                Error("Cannot create coded file.");
            } else {
                Error("Cannot close file, possible loss of information !");
            }
            coded.file.reset();
        }
    } else {
        Error("Cannot create coded file.");
    }
    if (!created) {
        CodecError(slot, " : Cannot create encoded file !");
        closeInput();
        closeEngineQuietly();
        return false;
    }
    auto closeCoded = [&] {
        if (coded.file && !CloseWave(ui_, coded)) {
            CodecError(slot, " : Cannot close encoded file, possible loss of information !");
        }
    };
    auto failMidway = [&] {
        closeInput();
        closeCoded();
        closeEngineQuietly();
        return false;
    };

    // Buffers sized from the format.
    const uint16_t frameBytes = slot.format.frameBytes;
    const uint16_t maxCoded = slot.format.maxCodedBytes;
    std::vector<unsigned char> pcm;
    std::vector<unsigned char> out;
    if (!Allocate(pcm, frameBytes) || !Allocate(out, maxCoded)) {
        CodecError(slot, " : Memory allocation error : insufficient memory.");
        return failMidway();
    }
    if (frameBytes == 0) {
        // An engine that takes no input per frame would never reach the end.
        CodecError(slot, " : Error running encoder. " + StatusText(calls.errorString, CODEC_ERR_GENERAL));
        return failMidway();
    }

    // The frames: each whole frame of the input is one call, timed on the
    // thread's clock, and its bytes go straight to the coded file.
    slot.codedBytes = 0;
    slot.encodedInputBytes = 0;
    slot.codingTime = 0;
    slot.codingMicros = 0;
    auto encodeOnce = [&](uint16_t inCount) -> bool {
        uint16_t inBytes = inCount;
        uint16_t outBytes = maxCoded;
        const uint32_t start = platform::ThreadTimeStamp();
        slot.codingTime -= start;
        const CodecStatus s = calls.encode(handle, 0, pcm.data(), &inBytes, out.data(), &outBytes);
        const uint32_t stop = platform::ThreadTimeStamp();
        slot.codingTime += stop;
        slot.codingMicros += static_cast<uint32_t>(stop - start);
        if (s == CODEC_OK && outBytes > maxCoded) {
            // More than the buffer holds: the engine wrote past it or lies.
            CodecError(slot, " : Error running encoder. " + StatusText(calls.errorString, CODEC_ERR_GENERAL));
            return false;
        }
        if (s != CODEC_OK) {
            CodecError(slot, " : Error running encoder. " + StatusText(calls.errorString, s));
            return false;
        }
        if (inCount != CODEC_END_OF_STREAM) slot.encodedInputBytes += inBytes;
        if (coded.WriteData(out.data(), outBytes) != outBytes) {
            CodecError(slot, " : Cannot write into encoded file.");
            return false;
        }
        slot.codedBytes += outBytes;
        return true;
    };
    while (input->ReadData(pcm.data(), frameBytes) == frameBytes) {
        if (!encodeOnce(frameBytes)) return failMidway();
        Pump();
    }

    // The flush call of the encoders that hold samples back.
    if (CodecNeedsFlush(slot.format.codecId) != 0) {
        std::memset(pcm.data(), 0, pcm.size());
        if (!encodeOnce(CODEC_END_OF_STREAM)) return failMidway();
    }

    // Both files closed, the rate and load computed from what was coded, then
    // the engine closed.
    closeInput();
    closeCoded();
    ComputeCodingStats(slot);
    if (const CodecStatus s = calls.close(handle); s != CODEC_OK) {
        CodecError(slot, " : Cannot close encoding engine. " + StatusText(calls.errorString, s));
    }
    return true;
}

bool Evaluator::DecodePass(const std::string &codedPath, const std::string &decodedPath, CodecSlot &slot) {
    // The decoded file's format: the PCM the codec's format word names.
    PcmFormat pcmFormat;
    const uint32_t f = slot.formatFlags;
    pcmFormat.channels = (f & CODEC_FMT_MONO) != 0 ? 1 : (f & CODEC_FMT_STEREO) != 0 ? 2 : 0;
    pcmFormat.bitsPerSample = (f & CODEC_FMT_8BIT) != 0 ? 8 : (f & CODEC_FMT_16BIT) != 0 ? 16 : 0;
    pcmFormat.samplesPerSec = static_cast<uint32_t>(slot.sampleRate);
    pcmFormat.avgBytesPerSec = static_cast<uint32_t>(slot.blockAlign) * static_cast<uint32_t>(slot.sampleRate);
    pcmFormat.blockAlign = slot.blockAlign;

    // The coded input and the decoded output.
    auto coded = OpenWaveForReading(ui_, codedPath);
    if (!coded) {
        CodecError(slot, " : Cannot open encoded file !");
        return false;
    }
    slot.codedBytes = coded->sub.size;
    auto closeCoded = [&] {
        if (coded->file && !CloseWave(ui_, *coded)) {
            CodecError(slot, " : Cannot close encoded file, possible loss of information !");
        }
    };
    auto decoded = CreateWaveForWriting(ui_, decodedPath, pcmFormat);
    if (!decoded) {
        CodecError(slot, " : Cannot create decoded file !");
        closeCoded();
        return false;
    }
    auto closeBoth = [&] {
        closeCoded();
        if (decoded->file && !CloseWave(ui_, *decoded)) {
            CodecError(slot, " : Cannot close decoded file, possible loss of information !");
        }
    };

    // The library's decoder entry points.
    DecoderCalls calls;
    if (slot.library) {
        calls.open = slot.library->Bind<CodecOpenFn>(CODEC_ORD_OPEN_DECODER);
        calls.decode = slot.library->Bind<CodecDecodeFn>(CODEC_ORD_DECODE);
        calls.close = slot.library->Bind<CodecCloseFn>(CODEC_ORD_CLOSE_DECODER);
        calls.errorString = slot.library->Bind<CodecErrorStringFn>(CODEC_ORD_GET_ERROR_STRING);
    }
    if (!calls.open || !calls.decode || !calls.close || !calls.errorString) {
        CodecError(slot, " : Unable to locate DLL's functions !");
        closeBoth();
        return false;
    }

    // The decoder.
    if (const CodecStatus s = calls.open(slot.formatFlags, slot.decoderOptions, &slot.format); s != CODEC_OK) {
        CodecError(slot, " : Cannot initialize decoding engine. " + StatusText(calls.errorString, s));
        closeBoth();
        return false;
    }
    const CodecHandle handle = slot.format.handle;

    // Buffers: a frame of PCM, and the coded bytes each call is offered.
    const uint16_t frameBytes = slot.format.frameBytes;
    const uint16_t capacity = DecoderReadSize(slot.format);
    std::vector<unsigned char> pcm;
    std::vector<unsigned char> in;
    if (!Allocate(pcm, frameBytes) || !Allocate(in, capacity)) {
        CodecError(slot, " : Memory allocation error : insufficient memory.");
        calls.close(handle);
        closeBoth();
        return false;
    }

    // The frames: unconsumed bytes are carried to the front of the
    // buffer, and the next read tops it up to the full read size again.
    slot.decodingTime = 0;
    slot.decodingMicros = 0;
    slot.decodedCodedBytes = 0;
    std::size_t carried = 0;
    std::size_t readSize = capacity;
    // Calls in a row that consumed no whole byte.  A decoder of frames that
    // are not byte-aligned does that while it works through a byte, but a
    // frame takes at least one bit, so a run longer than the bits it was
    // offered means a decoder that no longer reads its input.
    std::size_t callsWithoutAByte = 0;
    bool ok = true;
    while (true) {
        const int64_t got = coded->ReadData(in.data() + carried, readSize);
        const std::size_t read = got > 0 ? static_cast<std::size_t>(got) : 0;
        if (read == 0 && carried == 0) break;
        const std::size_t given = read + carried;
        uint16_t inBytes = static_cast<uint16_t>(given);
        uint16_t outBytes = frameBytes;
        const uint32_t start = platform::ThreadTimeStamp();
        slot.decodingTime -= start;
        CodecStatus s = calls.decode(handle, 0, in.data(), &inBytes, pcm.data(), &outBytes);
        const uint32_t stop = platform::ThreadTimeStamp();
        slot.decodingTime += stop;
        slot.decodingMicros += static_cast<uint32_t>(stop - start);
        if (s == CODEC_ERR_NEED_DATA) break;
        // A decoder that claims more than it was given or than the buffer
        // holds is treated as failing, not trusted.
        if (s == CODEC_OK && (inBytes > given || outBytes > frameBytes)) s = CODEC_ERR_GENERAL;
        if (s != CODEC_OK) {
            CodecError(slot, " : Error running decoder. " + StatusText(calls.errorString, s));
            ok = false;
            break;
        }
        slot.decodedCodedBytes += inBytes;
        if (decoded->WriteData(pcm.data(), outBytes) != outBytes) {
            CodecError(slot, " : Can't write into decoded file.");
            ok = false;
            break;
        }
        // Nothing consumed and nothing produced: no further call can progress.
        if (inBytes == 0 && outBytes == 0) break;
        if (inBytes == 0 && ++callsWithoutAByte > 8 * given) {
            CodecError(slot, " : Error running decoder. " + StatusText(calls.errorString, CODEC_ERR_GENERAL));
            ok = false;
            break;
        }
        if (inBytes != 0) callsWithoutAByte = 0;
        if (inBytes < given) {
            carried = given - inBytes;
            std::memmove(in.data(), in.data() + inBytes, carried);
            readSize = inBytes;
        } else {
            carried = 0;
            readSize = capacity;
        }
        Pump();
    }

    // The decoding load, then the engine and both files closed; an engine
    // that fails to close is reported only when no earlier error was.
    ComputeDecodingStats(slot);
    if (const CodecStatus s = calls.close(handle); s != CODEC_OK && ok) {
        CodecError(slot, " : Cannot close decoding engine. " + StatusText(calls.errorString, s));
    }
    closeBoth();
    return ok;
}

void Evaluator::ProcessCodec(std::size_t index) {
    CodecSlot &slot = slots_[index];
    if (slot.selected == 0 || slot.formatFlags == 0) return;
    const std::string name = slot.Name();
    const std::string codedPath = temp_.Coded(name);
    const std::string decodedPath = temp_.Decoded(name);
    std::string inputPath = original_.path;
    if (slot.downsampled != 0) {
        if (!downsampleMade_) {
            downsampleMade_ = true;
            DownsampleOriginal(ui_, original_.path, temp_.Downsampled());
        }
        inputPath = temp_.Downsampled();
    }
    statusText_ = Printf("Processing algorithm %s:", name.c_str());
    currentSlot_ = static_cast<int>(index);
    slot.encodedInputBytes = 0;
    slot.decodedCodedBytes = 0;
    slot.failed = false;
    slot.quality = Quality{};
    ui_.ResultsChanged();
    ShowProgressNow();

    if (slot.interfaceKind == InterfaceKind::Standard) {
        bool ok = EncodePass(inputPath, codedPath, slot);
        if (ok && config_.skipShortOriginals && slot.encodedInputBytes == 0 &&
            slot.inputBytes < slot.format.frameBytes) {
            slot.notRunReason = "shorter than one frame";
        } else if (ok && !cancel_) {
            ok = DecodePass(codedPath, decodedPath, slot);
            if (ok && config_.measureQuality) {
                CompareOptions options;
                if (const auto delay = AlignmentFor(slot)) {
                    options.delay = *delay;
                    slot.alignedOnce = true;
                }
                slot.quality = MeasureQuality(inputPath, decodedPath, options, compare_);
                // ViSQOL scores the same aligned pair: at the codec's one
                // alignment when there is one, by its own otherwise.
                if (config_.measureVisqol) {
                    const VisqolScore score = MeasureVisqol(inputPath, decodedPath, options.delay);
                    slot.quality.visqolValid = score.valid;
                    slot.quality.visqolMos = score.mos;
                    slot.quality.visqolNsim = score.nsim;
                    slot.quality.visqolNote = score.message;
                    slot.quality.visqolPatches = score.patches;
                }
                if (config_.scorer) ScoreExternally(inputPath, decodedPath, slot);
            }
        }
        slot.failed = !ok;
    } else if (slot.formatFlags == CODEC_FMT_PCM16_MONO_8KHZ) {
        // No library of the suite uses the whole-file interface and its calls
        // have no fixed argument lists, so such a library cannot be run.
        CodecError(slot, " : Unable to locate DLL's functions !");
        slot.failed = true;
    }
    ShowProgressNow();
    currentSlot_ = -1;
}

void Evaluator::ScoreExternally(const std::string &inputPath, const std::string &decodedPath, CodecSlot &slot) {
    // The tool gets the pair as the codec saw it: its own input and its
    // output, unaligned (such tools align for themselves).
    const std::string referenceCopy = temp_.dir + "~t_sref.wav";
    const std::string decodedCopy = temp_.dir + "~t_sdeg.wav";
    const std::string reference = ScorableWave(ui_, inputPath, referenceCopy);
    const std::string decoded = ScorableWave(ui_, decodedPath, decodedCopy);
    ExternalScore score;
    if (reference.empty() || decoded.empty()) {
        score.note = "cannot write the files to score";
    } else {
        score = config_.scorer->Score(reference, decoded);
    }
    unlink(referenceCopy.c_str());
    unlink(decodedCopy.c_str());
    slot.quality.scorerName = config_.scorer->Name();
    slot.quality.scorerValid = score.valid;
    slot.quality.scorerValue = score.value;
    slot.quality.scorerNote = score.note;
}

std::string Evaluator::AlignmentKey(const CodecSlot &slot) {
    return Printf("%s|%08x|%08x", slot.Name().c_str(), slot.encoderOptions, slot.formatFlags);
}

std::optional<int> Evaluator::AlignmentFor(CodecSlot &slot) {
    if (!config_.alignments || slot.sampleRate <= 0 || slot.blockAlign == 0) return std::nullopt;
    const std::string key = AlignmentKey(slot);
    if (const auto known = config_.alignments->Find(key)) return known;

    // The calibration signal in the codec's processing format.
    const bool stereo = (slot.formatFlags & CODEC_FMT_STEREO) != 0;
    const bool eightBit = (slot.formatFlags & CODEC_FMT_8BIT) != 0;
    const std::vector<float> signal = CalibrationSignal(slot.sampleRate);
    const std::string calibration = temp_.dir + "~t_cal.wav";
    const std::string coded = temp_.Coded("~t_cal");
    const std::string decoded = temp_.Decoded("~t_cal");
    PcmFormat format;
    format.channels = stereo ? 2 : 1;
    format.bitsPerSample = eightBit ? 8 : 16;
    format.blockAlign = slot.blockAlign;
    format.samplesPerSec = static_cast<uint32_t>(slot.sampleRate);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    bool written = false;
    if (auto wave = CreateWaveForWriting(ui_, calibration, format)) {
        std::vector<unsigned char> bytes;
        for (const float v : signal) {
            const long s = std::lround(v);
            for (int c = 0; c < format.channels; ++c) {
                if (eightBit) {
                    bytes.push_back(static_cast<unsigned char>(std::clamp<long>(std::lround(v / 256.0) + 128, 0, 255)));
                } else {
                    bytes.push_back(static_cast<unsigned char>(s & 0xFF));
                    bytes.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
                }
            }
        }
        written = wave->WriteData(bytes.data(), bytes.size()) == bytes.size();
        written = CloseWave(ui_, *wave) && written;
    }

    // The codec codes it once, on a slot that borrows the library, so that
    // the slot keeps the figures of its own run.
    std::optional<int> delay;
    if (written) {
        CodecSlot probe;
        probe.info = slot.info;
        probe.name = slot.name;
        probe.encoderOptions = slot.encoderOptions;
        probe.decoderOptions = slot.decoderOptions;
        probe.formatFlags = slot.formatFlags;
        probe.sampleRate = slot.sampleRate;
        probe.blockAlign = slot.blockAlign;
        probe.interfaceKind = slot.interfaceKind;
        probe.library = std::move(slot.library);
        const bool ran = EncodePass(calibration, coded, probe) && DecodePass(coded, decoded, probe);
        slot.library = std::move(probe.library);
        std::vector<float> reference;
        std::vector<float> output;
        int rate = 0;
        if (ran && ReadWaveSamples(calibration, reference, rate) && ReadWaveSamples(decoded, output, rate)) {
            delay =
                config_.alignments->Store(key, FindAlignment(reference, output, slot.sampleRate, slot.sampleRate / 4));
        }
    }
    unlink(calibration.c_str());
    unlink(coded.c_str());
    unlink(decoded.c_str());
    return delay;
}

void Evaluator::OrderResults() {
    OrderByBitRate(slots_, slotCount_);
    ui_.ResultsChanged();
}

void Evaluator::ProcessSelectedCodecs() {
    bool any = false;
    for (std::size_t i = 0; i < slotCount_; ++i) any = any || slots_[i].selected != 0;
    if (!any) {
        Error("No codec selected. Before processing, select which codecs to use in Options|Select Codecs.");
        return;
    }
    cancel_ = false;
    state_ = DisplayState::Processing;
    ui_.ResultsChanged();
    for (std::size_t i = 0; i < slotCount_ && !cancel_; ++i) ProcessCodec(i);
    statusText_.clear();
    if (cancel_) {
        state_ = DisplayState::Idle;
        // The temporary original is the current original: it stays.
        temp_.DeleteAll(/*keepOriginal=*/true);
        downsampleMade_ = false;
        for (std::size_t i = 0; i < slotCount_; ++i) slots_[i].ClearPerFileResults();
        // The processing formats went with the results; match again so that
        // the next run has them.
        if (original_.Exists()) {
            for (std::size_t i = 0; i < slotCount_; ++i) {
                if (slots_[i].selected != 0) MatchCodecQuietly(slots_[i]);
            }
        }
    } else {
        state_ = DisplayState::Results;
        unsavedSession_ = true;
    }
    OrderResults();
}

} // namespace vntr::evaluator
