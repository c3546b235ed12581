// Which codecs run and in which options, as the front ends change them:
// codecs found by name, indices without a codec, the decoder opening with
// the encoder's options, and options a codec does not offer.
#include "eval_support.hpp"

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

class SelectionTest : public ::testing::Test {
protected:
    SelectionTest() : a("FAKEA"), b("FAKEB") {}

    // Registers the fakes (FAKEA offering both rates and voice activity,
    // FAKEB no option), starts an evaluator and opens an 8 kHz original.
    void Start() {
        a.control->infoOptionMask = CODEC_OPT_RATES | CODEC_OPT_VAD;
        ASSERT_EQ(a.Register(), 0);
        ASSERT_EQ(b.Register(), 0);
        ev = std::make_unique<Evaluator>(ui, world.Config());
        ASSERT_TRUE(ev->Startup());
        ASSERT_EQ(ev->SlotCount(), 2);
        WriteBytes(world.File("orig.wav"), SpeechLikeWave(8000, 1600));
        ASSERT_TRUE(ev->OpenOriginalFile(world.File("orig.wav")));
        ia = static_cast<std::size_t>(ev->FindCodec("FAKEA"));
        ib = static_cast<std::size_t>(ev->FindCodec("FAKEB"));
    }

    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
    RecordingFrontend ui;
    std::unique_ptr<Evaluator> ev;
    std::size_t ia = 0;
    std::size_t ib = 0;
};

TEST_F(SelectionTest, CodecsAreFoundByTheirExactName) {
    Start();
    EXPECT_EQ(ev->Slots()[ia].Name(), "FAKEA");
    EXPECT_EQ(ev->Slots()[ib].Name(), "FAKEB");
    EXPECT_NE(ia, ib);
    for (const char *name : {"FAKEC", "fakea", "FAKEA ", "FAKE", ""}) EXPECT_EQ(ev->FindCodec(name), -1) << name;
    EXPECT_EQ(ev->OfferedOptions(ia), 0x30001u);
    EXPECT_EQ(ev->OfferedOptions(ib), 0u);
}

TEST_F(SelectionTest, AnIndexWithoutACodecIsRefusedAndChangesNothing) {
    Start();
    // Past the codecs found, within the slot table and beyond it.
    for (const std::size_t index : {std::size_t{2}, kMaxSlots - 1, kMaxSlots, std::size_t{1000}}) {
        SCOPED_TRACE(index);
        EXPECT_FALSE(ev->SetCodecOptions(index, CODEC_OPT_4800));
        EXPECT_EQ(ev->CodecOptions(index), 0u);
        EXPECT_EQ(ev->OfferedOptions(index), 0u);
        EXPECT_FALSE(ev->IsSelected(index));
    }
    for (const auto &slot : ev->Slots()) {
        EXPECT_EQ(slot.encoderOptions, 0u);
        EXPECT_EQ(slot.decoderOptions, 0u);
    }
}

TEST_F(SelectionTest, TheDecoderOpensWithTheEncodersOptions) {
    Start();
    ASSERT_TRUE(ev->SetCodecOptions(ia, CODEC_OPT_4800 | CODEC_OPT_VAD));
    EXPECT_EQ(ev->CodecOptions(ia), 0x10001u);
    EXPECT_EQ(ev->Slots()[ia].decoderOptions, 0x10001u);
    EXPECT_EQ(ev->CodecOptions(ib), 0u); // the other codec keeps its own
    // A new word replaces the old one in both directions; nothing is kept of it.
    ASSERT_TRUE(ev->SetCodecOptions(ia, CODEC_OPT_6400));
    ev->ProcessSelectedCodecs();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(a.control->openedOptions, 0x20000u);
    EXPECT_EQ(a.control->decoderOptions, 0x20000u);
    EXPECT_TRUE(ev->Slots()[ia].HasResults());
}

TEST_F(SelectionTest, OptionsOutlastADeselection) {
    Start();
    ASSERT_TRUE(ev->SetCodecOptions(ia, CODEC_OPT_VAD));
    ev->ApplySelection({false, true}); // shorter than the table would do as well
    EXPECT_FALSE(ev->IsSelected(ia));
    EXPECT_TRUE(ev->IsSelected(ib));
    EXPECT_EQ(ev->SelectedCount(), 1);
    ev->ApplySelection({true});
    EXPECT_TRUE(ev->IsSelected(ia));
    EXPECT_FALSE(ev->IsSelected(ib)); // beyond the vector's end: deselected
    EXPECT_EQ(ev->CodecOptions(ia), CODEC_OPT_VAD);
    EXPECT_EQ(ev->Slots()[ia].decoderOptions, CODEC_OPT_VAD);
}

TEST_F(SelectionTest, AnOptionTheCodecDoesNotOfferReachesItAndItRefusesToOpen) {
    Start();
    // Kept as given (a stored preference can hold such a bit): the codec is
    // the one to refuse it, and only that codec's run fails.
    ASSERT_TRUE(ev->SetCodecOptions(ib, CODEC_OPT_4800));
    EXPECT_EQ(ev->CodecOptions(ib), CODEC_OPT_4800);
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"FAKEB : Cannot initialize encoding engine.  Option not supported."});
    EXPECT_TRUE(ev->Slots()[ib].failed);
    EXPECT_FALSE(ev->Slots()[ib].HasResults());
    EXPECT_TRUE(ev->Slots()[ia].HasResults());
    EXPECT_FALSE(ev->Slots()[ia].failed);
}

} // namespace
