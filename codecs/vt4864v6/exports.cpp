// The library's named exports and ordinal table.
#include "engine.hpp"

VNTR_DEFINE_CODEC_EXPORTS(vltr4864v6, vntr::vt4864v6::Engine)
