// Saving and reopening a comparison.  A session file is untrusted: every
// length is checked against what the file still holds before anything is
// allocated or read.
#include "session.hpp"

#include "evaluator.hpp"
#include "printf.hpp"
#include "replacing_file.hpp"

#include <vntr/platform/paths.hpp>
#include <vntr/platform/regular_file.hpp>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace vntr::evaluator {

// Reads the parts of a session file, never past its end.
class SessionReader {
public:
    explicit SessionReader(std::FILE *file) : file_(file) {
        struct stat st {};
        if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode)) left_ = static_cast<uint64_t>(st.st_size);
    }
    bool Bytes(void *out, std::size_t n) {
        if (n > left_) return false;
        if (std::fread(out, 1, n, file_) != n) return false;
        left_ -= n;
        return true;
    }
    bool U16(uint16_t &v) {
        unsigned char b[2];
        if (!Bytes(b, 2)) return false;
        v = static_cast<uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    bool U32(uint32_t &v) {
        unsigned char b[4];
        if (!Bytes(b, 4)) return false;
        v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
            static_cast<uint32_t>(b[3]) << 24;
        return true;
    }
    // A length-prefixed name that fits the name buffer and ends in its zero.
    bool Name(std::string &name) {
        uint32_t length = 0;
        if (!U32(length) || length == 0 || length > kSessionNameBuffer) return false;
        char buffer[kSessionNameBuffer];
        if (!Bytes(buffer, length) || buffer[length - 1] != '\0') return false;
        name.assign(buffer);
        return true;
    }
    uint64_t Left() const { return left_; }

private:
    std::FILE *file_;
    uint64_t left_ = 0;
};

namespace {

class SessionWriter {
public:
    explicit SessionWriter(std::FILE *file) : file_(file) {}
    bool Bytes(const void *data, std::size_t n) { return std::fwrite(data, 1, n, file_) == n; }
    bool U16(uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
        return Bytes(b, 2);
    }
    bool U32(uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        return Bytes(b, 4);
    }
    bool Name(const std::string &name) {
        return U32(static_cast<uint32_t>(name.size() + 1)) && Bytes(name.c_str(), name.size() + 1);
    }

private:
    std::FILE *file_;
};

struct BusyScope {
    Frontend &ui;
    explicit BusyScope(Frontend &f) : ui(f) { ui.SetBusy(true); }
    ~BusyScope() { ui.SetBusy(false); }
};

// One name matches another when they are equal, or when one is exactly one
// character longer and they agree over the shorter one.
bool NamesMatch(const std::string &a, const std::string &b) {
    if (a == b) return true;
    const std::string &shorter = a.size() < b.size() ? a : b;
    const std::string &longer = a.size() < b.size() ? b : a;
    return longer.size() == shorter.size() + 1 && longer.compare(0, shorter.size(), shorter) == 0;
}

} // namespace

bool Evaluator::SaveSession(const std::string &path) {
    BusyScope busy(ui_);
    // A session written over its own original would destroy what it embeds.
    if (original_.Exists() && SameFile(path, original_.path)) {
        Error("Could not create session file.");
        return false;
    }
    ReplacingFile file;
    if (!file.Create(path)) {
        Error("Could not create session file.");
        return false;
    }
    SessionWriter out(file.File());
    auto fail = [&](const char *text) {
        Error(text);
        return false;
    };

    std::FILE *original = platform::OpenRegularFileForReading(original_.path);
    struct stat st {};
    if (original != nullptr && fstat(fileno(original), &st) != 0) {
        std::fclose(original);
        original = nullptr;
    }
    // The file format holds a 32-bit size.
    const uint64_t size =
        original != nullptr && static_cast<uint64_t>(st.st_size) <= UINT32_MAX ? static_cast<uint64_t>(st.st_size) : 0;
    if (!out.Bytes(kSessionMagic, sizeof kSessionMagic) || !out.Name(original_.name) ||
        !out.U32(static_cast<uint32_t>(size))) {
        if (original != nullptr) std::fclose(original);
        return fail("Could not write to session file.");
    }
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc &) {
        if (original != nullptr) std::fclose(original);
        return fail("Could not allocate memory to write session file.");
    }
    if (original == nullptr) return fail("Could not open original file to write session file.");
    const bool read = std::fread(buffer.data(), 1, buffer.size(), original) == buffer.size();
    std::fclose(original);
    if (!read) return fail("Could not read original file.");
    if (!out.Bytes(buffer.data(), buffer.size())) return fail("Could not write to session file.");

    // The codecs of the comparison: the selected ones that ran on this
    // original.  One that cannot take it has no codec id to be found by.
    const auto ran = [](const CodecSlot &slot) {
        return slot.selected != 0 && slot.formatFlags != 0 && slot.format.codecId != 0;
    };
    uint16_t count = 0;
    for (std::size_t i = 0; i < slotCount_; ++i) count += ran(slots_[i]) ? 1 : 0;
    if (!out.U16(count)) return fail("Could not write to session file.");
    for (std::size_t i = 0; i < slotCount_; ++i) {
        const CodecSlot &slot = slots_[i];
        if (!ran(slot)) continue;
        if (!out.U16(static_cast<uint16_t>(slot.format.codecId)) || !out.Name(slot.Name())) {
            return fail("Could not write to session file.");
        }
    }
    if (!file.Finish()) return fail("Could not write to session file.");
    if (!file.Replace()) return fail("Could not create session file.");
    unsavedSession_ = false;
    return true;
}

bool Evaluator::OpenSession(const std::string &path) {
    BusyScope busy(ui_);
    temp_.DeleteAll();
    ClearOriginal();
    state_ = DisplayState::Idle;

    // A folder, a device, a named pipe: nothing to read a session from (and
    // nothing to wait for).
    std::FILE *file = platform::OpenRegularFileForReading(path);
    if (file == nullptr) {
        Error("Could not open session file.");
        return false;
    }
    SessionReader in(file);
    auto fail = [&](const char *text) {
        Error(text);
        std::fclose(file);
        ui_.ResultsChanged();
        return false;
    };

    char magic[sizeof kSessionMagic];
    if (!in.Bytes(magic, sizeof magic)) return fail("Could not read session file.");
    if (std::memcmp(magic, kSessionMagic, sizeof magic) != 0) return fail("File is not a session file.");

    std::string storedName;
    uint32_t originalSize = 0;
    if (!in.Name(storedName) || !in.U32(originalSize)) return fail("Could not read session file.");
    // A size beyond the end of the file is a damaged file, not an allocation to try.
    if (originalSize > in.Left()) return fail("Could not read session file.");
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(originalSize);
    } catch (const std::bad_alloc &) {
        return fail("Could not allocate memory to read session file.");
    }
    std::FILE *original = std::fopen(temp_.Original().c_str(), "wbe");
    if (original == nullptr) return fail("Could not create original file.");
    if (!in.Bytes(buffer.data(), buffer.size())) {
        std::fclose(original);
        return fail("Could not read session file.");
    }
    const bool written = std::fwrite(buffer.data(), 1, buffer.size(), original) == buffer.size();
    if (std::fclose(original) != 0 || !written) return fail("Could not create original file.");
    buffer = {};

    if (!OpenOriginal(ui_, temp_.Original(), original_)) {
        ClearOriginal();
        return fail("Could not get original file properties.");
    }
    sessionOriginalName_ = storedName;
    fromSession_ = true;
    unsavedSession_ = false;
    downsampleMade_ = false;

    uint16_t count = 0;
    if (!in.U16(count)) return fail("Could not read session file.");
    if (count != 0) {
        selectedCount_ = 0;
        for (std::size_t i = 0; i < slotCount_; ++i) {
            CodecSlot &slot = slots_[i];
            slot.ClearPerFileResults();
            slot.selected = 0;
            slot.SetOptions(0);
        }
    } else {
        // The selection stays: match it to the restored original.
        for (std::size_t i = 0; i < slotCount_; ++i) {
            if (slots_[i].selected == 0) continue;
            slots_[i].ClearPerFileResults();
            MatchCodec(ui_, slots_[i], original_);
        }
    }

    for (uint16_t entry = 0; entry < count; ++entry) {
        uint16_t codecId = 0;
        std::string name;
        if (!in.U16(codecId) || !in.Name(name)) {
            AssignRowsInSlotOrder();
            return fail("Could not read session file.");
        }
        // A codec that did not run on the original (written so by earlier
        // versions) has nothing to restore.
        if (codecId == 0) continue;
        bool found = false;
        for (std::size_t i = 0; i < slotCount_ && !found; ++i) {
            CodecSlot &slot = slots_[i];
            if (slot.selected != 0 || slot.interfaceKind != InterfaceKind::Standard || !slot.library) continue;
            auto getData = slot.library->Bind<CodecGetDataFn>(CODEC_ORD_GET_CODEC_DATA);
            if (getData == nullptr) continue;
            // A codec fed the 8 kHz copy of an 11 kHz original is asked about
            // the copy's format, the one it runs on.
            CodecSlot probe;
            probe.info = slot.info;
            MatchCodecQuietly(probe);
            const uint32_t asked = probe.downsampled != 0 ? probe.formatFlags : original_.formatFlags;
            CodecFormat scratch{};
            if (getData(CODEC_DIRECTION_ENCODER, asked, 0, &scratch) != CODEC_OK) continue;
            uint32_t options = 0;
            if (static_cast<uint16_t>(scratch.codecId) != codecId && slot.info.optionMask != 0) {
                for (uint32_t bit = 1; bit != 0; bit <<= 1) {
                    if ((slot.info.optionMask & bit) == 0) continue;
                    if (getData(CODEC_DIRECTION_ENCODER, asked, bit, &scratch) == CODEC_OK &&
                        static_cast<uint16_t>(scratch.codecId) == codecId) {
                        options = bit;
                        break;
                    }
                }
            }
            if (static_cast<uint16_t>(scratch.codecId) != codecId || !NamesMatch(slot.Name(), name)) continue;
            slot.SetOptions(options);
            slot.selected = 1;
            ++selectedCount_;
            MatchCodec(ui_, slot, original_);
            found = true;
        }
        if (!found) Error(Printf("Codec %s not found.", name.c_str()));
    }
    std::fclose(file);

    AssignRowsInSlotOrder();
    ui_.ResultsChanged();
    cancel_ = false;
    state_ = DisplayState::Processing;
    for (std::size_t i = 0; i < slotCount_ && !cancel_; ++i) {
        if (slots_[i].selected != 0) ProcessCodec(i);
    }
    statusText_.clear();
    if (cancel_) {
        state_ = DisplayState::Idle;
        temp_.DeleteAll(/*keepOriginal=*/true);
        downsampleMade_ = false;
        for (std::size_t i = 0; i < slotCount_; ++i) {
            slots_[i].ClearPerFileResults();
            if (slots_[i].selected != 0) MatchCodecQuietly(slots_[i]);
        }
    } else {
        state_ = DisplayState::Results;
    }
    OrderResults();
    return true;
}

} // namespace vntr::evaluator
