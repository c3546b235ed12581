// The packets of an Ogg stream, read and written with libogg, for feeding
// the command-line tools' files to our libraries and ours to the tools.
#pragma once

#include <ogg/ogg.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vntr::test {

using Packet = std::vector<uint8_t>;

// Every packet of the first logical stream, headers included, in order.
inline std::vector<Packet> ReadOggPackets(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    ogg_sync_state sync;
    ogg_stream_state stream;
    ogg_sync_init(&sync);
    bool started = false;
    std::vector<Packet> packets;
    for (;;) {
        char *buffer = ogg_sync_buffer(&sync, 4096);
        const std::size_t got = std::fread(buffer, 1, 4096, file);
        ogg_sync_wrote(&sync, static_cast<long>(got));
        ogg_page page;
        while (ogg_sync_pageout(&sync, &page) == 1) {
            if (!started) {
                ogg_stream_init(&stream, ogg_page_serialno(&page));
                started = true;
            }
            if (ogg_page_serialno(&page) != stream.serialno) continue;
            ogg_stream_pagein(&stream, &page);
            ogg_packet packet;
            while (ogg_stream_packetout(&stream, &packet) == 1)
                packets.emplace_back(packet.packet, packet.packet + packet.bytes);
        }
        if (got == 0) break;
    }
    if (started) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    std::fclose(file);
    return packets;
}

// An Ogg Opus file of mono 8000 Hz packets of 20 ms, without pre-skip, so that
// the tool's decoder gives every sample our decoder gives.
inline void WriteOggOpus(const std::string &path, const std::vector<Packet> &audio) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x5645);
    auto writePages = [&](bool flush) {
        ogg_page page;
        while (flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
            std::fwrite(page.header, 1, static_cast<std::size_t>(page.header_len), file);
            std::fwrite(page.body, 1, static_cast<std::size_t>(page.body_len), file);
        }
    };
    auto put = [&](Packet bytes, int64_t granule, bool bos, bool eos, int64_t number) {
        ogg_packet packet{};
        packet.packet = bytes.data();
        packet.bytes = static_cast<long>(bytes.size());
        packet.b_o_s = bos ? 1 : 0;
        packet.e_o_s = eos ? 1 : 0;
        packet.granulepos = granule;
        packet.packetno = number;
        ogg_stream_packetin(&stream, &packet);
    };
    // Version 1, one channel, pre-skip 0, input rate 8000 Hz, gain 0, mapping family 0.
    Packet head = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 1, 0, 0, 0x40, 0x1F, 0, 0, 0, 0, 0};
    put(head, 0, true, false, 0);
    writePages(true);
    Packet tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 4, 0, 0, 0, 't', 'e', 's', 't', 0, 0, 0, 0};
    put(tags, 0, false, false, 1);
    writePages(true);
    for (std::size_t i = 0; i < audio.size(); ++i) {
        // Granule positions count 48 kHz samples: 960 per 20 ms packet.
        put(audio[i], static_cast<int64_t>(i + 1) * 960, false, i + 1 == audio.size(), static_cast<int64_t>(i) + 2);
        writePages(false);
    }
    writePages(true);
    ogg_stream_clear(&stream);
    std::fclose(file);
}

} // namespace vntr::test
