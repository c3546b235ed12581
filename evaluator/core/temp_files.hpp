// The evaluator's temporary files in the per-user temporary folder: per codec
// "<name>.~c0" (coded) and "<name>.~d0" (decoded), the recorded or
// session-restored original "~t_ori.wav" and the 8 kHz copy "~t_down.wav".
#pragma once

#include <string>

namespace vntr::evaluator {

struct TempFiles {
    std::string dir; // with a trailing '/'

    std::string Coded(const std::string &slotName) const { return dir + slotName + ".~c0"; }
    std::string Decoded(const std::string &slotName) const { return dir + slotName + ".~d0"; }
    std::string Original() const { return dir + "~t_ori.wav"; }
    std::string Downsampled() const { return dir + "~t_down.wav"; }

    // Deletes every "*.~c0" and "*.~d0" and the two wave files; with
    // `keepOriginal` the temporary original stays (it is the current original).
    void DeleteAll(bool keepOriginal = false) const;
};

} // namespace vntr::evaluator
