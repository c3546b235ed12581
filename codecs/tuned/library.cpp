// The source of every tuned library: the build names its header, its record
// and its export prefix (codecs/tuned/CMakeLists.txt).
#include VNTR_TUNED_HEADER

// The prefix is expanded before it is pasted onto the export names.
#define VNTR_TUNED_EXPORTS(PREFIX, ENGINE) VNTR_DEFINE_CODEC_EXPORTS(PREFIX, ENGINE)

VNTR_TUNED_EXPORTS(VNTR_TUNED_PREFIX, ::vntr::tuned::TunedEngine<::vntr::tuned::VNTR_TUNED_RECORD>)
