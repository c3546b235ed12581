// A small buffered RIFF chunk reader and writer with descend, create and
// ascend.  Reading never trusts a size field: a search for a chunk stops at
// the end of the enclosing chunk or of the file, whichever comes first.
//
// Writing: CreateChunk writes a chunk header at the current position and
// leaves the chunk open; Ascend fixes its size from what was written (and adds
// the pad byte of an odd-sized chunk).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vntr::platform {

constexpr uint32_t FourCC(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

struct RiffChunk {
    uint32_t id = 0;         // chunk identifier ("RIFF", "fmt ", "data", ...)
    uint32_t size = 0;       // size of the chunk's data (for RIFF and LIST: form type included)
    uint32_t formType = 0;   // form type of a RIFF or LIST chunk
    uint64_t dataOffset = 0; // file offset of the data (just behind the size field)
    bool dirty = false;      // created for writing: the size is fixed on ascent
};

enum class RiffResult {
    Ok,
    ChunkNotFound,
    CannotRead,
    CannotWrite,
    CannotSeek,
};

enum class RiffFind {
    Any,   // the next chunk, whatever it is
    Chunk, // the next chunk whose id equals chunk.id
    Riff,  // the next RIFF chunk whose form type equals chunk.formType
    List,  // the next LIST chunk whose form type equals chunk.formType
};

class RiffFile {
public:
    enum class Mode { Read, Create };

    // Opens a regular file for buffered reading, or creates (truncates) one for
    // writing.  Nothing on failure, and at once for a named pipe, a device or a
    // folder (never waits for the other end of a pipe).
    static std::unique_ptr<RiffFile> Open(const std::string &path, Mode mode);
    ~RiffFile();
    RiffFile(const RiffFile &) = delete;
    RiffFile &operator=(const RiffFile &) = delete;

    // Finds a chunk from the current position, inside `parent` when given, and
    // positions the file at its data (behind the form type of RIFF and LIST).
    RiffResult Descend(RiffChunk &chunk, const RiffChunk *parent, RiffFind find);
    // Writes a chunk header (a RIFF header with chunk.formType when `riff`).
    RiffResult CreateChunk(RiffChunk &chunk, bool riff = false);
    // Leaves a chunk: fixes the size of a written chunk, pads it to an even
    // size, and positions the file behind it.
    RiffResult Ascend(RiffChunk &chunk);

    // Bytes read or written, -1 on error.
    int64_t Read(void *buffer, std::size_t bytes);
    int64_t Write(const void *buffer, std::size_t bytes);

    uint64_t Tell() const;
    bool Seek(uint64_t offset);
    uint64_t FileSize() const; // of a file opened for reading

    // Flushes and closes; false when buffered data could not be written.
    bool Close();

private:
    explicit RiffFile(std::FILE *file, uint64_t size) : file_(file), size_(size) {}
    std::FILE *file_;
    uint64_t size_;
};

} // namespace vntr::platform
