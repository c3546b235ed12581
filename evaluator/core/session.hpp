// Session files (".qbl"): the original wave file and the selected codecs,
// reopened to rerun a comparison.
//
// Layout, little-endian, no padding:
//   magic            31 bytes  "VNT QBL 5.00 Evaluator Session" and a zero
//   nameLength       u32       length of the original's name with its zero
//   name             nameLength bytes
//   originalSize     u32
//   original         originalSize bytes (the whole wave file)
//   codecCount       u16
//   codecCount times: codecId u16, nameLength u32, name (with its zero),
//                     one per selected codec that ran on the original
#pragma once

#include <cstddef>

namespace vntr::evaluator {

inline constexpr char kSessionMagic[] = "VNT QBL 5.00 Evaluator Session";
static_assert(sizeof kSessionMagic == 31);
// Names are kept in a buffer of this many bytes, zero included.
inline constexpr std::size_t kSessionNameBuffer = 260;

} // namespace vntr::evaluator
