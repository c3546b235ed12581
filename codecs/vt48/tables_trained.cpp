// The trained and designed tables, included from the generated files in
// codebooks/ (each names the tool and the command that made it).
#include "tables.hpp"

namespace vntr::vt48 {

constinit const EvenLsfTables kEvenLsf{{{
#include "codebooks/even_lsf.inc"
}}};

const float kInputFilter[kInputFilterTaps] = {
#include "codebooks/input_filter.inc"
};

} // namespace vntr::vt48
