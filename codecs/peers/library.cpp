// The source of every peer library: the build names the family's header, the
// mode type and the export prefix (codecs/peers/CMakeLists.txt).
#include VNTR_PEER_HEADER

VNTR_PEER_EXPORTS(VNTR_PEER_PREFIX, ::vntr::peers::PeerEngine<::vntr::peers::VNTR_PEER_MODE>)
