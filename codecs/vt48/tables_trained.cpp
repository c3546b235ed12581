// The even-LSF tables, included from the generated file in codebooks/ (it
// names the tool and the command that made it).
#include "tables.hpp"

namespace vntr::vt48 {

constinit const EvenLsfTables kEvenLsf{{{
#include "codebooks/even_lsf.inc"
}}};

} // namespace vntr::vt48
