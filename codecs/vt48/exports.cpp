// The library's named exports and ordinal table (ordinals 3 and 6 are one close).
#include "engine.hpp"

VNTR_DEFINE_CODEC_EXPORTS(vltr48, vntr::vt48::Engine)
