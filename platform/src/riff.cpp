#include <vntr/platform/regular_file.hpp>
#include <vntr/platform/riff.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace vntr::platform {
namespace {

constexpr uint32_t kRiff = FourCC("RIFF");
constexpr uint32_t kList = FourCC("LIST");

uint32_t ReadLe32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void WriteLe32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

} // namespace

std::unique_ptr<RiffFile> RiffFile::Open(const std::string &path, Mode mode) {
    // Only a regular file is opened, and the open never waits (a named pipe
    // would hold it until a writer came).
    const int fd =
        mode == Mode::Read ? OpenRegularFile(path, O_RDONLY) : OpenRegularFile(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return nullptr;
    std::FILE *file = fdopen(fd, mode == Mode::Read ? "rb" : "w+b");
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        std::fclose(file);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    return std::unique_ptr<RiffFile>(new RiffFile(file, static_cast<uint64_t>(st.st_size)));
}

RiffFile::~RiffFile() {
    if (file_ != nullptr) std::fclose(file_);
}

uint64_t RiffFile::Tell() const {
    const off_t pos = ftello(file_);
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

bool RiffFile::Seek(uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

uint64_t RiffFile::FileSize() const {
    return size_;
}

RiffResult RiffFile::Descend(RiffChunk &chunk, const RiffChunk *parent, RiffFind find) {
    const uint64_t limit = parent != nullptr ? parent->dataOffset + parent->size : UINT64_MAX;
    while (true) {
        const uint64_t start = Tell();
        if (start + 8 > limit) return RiffResult::ChunkNotFound;
        std::array<unsigned char, 8> header{};
        if (std::fread(header.data(), 1, 8, file_) != 8) return RiffResult::ChunkNotFound;
        const uint32_t id = ReadLe32(header.data());
        const uint32_t size = ReadLe32(header.data() + 4);
        const uint64_t dataOffset = start + 8;
        uint32_t formType = 0;
        const bool grouped = id == kRiff || id == kList;
        if (grouped) {
            std::array<unsigned char, 4> form{};
            if (dataOffset + 4 > limit || std::fread(form.data(), 1, 4, file_) != 4) return RiffResult::ChunkNotFound;
            formType = ReadLe32(form.data());
        }
        const bool match = find == RiffFind::Any || (find == RiffFind::Chunk && id == chunk.id) ||
                           (find == RiffFind::Riff && id == kRiff && formType == chunk.formType) ||
                           (find == RiffFind::List && id == kList && formType == chunk.formType);
        if (match) {
            chunk.id = id;
            chunk.size = size;
            chunk.formType = formType;
            chunk.dataOffset = dataOffset;
            chunk.dirty = false;
            return RiffResult::Ok;
        }
        const uint64_t next = dataOffset + size + (size & 1u);
        if (next > limit || next > size_ || !Seek(next)) return RiffResult::ChunkNotFound;
    }
}

RiffResult RiffFile::CreateChunk(RiffChunk &chunk, bool riff) {
    const uint64_t start = Tell();
    std::array<unsigned char, 12> header{};
    if (riff) chunk.id = kRiff;
    WriteLe32(header.data(), chunk.id);
    WriteLe32(header.data() + 4, chunk.size);
    WriteLe32(header.data() + 8, chunk.formType);
    const std::size_t bytes = riff || chunk.id == kList ? 12 : 8;
    if (std::fwrite(header.data(), 1, bytes, file_) != bytes) return RiffResult::CannotWrite;
    chunk.dataOffset = start + 8;
    chunk.dirty = true;
    return RiffResult::Ok;
}

RiffResult RiffFile::Ascend(RiffChunk &chunk) {
    if (chunk.dirty) {
        const uint64_t end = Tell();
        if (end < chunk.dataOffset || end - chunk.dataOffset > UINT32_MAX) return RiffResult::CannotWrite;
        const auto size = static_cast<uint32_t>(end - chunk.dataOffset);
        if (size != chunk.size) {
            std::array<unsigned char, 4> field{};
            WriteLe32(field.data(), size);
            if (!Seek(chunk.dataOffset - 4)) return RiffResult::CannotSeek;
            if (std::fwrite(field.data(), 1, 4, file_) != 4) return RiffResult::CannotWrite;
            if (!Seek(end)) return RiffResult::CannotSeek;
            chunk.size = size;
        }
        if ((size & 1u) != 0) {
            const unsigned char pad = 0;
            if (std::fwrite(&pad, 1, 1, file_) != 1) return RiffResult::CannotWrite;
        }
        chunk.dirty = false;
        return RiffResult::Ok;
    }
    const uint64_t next = chunk.dataOffset + chunk.size + (chunk.size & 1u);
    return Seek(next) ? RiffResult::Ok : RiffResult::CannotSeek;
}

int64_t RiffFile::Read(void *buffer, std::size_t bytes) {
    const std::size_t n = std::fread(buffer, 1, bytes, file_);
    if (n < bytes && std::ferror(file_)) return -1;
    return static_cast<int64_t>(n);
}

int64_t RiffFile::Write(const void *buffer, std::size_t bytes) {
    const std::size_t n = std::fwrite(buffer, 1, bytes, file_);
    if (n < bytes) return n == 0 ? -1 : static_cast<int64_t>(n);
    return static_cast<int64_t>(n);
}

bool RiffFile::Close() {
    std::FILE *file = file_;
    file_ = nullptr;
    if (file == nullptr) return false;
    const bool flushed = std::fflush(file) == 0;
    return std::fclose(file) == 0 && flushed;
}

} // namespace vntr::platform
