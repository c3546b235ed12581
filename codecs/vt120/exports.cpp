// The library's named exports and ordinal table.
#include "engine.hpp"

VNTR_DEFINE_CODEC_EXPORTS(vltr120, vntr::vt120::Engine)
