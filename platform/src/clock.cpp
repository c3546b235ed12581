#include <vntr/platform/clock.hpp>

#include <ctime>

namespace vntr::platform {

namespace {

uint32_t Micros(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    const uint64_t micros = static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
    return static_cast<uint32_t>(micros);
}

} // namespace

uint32_t TimeStamp() {
    return Micros(CLOCK_MONOTONIC);
}

uint32_t ThreadTimeStamp() {
    return Micros(CLOCK_THREAD_CPUTIME_ID);
}

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

} // namespace vntr::platform
