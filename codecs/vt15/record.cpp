#include "record.hpp"

#include "parameters.hpp"

#include <cstring>

namespace vntr::vt15 {

void InitRecord(FrameRecord &record) {
    std::memset(&record, 0, sizeof record);
    record.pitch = kUnvoicedPitch;
    record.averagePitch = kUnvoicedPitch;
    record.gain[0] = record.gain[1] = kGain2Min;
    InitialLsf(record.lsf);
    InitialLsf(record.quantisedLsf);
    record.active = false;
    record.frameClass = kInitialPreviousClass;
    record.pitchIndex = kUnvoicedPitchIndex;
}

} // namespace vntr::vt15
