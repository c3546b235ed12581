#include "frame_io.h"

namespace vntr::audiocoder {
namespace {

constexpr int kScaleBits = 6;
constexpr int kSelectionBits = 2;

int BlockOf(int part, int granule, int sample) {
    return part * kGranulesPerPart * kSamplesPerGranule + granule * kSamplesPerGranule + sample;
}

} // namespace

void WriteFrame(const Config &config, const FrameParams &p, BitWriter &w) {
    for (int part = 0; part < kParts; ++part)
        for (int sb = 0; sb < kSubbands; ++sb) w.Put(p.allocation[part][sb], config.rows[sb].nbal);

    for (int sb = 0; sb < kSubbands; ++sb)
        if (AllocatedInAnyPart(p, sb)) w.Put(p.selection[sb], kSelectionBits);

    for (int sb = 0; sb < kSubbands; ++sb) {
        if (!AllocatedInAnyPart(p, sb)) continue;
        const bool a0 = p.allocation[0][sb] != 0, a1 = p.allocation[1][sb] != 0, a2 = p.allocation[2][sb] != 0;
        switch (p.selection[sb]) {
        case 0:
            for (int part = 0; part < kParts; ++part)
                if (p.allocation[part][sb] != 0) w.Put(p.scaleIndex[part][sb], kScaleBits);
            break;
        case 1:
            if (a0 || a1) w.Put(p.scaleIndex[0][sb], kScaleBits);
            if (a2) w.Put(p.scaleIndex[2][sb], kScaleBits);
            break;
        case 2:
            w.Put(p.scaleIndex[0][sb], kScaleBits);
            break;
        default:
            if (a0) w.Put(p.scaleIndex[0][sb], kScaleBits);
            if (a1 || a2) w.Put(p.scaleIndex[2][sb], kScaleBits);
            break;
        }
    }

    for (int part = 0; part < kParts; ++part)
        for (int granule = 0; granule < kGranulesPerPart; ++granule)
            for (int sb = 0; sb < kSubbands; ++sb) {
                const int alloc = p.allocation[part][sb];
                if (alloc == 0) continue;
                const Quantiser &q = config.rows[sb].quantiser[alloc - 1];
                const int b = BlockOf(part, granule, 0);
                if (q.grouped) {
                    const uint32_t levels = q.levels;
                    w.Put(p.code[b][sb] + levels * (p.code[b + 1][sb] + levels * p.code[b + 2][sb]), q.bits);
                } else {
                    for (int s = 0; s < kSamplesPerGranule; ++s) w.Put(p.code[b + s][sb], q.bits);
                }
            }
}

void ReadFrame(const Config &config, BitReader &r, FrameParams &p) {
    for (int part = 0; part < kParts; ++part)
        for (int sb = 0; sb < kSubbands; ++sb)
            p.allocation[part][sb] = static_cast<uint8_t>(r.Get(config.rows[sb].nbal));

    for (int sb = 0; sb < kSubbands; ++sb)
        p.selection[sb] = AllocatedInAnyPart(p, sb) ? static_cast<uint8_t>(r.Get(kSelectionBits)) : 0;

    for (int sb = 0; sb < kSubbands; ++sb) {
        if (!AllocatedInAnyPart(p, sb)) continue;
        const bool a0 = p.allocation[0][sb] != 0, a1 = p.allocation[1][sb] != 0, a2 = p.allocation[2][sb] != 0;
        uint8_t(&s)[kParts][kSubbands] = p.scaleIndex;
        auto get = [&r] { return static_cast<uint8_t>(r.Get(kScaleBits)); };
        switch (p.selection[sb]) {
        case 0:
            for (int part = 0; part < kParts; ++part)
                if (p.allocation[part][sb] != 0) s[part][sb] = get();
            break;
        case 1:
            if (a0 || a1) s[0][sb] = s[1][sb] = get();
            if (a2) s[2][sb] = get();
            break;
        case 2:
            s[0][sb] = s[1][sb] = s[2][sb] = get();
            break;
        default:
            if (a0) s[0][sb] = get();
            if (a1 || a2) s[1][sb] = s[2][sb] = get();
            break;
        }
    }

    for (int part = 0; part < kParts; ++part)
        for (int granule = 0; granule < kGranulesPerPart; ++granule)
            for (int sb = 0; sb < kSubbands; ++sb) {
                const int alloc = p.allocation[part][sb];
                if (alloc == 0) continue;
                const Quantiser &q = config.rows[sb].quantiser[alloc - 1];
                const int b = BlockOf(part, granule, 0);
                if (q.grouped) {
                    uint32_t v = r.Get(q.bits);
                    for (int s = 0; s < kSamplesPerGranule; ++s) {
                        p.code[b + s][sb] = static_cast<uint8_t>(v % q.levels);
                        v /= q.levels;
                    }
                } else {
                    for (int s = 0; s < kSamplesPerGranule; ++s)
                        p.code[b + s][sb] = static_cast<uint8_t>(r.Get(q.bits));
                }
            }
}

} // namespace vntr::audiocoder
