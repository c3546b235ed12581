// The polyphase filter bank windows of ISO/IEC 11172-3, as printed there.
#pragma once

namespace vntr::audiocoder {

extern const float kAnalysisWindow[512];  // C[i]; C[256] = 0.035780907
extern const float kSynthesisWindow[512]; // D[i]; D[256] = 1.144989014

} // namespace vntr::audiocoder
