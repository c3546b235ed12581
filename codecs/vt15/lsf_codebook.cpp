#include "lsf_codebook.hpp"

namespace vntr::vt15 {
namespace {

#include "codebooks/lsf_stages.inc"

constexpr LsfCodebook kDefault{{kLsfStage1, kLsfStage2, kLsfStage3, kLsfStage4, kLsfStage5, kLsfStage6}};

} // namespace

const LsfCodebook &DefaultLsfCodebook() {
    return kDefault;
}

} // namespace vntr::vt15
