#include "codec_slot.hpp"

namespace vntr::evaluator {

void CodecSlot::ClearPerFileResults() {
    format = CodecFormat{};
    formatFlags = 0;
    sampleRate = 0;
    blockAlign = 0;
    inputBytes = 0;
    codedBytes = 0;
    encodedInputBytes = 0;
    decodedCodedBytes = 0;
    codingTime = 0;
    decodingTime = 0;
    downsampled = 0;
    runBitRate = 0;
    ratio = 0;
    codingLoad = 0;
    decodingLoad = 0;
    codingMicros = 0;
    decodingMicros = 0;
    failed = false;
    notRunReason.clear();
    quality = Quality{};
    latencySamples = -1;
    alignedOnce = false;
}

void CodecSlot::Reset() {
    library.reset();
    SetOptions(0);
    ClearPerFileResults();
    info = CodecInfo{};
    selected = 0;
    playing = 0;
    name.fill('\0');
    interfaceKind = InterfaceKind::Standard;
    displaySlot = -1;
    peerLibrary.clear();
}

} // namespace vntr::evaluator
