// The RIFF chunk reader and writer: sizes fixed on ascent, pad bytes,
// searches bounded by the parent chunk and the file, lying size fields.
#include <vntr/platform/riff.hpp>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

using namespace vntr::platform;
namespace fs = std::filesystem;

namespace {

class RiffTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vntr-riff-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir + "/f.riff";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<uint8_t> Bytes() {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void Write(const std::vector<uint8_t> &b) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(b.data()), static_cast<long>(b.size()));
    }
    static uint32_t Le32(const std::vector<uint8_t> &b, std::size_t at) {
        return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
    }
    std::string dir;
    std::string path;
};

TEST_F(RiffTest, AscentFixesSizesAndPadsOddChunks) {
    auto file = RiffFile::Open(path, RiffFile::Mode::Create);
    ASSERT_TRUE(file);
    RiffChunk riff;
    riff.formType = FourCC("TEST");
    ASSERT_EQ(file->CreateChunk(riff, true), RiffResult::Ok);
    RiffChunk odd;
    odd.id = FourCC("odd ");
    ASSERT_EQ(file->CreateChunk(odd), RiffResult::Ok);
    ASSERT_EQ(file->Write("abc", 3), 3);
    ASSERT_EQ(file->Ascend(odd), RiffResult::Ok);
    EXPECT_EQ(odd.size, 3u);
    RiffChunk even;
    even.id = FourCC("even");
    even.size = 99; // a wrong size given at creation is corrected
    ASSERT_EQ(file->CreateChunk(even), RiffResult::Ok);
    ASSERT_EQ(file->Write("wxyz", 4), 4);
    ASSERT_EQ(file->Ascend(even), RiffResult::Ok);
    ASSERT_EQ(file->Ascend(riff), RiffResult::Ok);
    ASSERT_TRUE(file->Close());

    const auto b = Bytes();
    ASSERT_EQ(b.size(), 12u + 8 + 4 + 8 + 4);
    EXPECT_EQ(Le32(b, 4), b.size() - 8);
    EXPECT_EQ(Le32(b, 16), 3u);
    EXPECT_EQ(b[23], 0); // pad byte
    EXPECT_EQ(Le32(b, 28), 4u);

    auto in = RiffFile::Open(path, RiffFile::Mode::Read);
    RiffChunk r;
    r.formType = FourCC("TEST");
    ASSERT_EQ(in->Descend(r, nullptr, RiffFind::Riff), RiffResult::Ok);
    RiffChunk e;
    e.id = FourCC("even");
    ASSERT_EQ(in->Descend(e, &r, RiffFind::Chunk), RiffResult::Ok); // skips "odd " and its pad
    char got[4];
    ASSERT_EQ(in->Read(got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "wxyz");
}

TEST_F(RiffTest, SearchStopsAtTheEndOfTheParent) {
    // RIFF "TEST" holding only "aaaa"; a "data" chunk follows outside it.
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 12, 0,   0,   0,   'T', 'E', 'S', 'T', 'a', 'a', 'a',
                              'a', 0,   0,   0,   0,  'd', 'a', 't', 'a', 2,   0,   0,   0,   1,   2};
    Write(b);
    auto in = RiffFile::Open(path, RiffFile::Mode::Read);
    RiffChunk r;
    r.formType = FourCC("TEST");
    ASSERT_EQ(in->Descend(r, nullptr, RiffFind::Riff), RiffResult::Ok);
    RiffChunk d;
    d.id = FourCC("data");
    EXPECT_EQ(in->Descend(d, &r, RiffFind::Chunk), RiffResult::ChunkNotFound);
}

TEST_F(RiffTest, LyingSizesEndTheSearchInsteadOfReadingBeyondTheFile) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
                              'j', 'u', 'n', 'k', 0xF0, 0xFF, 0xFF, 0xFF, 1,   2,   3,   4};
    Write(b);
    auto in = RiffFile::Open(path, RiffFile::Mode::Read);
    RiffChunk r;
    r.formType = FourCC("WAVE");
    ASSERT_EQ(in->Descend(r, nullptr, RiffFind::Riff), RiffResult::Ok);
    EXPECT_EQ(r.size, 0xFFFFFFFFu);
    RiffChunk d;
    d.id = FourCC("data");
    EXPECT_EQ(in->Descend(d, &r, RiffFind::Chunk), RiffResult::ChunkNotFound);
    // A header cut short is not a chunk either.
    Write({'R', 'I', 'F', 'F', 4, 0});
    in = RiffFile::Open(path, RiffFile::Mode::Read);
    EXPECT_EQ(in->Descend(r, nullptr, RiffFind::Riff), RiffResult::ChunkNotFound);
}

TEST_F(RiffTest, OpeningFailures) {
    EXPECT_FALSE(RiffFile::Open(dir + "/missing", RiffFile::Mode::Read));
    EXPECT_FALSE(RiffFile::Open(dir, RiffFile::Mode::Read)); // a folder
    EXPECT_FALSE(RiffFile::Open(dir + "/no/such/folder/x", RiffFile::Mode::Create));
}

} // namespace
