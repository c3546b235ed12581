// The processing pipeline against the fake codec library: coded file layout,
// the decoder's carry-over and read size, status 11, the flush rule, every
// failure message, cancel, statistics and ordering.
#include "eval_support.hpp"

#include "core/pipeline.hpp"

#include <vntr/platform/clock.hpp>

#include <numeric>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

uint32_t Le32(const std::vector<uint8_t> &b, std::size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}
uint16_t Le16(const std::vector<uint8_t> &b, std::size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

class PipelineTest : public ::testing::Test {
protected:
    PipelineTest() : a("FAKEA"), b("FAKEB") {}

    // Registers the fakes, starts an evaluator, opens an original of `samples`
    // 16-bit samples at `rate`, and selects `which` (all when empty).
    void Start(std::vector<std::string> which = {}, std::size_t samples = 1650, uint32_t rate = 8000) {
        ASSERT_EQ(a.Register(), 0);
        ASSERT_EQ(b.Register(), 0);
        ev = std::make_unique<Evaluator>(ui, world.Config());
        ASSERT_TRUE(ev->Startup());
        ASSERT_EQ(ev->SlotCount(), 2);
        if (!which.empty()) {
            std::vector<bool> on(ev->SlotCount());
            for (std::size_t i = 0; i < ev->SlotCount(); ++i) {
                on[i] = std::find(which.begin(), which.end(), ev->Slots()[i].Name()) != which.end();
            }
            ev->ApplySelection(on);
        }
        WriteBytes(world.File("orig.wav"), SpeechLikeWave(rate, samples));
        ASSERT_TRUE(ev->OpenOriginalFile(world.File("orig.wav")));
    }
    CodecSlot &Slot(const std::string &name) {
        for (auto &slot : ev->Slots()) {
            if (slot.Name() == name) return slot;
        }
        throw std::runtime_error("no slot " + name);
    }

    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
    RecordingFrontend ui;
    std::unique_ptr<Evaluator> ev;
};

TEST_F(PipelineTest, CodedFileHasItsFormatFactAndDataChunks) {
    a.control->codecId = 2041;
    a.control->bitRate = 4800;
    Start({"FAKEA"});
    ev->ProcessSelectedCodecs();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    const CodecSlot &slot = Slot("FAKEA");
    const auto coded = ReadBytes(world.TempFolder() + "FAKEA.~c0");
    ASSERT_GE(coded.size(), 12u + 8 + 26 + 8 + 4 + 8);
    EXPECT_EQ(std::string(coded.begin(), coded.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(coded, 4), coded.size() - 8);
    EXPECT_EQ(std::string(coded.begin() + 8, coded.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(coded, 16), 26u);
    EXPECT_EQ(Le16(coded, 20), 0x1100);   // format tag
    EXPECT_EQ(Le16(coded, 22), 1);        // mono
    EXPECT_EQ(Le32(coded, 24), 8000u);    // rate
    EXPECT_EQ(Le32(coded, 28), 600u);     // 4800 / 8
    EXPECT_EQ(Le16(coded, 32), 12);       // maxCodedBytes
    EXPECT_EQ(Le16(coded, 34), 16);       // bits of the PCM
    EXPECT_EQ(Le16(coded, 36), 8);        // extra size
    EXPECT_EQ(Le16(coded, 38), 2041);     // codecId
    EXPECT_EQ(Le16(coded, 40), 320);      // frameBytes
    EXPECT_EQ(Le32(coded, 42), 0x50001u); // version
    EXPECT_EQ(std::string(coded.begin() + 46, coded.begin() + 50), "fact");
    EXPECT_EQ(Le32(coded, 50), 4u);
    EXPECT_EQ(Le32(coded, 54), 1650u); // sample frames of the input
    EXPECT_EQ(std::string(coded.begin() + 58, coded.begin() + 62), "data");
    EXPECT_EQ(Le32(coded, 62), slot.codedBytes);
    // The frames back to back: sizes 2, 3, 4, ... each starting with its size.
    std::size_t at = 66;
    for (int frame = 0; frame < 10; ++frame) {
        EXPECT_EQ(coded[at], 2 + frame) << frame;
        EXPECT_EQ(coded[at + 1], frame);
        at += 2 + frame;
    }
    EXPECT_EQ(at - 66, slot.codedBytes);
}

TEST_F(PipelineTest, CallsAreTimedByTheThreadsProcessorTime) {
    // A codec that waits 3 ms in every frame does almost no work: the time
    // its calls count is the processor's, not the clock on the wall.
    a.control->frameDelayUs = 3000;
    Start({"FAKEA"}, 160 * 10);
    const uint32_t wallBefore = vntr::platform::TimeStamp();
    ev->ProcessSelectedCodecs();
    const uint32_t wall = vntr::platform::TimeStamp() - wallBefore;
    const CodecSlot &slot = Slot("FAKEA");
    ASSERT_EQ(a.control->encodeCalls, 10);
    ASSERT_GE(wall, 30000u);
    EXPECT_LT(slot.codingMicros, 10000u);
}

TEST_F(PipelineTest, TrailingPartialFrameIsDroppedAndProgressSaysDone) {
    Start({"FAKEA"}, 1640); // 10 frames of 160 samples and 40 samples more
    ev->ProcessSelectedCodecs();
    const CodecSlot &slot = Slot("FAKEA");
    EXPECT_EQ(a.control->encodeCalls, 10);
    EXPECT_EQ(slot.inputBytes, 3280u);
    EXPECT_EQ(slot.encodedInputBytes, 3200u);
    EXPECT_EQ(CodingProgressLine(slot), "Processing coding : 3200 bytes (done)");
    EXPECT_EQ(DecodingProgressLine(slot), "Processing decoding : 65 bytes (done)");
    ASSERT_FALSE(ui.progress.empty());
    EXPECT_EQ(ui.progress.front().status, "Processing algorithm FAKEA:");
    EXPECT_EQ(ui.progress.front().coding, "Processing coding : 0 bytes (0 %)");
    EXPECT_EQ(ui.progress.front().decoding, "Processing decoding : 0 bytes (0 %)");
}

TEST_F(PipelineTest, VariableRateDecoderSeesAFullBufferOnEveryCall) {
    a.control->minFrame = 2;
    a.control->maxFrame = 12;
    a.control->minCodedBytes = 2.0f;
    Start({"FAKEA"}, 160 * 40);
    ev->ProcessSelectedCodecs();
    const CodecSlot &slot = Slot("FAKEA");
    ASSERT_EQ(a.control->offerCount, 40);
    // Decoder reads maxCodedBytes + 1 for a variable-rate codec, topped up
    // after every partial consumption, until the file runs out.
    uint32_t consumed = 0;
    for (int call = 0; call < a.control->offerCount; ++call) {
        EXPECT_EQ(a.control->offers[call], std::min<uint32_t>(13, slot.codedBytes - consumed)) << call;
        consumed += 2 + call % 11;
    }
    EXPECT_EQ(slot.decodedCodedBytes, slot.codedBytes);
    // Every frame decoded, in order.
    const auto decoded = ReadBytes(world.TempFolder() + "FAKEA.~d0");
    ASSERT_EQ(decoded.size(), 46u + 40 * 320); // 18-byte fmt chunk
    for (int frame = 0; frame < 40; ++frame) {
        EXPECT_EQ(static_cast<int16_t>(Le16(decoded, 46 + 320 * frame + 100)), 16 * frame) << frame;
    }
}

TEST_F(PipelineTest, DecoderThatConsumesNoWholeByteOnMostCallsDecodesTheWholeStream) {
    // Frames shorter than a byte: three calls of four consume nothing and
    // still produce a frame each, as in a silence of a bit-packed stream.
    a.control->decodeCallsWithoutAByte = 3;
    Start({"FAKEA"}, 160 * 40);
    ev->ProcessSelectedCodecs();
    const CodecSlot &slot = Slot("FAKEA");
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_FALSE(slot.failed);
    EXPECT_EQ(a.control->decodeCalls, 4 * 40);
    EXPECT_EQ(slot.decodedCodedBytes, slot.codedBytes);
    // A call that consumed nothing is offered the same bytes again.
    for (int call = 1; call < a.control->offerCount; ++call) {
        if (call % 4 != 0) {
            EXPECT_EQ(a.control->offers[call], a.control->offers[call - 1]) << call;
        }
    }
    // Every frame of every call is in the decoded file, in order.
    const auto decoded = ReadBytes(world.TempFolder() + "FAKEA.~d0");
    ASSERT_EQ(decoded.size(), 46u + 4 * 40 * 320);
    for (int frame = 0; frame < 4 * 40; ++frame) {
        EXPECT_EQ(static_cast<int16_t>(Le16(decoded, 46 + 320 * frame + 100)), 16 * (frame / 4)) << frame;
    }
}

TEST_F(PipelineTest, DecodersThatStopReadingTheirInputEndThePass) {
    // Producing frames for ever from the same bytes: more calls without a
    // whole byte than there are bits offered is a failing decoder.
    a.control->decodeCallsWithoutAByte = 0xFFFF;
    Start({"FAKEA", "FAKEB"}, 160 * 10);
    b.control->decodeIdle = 1; // succeeds, consuming and producing nothing: the pass ends
    ev->ProcessSelectedCodecs();
    const CodecSlot &stuck = Slot("FAKEA");
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"FAKEA : Error running decoder.  Something went wrong."});
    EXPECT_TRUE(stuck.failed);
    EXPECT_EQ(a.control->decodeCalls, 8 * 13 + 1); // 13 bytes offered on every call
    EXPECT_EQ(a.control->decoderCloses, 1);
    const CodecSlot &idle = Slot("FAKEB");
    EXPECT_FALSE(idle.failed);
    EXPECT_EQ(b.control->decodeCalls, 1);
    EXPECT_EQ(idle.decodedCodedBytes, 0u);
    EXPECT_EQ(b.control->decoderCloses, 1);
}

TEST_F(PipelineTest, FixedRateDecoderIsOfferedExactlyMaxCodedBytes) {
    a.control->minFrame = 12;
    a.control->maxFrame = 12;
    a.control->minCodedBytes = 12.0f;
    Start({"FAKEA"}, 160 * 5);
    ev->ProcessSelectedCodecs();
    ASSERT_EQ(a.control->offerCount, 5);
    for (int call = 0; call < 5; ++call) EXPECT_EQ(a.control->offers[call], 12);
}

TEST_F(PipelineTest, FlushCallOnlyForCodecsThatHoldSamplesBack) {
    for (const int16_t id : {2034, 2234, 2038, 2039, 2040, 2041, 2020, 2026, 2220, 2241}) {
        SCOPED_TRACE(id);
        a.control->codecId = id;
        a.control->flushCalls = 0;
        a.control->encodeCalls = 0;
        a.control->flushBytes = 3;
        if (!ev) {
            Start({"FAKEA"}, 160 * 4);
        }
        ev->ProcessSelectedCodecs();
        const bool flushes = id == 2034 || id == 2234 || id == 2038 || id == 2039 || id == 2040;
        EXPECT_EQ(a.control->flushCalls, flushes ? 1 : 0);
        EXPECT_EQ(a.control->encodeCalls, flushes ? 5 : 4);
        // The flushed bytes are written and counted.
        EXPECT_EQ(Slot("FAKEA").codedBytes, 2u + 3 + 4 + 5 + (flushes ? 3 : 0));
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST_F(PipelineTest, NeedDataEndsTheDecodingPassSuccessfully) {
    a.control->codecId = CODEC_ID_VT180;
    a.control->flushBytes = 4; // the decoder answers 11 on these
    Start({"FAKEA"}, 160 * 3);
    ev->ProcessSelectedCodecs();
    const CodecSlot &slot = Slot("FAKEA");
    EXPECT_EQ(a.control->needDataReturns, 1);
    EXPECT_FALSE(slot.failed);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(slot.decodedCodedBytes, 2u + 3 + 4);
    EXPECT_GT(slot.runBitRate, 0.0f);
    EXPECT_EQ(ev->State(), DisplayState::Results);
    EXPECT_EQ(a.control->decoderCloses, 1);
}

struct FailureCase {
    const char *what;
    std::function<void(FakeControl &, CodecOrdinalTable &)> arrange;
    std::vector<std::string> messages;
    bool decoderOpened;
};

TEST_F(PipelineTest, EveryFailureShowsItsMessageAndSkipsOnlyThatCodec) {
    const std::vector<FailureCase> cases = {
        {"encoder open",
         [](FakeControl &c, CodecOrdinalTable &) { c.openEncoderStatus = 9; },
         {"FAKEA : Cannot initialize encoding engine.  Format not supported."},
         false},
        {"encode",
         [](FakeControl &c, CodecOrdinalTable &) { c.encodeFailAt = 2, c.encodeFailStatus = 1; },
         {"FAKEA : Error running encoder.  Something went wrong."},
         false},
        {"encode claims more than the buffer",
         [](FakeControl &c, CodecOrdinalTable &) { c.encodeOverclaim = 1; },
         {"FAKEA : Error running encoder.  Something went wrong."},
         false},
        {"decoder open",
         [](FakeControl &c, CodecOrdinalTable &) { c.openDecoderStatus = 5; },
         {"FAKEA : Cannot initialize decoding engine.  Memory allocation error."},
         false},
        {"decode",
         [](FakeControl &c, CodecOrdinalTable &) { c.decodeFailAt = 1, c.decodeFailStatus = 1; },
         {"FAKEA : Error running decoder.  Something went wrong."},
         true},
        {"no Encode",
         [](FakeControl &, CodecOrdinalTable &t) { t.entry[CODEC_ORD_ENCODE - 1] = nullptr; },
         {"FAKEA : Unable to locate DLL's functions !"},
         false},
        {"no GetErrorString",
         [](FakeControl &, CodecOrdinalTable &t) { t.entry[8] = nullptr; },
         {"FAKEA : Unable to locate DLL's functions !"},
         false},
        {"no Decode",
         [](FakeControl &, CodecOrdinalTable &t) { t.entry[CODEC_ORD_DECODE - 1] = nullptr; },
         {"FAKEA : Unable to locate DLL's functions !"},
         false},
        {"short ordinal table",
         [](FakeControl &, CodecOrdinalTable &t) { t.count = 4; },
         {"FAKEA : Unable to locate DLL's functions !"},
         false},
    };
    Start({}, 160 * 4);
    const CodecOrdinalTable good = *a.table;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const FakeControl fresh = [] {
            FakeControl f{};
            f.formatMask = CODEC_FMT_PCM16_MONO_8KHZ, f.codecId = 2041, f.frameBytes = 320, f.maxCodedBytes = 12;
            f.minCodedBytes = 2, f.bitRate = 4800, f.minFrame = 2, f.maxFrame = 12;
            f.encodeFailAt = -1, f.decodeFailAt = -1;
            return f;
        }();
        *a.control = fresh;
        *a.table = good;
        b.control->encoderOpens = 0;
        c.arrange(*a.control, *a.table);
        ui.messages.clear();
        ev->ProcessSelectedCodecs();
        EXPECT_EQ(ui.Texts(), c.messages);
        for (const auto &m : ui.messages) EXPECT_EQ(m.title, "Vantre QBL Evaluator: Error");
        EXPECT_TRUE(Slot("FAKEA").failed);
        // A failed pass leaves no engine open.
        EXPECT_EQ(a.control->encoderOpens, a.control->encoderCloses);
        EXPECT_EQ(a.control->decoderOpens, a.control->decoderCloses);
        EXPECT_EQ(a.control->decoderOpens > 0, c.decoderOpened);
        // The other codec still runs.
        EXPECT_EQ(b.control->encoderOpens, 1);
        EXPECT_FALSE(Slot("FAKEB").failed);
        EXPECT_GT(Slot("FAKEB").codedBytes, 0u);
    }
}

TEST_F(PipelineTest, FileFailuresShowTheWritersAndThePassesMessages) {
    Start({"FAKEA"}, 160 * 3);
    // A folder where the coded file should go.
    fs::create_directories(world.TempFolder() + "FAKEA.~c0");
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(),
              (std::vector<std::string>{"Cannot create coded file.", "FAKEA : Cannot create encoded file !"}));
    EXPECT_EQ(a.control->encoderOpens, a.control->encoderCloses);
    fs::remove(world.TempFolder() + "FAKEA.~c0");

    // ... and where the decoded file should go.
    fs::create_directories(world.TempFolder() + "FAKEA.~d0");
    ui.messages.clear();
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Cannot create file : " + world.TempFolder() + "FAKEA.~d0",
                                                    "FAKEA : Cannot create decoded file !"}));
    EXPECT_TRUE(Slot("FAKEA").failed);
    fs::remove(world.TempFolder() + "FAKEA.~d0");

    // The original went away after it was opened.
    fs::remove(world.File("orig.wav"));
    ui.messages.clear();
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Cannot open file : " + world.File("orig.wav"),
                                                    "FAKEA : Cannot open original file !"}));
}

TEST_F(PipelineTest, EncoderThatWritesNothingLeavesNothingToDecode) {
    a.control->minFrame = a.control->maxFrame = 0;
    Start({"FAKEA"}, 160 * 3);
    ev->ProcessSelectedCodecs();
    const std::string coded = world.TempFolder() + "FAKEA.~c0";
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{coded + " has no data.", "FAKEA : Cannot open encoded file !"}));
    EXPECT_EQ(Slot("FAKEA").runBitRate, 0.0f);
    EXPECT_FALSE(Slot("FAKEA").HasResults());
}

TEST_F(PipelineTest, CloseErrorsAreShownButThePassesSucceed) {
    a.control->closeStatus = 1;
    Start({"FAKEA"}, 160 * 2);
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"FAKEA : Cannot close encoding engine.  Something went wrong.",
                                                    "FAKEA : Cannot close decoding engine.  Something went wrong."}));
    EXPECT_FALSE(Slot("FAKEA").failed);
    EXPECT_GT(Slot("FAKEA").decodedCodedBytes, 0u);
}

TEST_F(PipelineTest, CancelDuringTheFirstEncodingLeavesNoResultsAndNoFiles) {
    Start({}, 160 * 20);
    ev->ProcessSelectedCodecs(); // a run that completes leaves its files
    ASSERT_FALSE(world.TempFiles().empty());
    a.control->encoderOpens = a.control->decoderOpens = 0;
    b.control->encoderOpens = 0;
    ui.pumps = 0;
    ui.cancelAfterPumps = 3;
    ev->ProcessSelectedCodecs();
    EXPECT_TRUE(ev->Cancelled());
    EXPECT_EQ(ev->State(), DisplayState::Idle);
    EXPECT_EQ(a.control->encoderOpens, 1);
    EXPECT_EQ(a.control->encodeCalls, 40); // the encoding pass itself runs to its end
    EXPECT_EQ(a.control->decoderOpens, 0); // its decoding pass is skipped
    EXPECT_EQ(b.control->encoderOpens, 0); // no further codec starts
    EXPECT_TRUE(world.TempFiles().empty());
    for (std::size_t i = 0; i < ev->SlotCount(); ++i) {
        EXPECT_EQ(ev->Slots()[i].codedBytes, 0u);
        EXPECT_EQ(ev->Slots()[i].runBitRate, 0.0f);
    }
    // The next run works again.
    ui.cancelAfterPumps = -1;
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ev->State(), DisplayState::Results);
    EXPECT_GT(Slot("FAKEB").codedBytes, 0u);
}

TEST_F(PipelineTest, BreakQuestionSetsTheCancelFlagOnlyOnYes) {
    Start({"FAKEA"}, 160);
    ui.answer = Answer::No;
    EXPECT_FALSE(ev->ConfirmCancel());
    ui.answer = Answer::Yes;
    EXPECT_TRUE(ev->ConfirmCancel());
    ASSERT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.questions[0].title, "Vantre QBL Evaluator");
    EXPECT_EQ(ui.questions[0].text, "Are you sure you want to cancel the processing?");
}

TEST_F(PipelineTest, NoSelectedCodecIsReported) {
    Start({}, 160);
    ev->ApplySelection({false, false});
    ui.messages.clear();
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{
                              "No codec selected. Before processing, select which codecs to use in Options|Select "
                              "Codecs."});
    EXPECT_EQ(a.control->encoderOpens, 0);
}

TEST_F(PipelineTest, FailedOpenKeepsTheOriginalItsResultsAndTheState) {
    Start();
    WriteBytes(world.File("junk.wav"), {'n', 'o', 't', ' ', 'w', 'a', 'v', 'e'});
    const auto expectRefused = [&] {
        ui.messages.clear();
        EXPECT_FALSE(ev->OpenOriginalFile(world.File("junk.wav")));
        EXPECT_EQ(ui.Texts(),
                  std::vector<std::string>{"File " + world.File("junk.wav") + " is not a wave file or is corrupted."});
        EXPECT_EQ(ev->Original().path, world.File("orig.wav"));
    };
    // Idle with an original: still idle, still matched, ready to process.
    expectRefused();
    EXPECT_EQ(ev->State(), DisplayState::Idle);
    EXPECT_NE(Slot("FAKEA").formatFlags, 0u);

    // With results: the bars, their details and the temporary files stay.
    ev->ProcessSelectedCodecs();
    ASSERT_EQ(ev->State(), DisplayState::Results);
    const CodecSlot before = [&] {
        CodecSlot copy;
        const CodecSlot &slot = Slot("FAKEB");
        copy.codedBytes = slot.codedBytes;
        copy.runBitRate = slot.runBitRate;
        copy.displaySlot = slot.displaySlot;
        return copy;
    }();
    const auto temp = world.TempFiles();
    expectRefused();
    EXPECT_EQ(ev->State(), DisplayState::Results);
    EXPECT_TRUE(ev->UnsavedSession());
    EXPECT_EQ(Slot("FAKEB").codedBytes, before.codedBytes);
    EXPECT_EQ(Slot("FAKEB").runBitRate, before.runBitRate);
    EXPECT_EQ(Slot("FAKEB").displaySlot, before.displaySlot);
    EXPECT_TRUE(Slot("FAKEB").HasResults());
    EXPECT_EQ(world.TempFiles(), temp);

    // A recorded file that cannot be used ends the recording: idle again,
    // the original that is left matched for the next run.
    ev->BeginRecording();
    expectRefused();
    EXPECT_EQ(ev->State(), DisplayState::Idle);
    EXPECT_NE(Slot("FAKEA").formatFlags, 0u);
    EXPECT_FALSE(Slot("FAKEA").HasResults());
}

TEST_F(PipelineTest, CodecThatCannotTakeTheOriginalIsSkippedSilently) {
    b.control->formatMask = CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ; // 11 kHz only
    Start({}, 1600);
    ASSERT_EQ(ui.Texts(), std::vector<std::string>{"Sampling Frequency of 8 kHz is not supported by FAKEB."});
    ui.messages.clear();
    ev->ProcessSelectedCodecs();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(b.control->encoderOpens, 0);
    EXPECT_EQ(a.control->encoderOpens, 1);
}

TEST_F(PipelineTest, ElevenKilohertzOriginalIsDownsampledOnceForBothCodecs) {
    Start({}, 11025, 11025);
    ev->ProcessSelectedCodecs();
    EXPECT_TRUE(ui.messages.empty());
    for (const char *name : {"FAKEA", "FAKEB"}) {
        const CodecSlot &slot = Slot(name);
        EXPECT_EQ(slot.downsampled, 1);
        EXPECT_EQ(slot.sampleRate, 8000);
        // 50 whole chunks of 220 samples become 50 x 160 samples.
        EXPECT_EQ(slot.inputBytes, 50u * 160 * 2);
        EXPECT_NE(ReducedText(slot).find("[! 8 kHz SF !]"), std::string::npos);
    }
    EXPECT_EQ(a.control->openedFormat, 0x12102u);
    const auto files = world.TempFiles();
    EXPECT_NE(std::find(files.begin(), files.end(), "~t_down.wav"), files.end());
}

TEST_F(PipelineTest, OptionsReachTheEncoderAndTheDecoder) {
    a.control->infoOptionMask = 0x30001;
    Start({"FAKEA"}, 160);
    Slot("FAKEA").encoderOptions = 0x1;
    Slot("FAKEA").decoderOptions = 0x1;
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(a.control->openedOptions, 0x1u);
    EXPECT_EQ(a.control->decoderOptions, 0x1u);
}

TEST_F(PipelineTest, ResultsAreOrderedByBitRateWithTiesInSlotOrder) {
    a.control->minFrame = a.control->maxFrame = 10; // 4000 bps
    b.control->minFrame = b.control->maxFrame = 5;  // 2000 bps
    Start({}, 160 * 10);
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(Slot("FAKEB").displaySlot, 0);
    EXPECT_EQ(Slot("FAKEA").displaySlot, 1);
    EXPECT_EQ(BitRateText(Slot("FAKEB")), "2000 bps");
    EXPECT_EQ(RatioText(Slot("FAKEB")), "64:1");
    b.control->minFrame = b.control->maxFrame = 10;
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(Slot("FAKEA").displaySlot, 0);
    EXPECT_EQ(Slot("FAKEB").displaySlot, 1);
}

TEST(OrderByBitRateTest, InsertionKeepsEqualRatesInSlotOrderAndSkipsUnselected) {
    SlotTable slots;
    const float rates[] = {5000, 1000, 5000, 0, 1000};
    const int selected[] = {1, 1, 1, 1, 0};
    for (int i = 0; i < 5; ++i) {
        slots[i].runBitRate = rates[i];
        slots[i].selected = selected[i];
        slots[i].playing = 1;
    }
    OrderByBitRate(slots, 5);
    EXPECT_EQ(slots[3].displaySlot, 0);
    EXPECT_EQ(slots[1].displaySlot, 1);
    EXPECT_EQ(slots[4].displaySlot, -1);
    EXPECT_EQ(slots[0].displaySlot, 2);
    EXPECT_EQ(slots[2].displaySlot, 3);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(slots[i].playing, 0);
}

TEST(StatisticsTest, RatesLoadsAndTheirTexts) {
    CodecSlot slot;
    slot.sampleRate = 8000;
    slot.blockAlign = 2;
    slot.inputBytes = 64000; // 4 s
    slot.codedBytes = 2400;
    slot.codingTime = 500 * 1000; // ticks: 500 ms
    slot.decodingTime = 250 * 1000;
    slot.downsampled = 1;
    ComputeCodingStats(slot);
    ComputeDecodingStats(slot);
    EXPECT_EQ(slot.codingTime, 500u);
    EXPECT_FLOAT_EQ(slot.runBitRate, 4800.0f);
    EXPECT_FLOAT_EQ(slot.ratio, 64000.0f / 2400.0f);
    EXPECT_FLOAT_EQ(slot.codingLoad, 12.5f);
    EXPECT_FLOAT_EQ(slot.decodingLoad, 6.25f);
    EXPECT_EQ(ReducedText(slot), "Reduced 64000 bytes to 2400 (bit rate = 4800 bps)[! 8 kHz SF !]");
    EXPECT_EQ(CodingText(slot), "Coding in 0.50 seconds (12.5% CPU)");
    EXPECT_EQ(DecodingText(slot), "Decoding in 0.25 seconds (6.2% CPU)");
    EXPECT_EQ(RatioText(slot), "27:1");
}

TEST(StatisticsTest, NoCodedBytesLeavesRateAndRatioAlone) {
    CodecSlot slot;
    slot.sampleRate = 8000;
    slot.blockAlign = 2;
    slot.inputBytes = 16000;
    ComputeCodingStats(slot);
    EXPECT_EQ(slot.runBitRate, 0.0f);
    EXPECT_EQ(slot.ratio, 0.0f);
}

TEST(ProgressLineTest, DoneAboveNinetySixPercent) {
    CodecSlot slot;
    slot.inputBytes = 100;
    slot.encodedInputBytes = 96;
    EXPECT_EQ(CodingProgressLine(slot), "Processing coding : 96 bytes (96 %)");
    slot.encodedInputBytes = 97;
    EXPECT_EQ(CodingProgressLine(slot), "Processing coding : 97 bytes (done)");
    slot.codedBytes = 1000;
    EXPECT_EQ(DecodingProgressLine(slot), "Processing decoding : 0 bytes (0 %)");
    slot.decodedCodedBytes = 333;
    EXPECT_EQ(DecodingProgressLine(slot), "Processing decoding : 333 bytes (33 %)");
    slot.decodedCodedBytes = 970;
    EXPECT_EQ(DecodingProgressLine(slot), "Processing decoding : 970 bytes (done)");
}

TEST(ReadSizeTest, VariableRateGetsOneByteMore) {
    CodecFormat f{};
    f.maxCodedBytes = 632;
    f.minCodedBytes = 24.0f;
    EXPECT_EQ(DecoderReadSize(f), 633);
    f.maxCodedBytes = 12;
    f.minCodedBytes = 12.0f;
    EXPECT_EQ(DecoderReadSize(f), 12);
    f.maxCodedBytes = 7;
    f.minCodedBytes = 0.25f;
    EXPECT_EQ(DecoderReadSize(f), 8);
}

} // namespace
