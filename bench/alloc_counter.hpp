// Counts every operator new in the process (the codec libraries included,
// since the program's operator new takes precedence over the runtime's), so
// that a benchmark can show that a frame allocates nothing.
#pragma once

#include <cstdint>

namespace vntr::bench {
uint64_t AllocationCount();
}
