// Each peer library against the command-line tools of the same system library
// on the same recording: where the tool writes the codec's frames as they
// are (c2enc, toast) the coded and the decoded bytes are the same; where it
// wraps them in Ogg (speexenc, opusenc) the packets or the decoded samples are
// the same after the container's offset. A fault in a wrapper (a setting, the
// sample order, a lost or doubled frame) shows as a difference here.
#include "ogg_packets.hpp"
#include "peer_support.hpp"

namespace vntr::test {
namespace {

class ToolComparison : public ::testing::Test {
protected:
    void SetUp() override {
        speech = Speech();
        if (speech.empty()) GTEST_SKIP() << "codec2-examples not installed";
        WriteRaw16(dir.File("speech.raw"), speech);
    }

    // The library, or a skip when this build or machine lacks it or its tools.
    std::unique_ptr<CodecBinding> Peer(const std::string &name, std::initializer_list<const char *> tools) {
        if (!IsBuilt(name)) return nullptr;
        for (const char *tool : tools)
            if (!HaveTool(tool)) return nullptr;
        return std::make_unique<CodecBinding>(CodecLibraryPath(name));
    }

    ScratchDir dir;
    std::vector<int16_t> speech;
};

TEST_F(ToolComparison, Codec2FramesAndSpeechAreTheToolsByteForByte) {
    int compared = 0;
    for (const auto &[name, mode] : {std::pair{"C2 3200", "3200"}, {"C2 1600", "1600"}, {"C2 1300", "1300"}}) {
        const auto lib = Peer(name, {"c2enc", "c2dec"});
        if (!lib) continue;
        SCOPED_TRACE(name);
        const std::string bits = dir.File(std::string(mode) + ".bin"), out = dir.File(std::string(mode) + ".out");
        ASSERT_TRUE(RunQuietly("c2enc " + std::string(mode) + " " + dir.File("speech.raw") + " " + bits));
        ASSERT_TRUE(RunQuietly("c2dec " + std::string(mode) + " " + bits + " " + out));

        const EncodedStream ours = EncodeAll(*lib, kPeerFormat, 0, speech);
        EXPECT_EQ(ours.bytes, ReadFileBytes(bits));
        const DecodedStream decoded = DecodeAll(*lib, kPeerFormat, 0, ours.bytes);
        EXPECT_EQ(decoded.pcm.size(), speech.size());
        EXPECT_EQ(decoded.pcm, ReadRaw16(out));
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no Codec2 peer or no c2enc/c2dec";
}

TEST_F(ToolComparison, GsmFramesAndSpeechAreToastsByteForByte) {
    const auto lib = Peer("GSM-FR", {"toast"});
    if (!lib) GTEST_SKIP() << "no GSM-FR peer or no toast";
    // -l: 16-bit linear samples in the machine's byte order; -c: to standard output.
    const std::string gsm = dir.File("speech.gsm"), out = dir.File("speech.out");
    ASSERT_TRUE(std::system(("toast -l -c < " + dir.File("speech.raw") + " > " + gsm).c_str()) == 0);
    ASSERT_TRUE(std::system(("toast -d -l -c < " + gsm + " > " + out).c_str()) == 0);

    const EncodedStream ours = EncodeAll(*lib, kPeerFormat, 0, speech);
    EXPECT_EQ(ours.bytes.size(), speech.size() / 160 * 33);
    EXPECT_EQ(ours.bytes, ReadFileBytes(gsm));
    EXPECT_EQ(DecodeAll(*lib, kPeerFormat, 0, ours.bytes).pcm, ReadRaw16(out));
}

TEST_F(ToolComparison, SpeexPacketsAreSpeexencsAndDecodeAsSpeexdecDoes) {
    int compared = 0;
    for (const auto &[name, quality] : {std::pair{"Speex 6k", "2"}, {"Speex 8k", "4"}, {"Speex 11k", "6"}}) {
        const auto lib = Peer(name, {"speexenc", "speexdec"});
        if (!lib) continue;
        SCOPED_TRACE(name);
        const std::string spx = dir.File(std::string(quality) + ".spx"), out = dir.File(std::string(quality) + ".out");
        ASSERT_TRUE(RunQuietly("speexenc -n --quality " + std::string(quality) + " --rate 8000 --le --16bit " +
                               dir.File("speech.raw") + " " + spx));
        ASSERT_TRUE(RunQuietly("speexdec " + spx + " " + out));

        const EncodedStream ours = EncodeAll(*lib, kPeerFormat, 0, speech);
        const CodecFormat f = FormatOf(*lib);
        auto packets = ReadOggPackets(spx);
        ASSERT_GT(packets.size(), 2u);
        packets.erase(packets.begin(), packets.begin() + 2); // the header and the comments
        const auto frames = SplitFrames(ours.bytes, f.maxCodedBytes);
        // The tool codes one frame more at the end (its zero-padded tail).
        ASSERT_GE(packets.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i], packets[i]) << "packet " << i;

        // speexdec cuts a start of its own from the first packets (by their
        // granule positions); after that every sample is ours.
        const DecodedStream decoded = DecodeAll(*lib, kPeerFormat, 0, ours.bytes);
        const auto theirs = ReadRaw16(out);
        const auto shift = MatchingShift(decoded.pcm, theirs, 400, 0, speech.size() * 9 / 10);
        EXPECT_TRUE(shift.has_value()) << ClosestShift(decoded.pcm, theirs, 400);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no Speex peer or no speexenc/speexdec";
}

// opusdec decodes at 48 kHz whatever rate it writes, and resamples: its
// samples cannot be ours, only close to them at the right alignment, where a
// wrapper fault (a frame lost, doubled or out of order, a wrong setting)
// would leave little in common. The resampler leaves 11 to 25 dB (the least
// at 6 kbit/s); the same speech one frame off gives -3 dB.
constexpr double kResampledSnrDb = 8.0;

// Our packets in an Ogg Opus file without pre-skip: opusdec's samples line
// up with our decoder's.
TEST_F(ToolComparison, OpusdecDecodesOurPacketsAsOurDecoderDoes) {
    int compared = 0;
    for (const char *name : {"Opus 6k", "Opus 8k", "Opus 12k"}) {
        const auto lib = Peer(name, {"opusdec"});
        if (!lib) continue;
        SCOPED_TRACE(name);
        const EncodedStream ours = EncodeAll(*lib, kPeerFormat, 0, speech);
        const CodecFormat f = FormatOf(*lib);
        const auto frames = SplitFrames(ours.bytes, f.maxCodedBytes);
        ASSERT_EQ(frames.size(), speech.size() / 160);
        const std::string file = dir.File("ours.opus"), out = dir.File("ours.out");
        WriteOggOpus(file, frames);
        ASSERT_TRUE(RunQuietly("opusdec --rate 8000 --no-dither " + file + " " + out));

        const DecodedStream decoded = DecodeAll(*lib, kPeerFormat, 0, ours.bytes);
        const auto theirs = ReadRaw16(out);
        EXPECT_EQ(theirs.size(), decoded.pcm.size());
        EXPECT_EQ(BestShift(decoded.pcm, theirs, 200), 0);
        EXPECT_GT(AlignedSnrDb(decoded.pcm, theirs, 0), kResampledSnrDb);
        EXPECT_LT(AlignedSnrDb(decoded.pcm, theirs, 160), 0.0) << "the measure does not tell a slipped frame";
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no Opus peer or no opusdec";
}

// opusenc in the same mode (it codes at 48 kHz, so its packets are not ours):
// our decoder turns its packets into what opusdec makes of them.
TEST_F(ToolComparison, OurDecoderDecodesOpusencsPacketsAsOpusdecDoes) {
    int compared = 0;
    for (const auto &[name, kbps] : {std::pair{"Opus 6k", "6"}, {"Opus 8k", "8"}, {"Opus 12k", "12"}}) {
        const auto lib = Peer(name, {"opusenc", "opusdec"});
        if (!lib) continue;
        SCOPED_TRACE(name);
        const std::string file = dir.File("tool.opus"), out = dir.File("tool.out");
        ASSERT_TRUE(RunQuietly("opusenc --raw --raw-rate 8000 --raw-chan 1 --bitrate " + std::string(kbps) +
                               " --hard-cbr --comp 10 --framesize 20 " + dir.File("speech.raw") + " " + file));
        ASSERT_TRUE(RunQuietly("opusdec --rate 8000 --no-dither " + file + " " + out));
        auto packets = ReadOggPackets(file);
        ASSERT_GT(packets.size(), 2u);
        packets.erase(packets.begin(), packets.begin() + 2); // the header and the comments
        const CodecFormat f = FormatOf(*lib);
        std::vector<uint8_t> stream;
        for (const auto &p : packets) {
            ASSERT_EQ(p.size(), f.maxCodedBytes) << "a hard-CBR packet of another size";
            stream.insert(stream.end(), p.begin(), p.end());
        }
        const DecodedStream decoded = DecodeAll(*lib, kPeerFormat, 0, stream);
        EXPECT_EQ(decoded.frames, static_cast<int>(packets.size()));
        // opusdec drops the pre-skip (312 samples at 48 kHz, the look-ahead of
        // 52 at 8 kHz) and trims the end to the original length.
        const auto theirs = ReadRaw16(out);
        EXPECT_EQ(theirs.size(), speech.size());
        EXPECT_EQ(BestShift(decoded.pcm, theirs, 200), static_cast<int>(f.delaySamples));
        EXPECT_GT(AlignedSnrDb(decoded.pcm, theirs, static_cast<int>(f.delaySamples)), kResampledSnrDb);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no Opus peer or no opusenc/opusdec";
}

} // namespace
} // namespace vntr::test
