// The library's named exports and ordinal table.
#include "engine.hpp"

VNTR_DEFINE_CODEC_EXPORTS(vltr15, vntr::vt15::Engine)
