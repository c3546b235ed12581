// Registration table walker.  The registry store arrives with the platform
// layer; until then registration reports failure and unregistration is a no-op.
#include <vntr/codec_api.h>
#include <vntr/registration.hpp>

namespace vntr::registration {

int32_t Register(std::span<const KeyRecord>) { return CODEC_REG_E_FAIL; }
int32_t Unregister(std::span<const KeyRecord>) { return CODEC_REG_OK; }

} // namespace vntr::registration
