#include "tables.hpp"

#include <array>

namespace vntr::vt15 {
namespace {

// Taps 0..16 of each band filter; taps 17..32 mirror taps 15..0.
constexpr float kBandHalves[kBands][17] = {
    {0.0f, -0.0030289f, -0.00701117f, -0.01130619f, -0.01494082f, -0.01672586f, -0.01544189f, -0.01006619f, 0.0f,
     0.01474923f, 0.03347158f, 0.05477206f, 0.0767089f, 0.09703726f, 0.11352143f, 0.12426379f, 0.12799355f},
    {0.0f, -0.0024942f, -0.00282091f, 0.00257679f, 0.01451271f, 0.0286812f, 0.03621179f, 0.02784469f, 0.0f, -0.0407987f,
     -0.07849207f, -0.09392213f, -0.07451087f, -0.02211575f, 0.04567473f, 0.10232715f, 0.12432599f},
    {0.0f, -0.00231491f, 0.00990113f, 0.02086129f, 0.0f, -0.03086123f, -0.02180695f, 0.00769333f, 0.0f, -0.01127245f,
     0.04726837f, 0.10106105f, 0.0f, -0.17904542f, -0.16031428f, 0.09497157f, 0.25562155f},
    {0.0f, 0.00231491f, 0.00990113f, -0.02086129f, 0.0f, 0.03086123f, -0.02180695f, -0.00769333f, 0.0f, 0.01127245f,
     0.04726837f, -0.10106105f, 0.0f, 0.17904542f, -0.16031428f, -0.09497157f, 0.25562155f},
    {0.0f, 0.00554149f, -0.0098175f, 0.00856805f, 0.0f, -0.01267517f, 0.02162277f, -0.01841647f, 0.0f, 0.02698425f,
     -0.04686914f, 0.0415073f, 0.0f, -0.07353666f, 0.15896025f, -0.22734512f, 0.25346255f},
};

constexpr BandFilterBank Mirror() {
    BandFilterBank full{};
    for (int b = 0; b < kBands; ++b) {
        for (int k = 0; k < kShapingTaps; ++k) full[b][k] = kBandHalves[b][k <= 16 ? k : 32 - k];
    }
    return full;
}

constexpr std::array<float, kDispersionTaps> kDispersion = {
    -0.1730426f,  -0.01405709f, 0.01224406f,  0.11364226f,  0.00198199f,  0.00000658f,  0.04529633f,  -0.00092027f,
    -0.00103078f, 0.02552787f,  -0.06339257f, -0.00122031f, 0.01412525f,  0.24325126f,  -0.01767043f, -0.00018612f,
    0.05869485f,  -0.00327456f, 0.00607395f,  0.02753924f,  -0.03351673f, 0.00602189f,  0.01436539f,  0.8285458f,
    0.00033165f,  -0.0036018f,  0.07343483f,  -0.00518645f, 0.01298488f,  0.0292844f,   -0.01989405f, 0.01216758f,
    0.01180979f,  -0.38924775f, 0.00720325f,  -0.01154561f, 0.08426287f,  -0.0035572f,  0.02151233f,  0.02968464f,
    -0.0124764f,  0.01854666f,  0.00076184f,  -0.0774964f,  0.01244697f,  -0.02721777f, 0.07266098f,  0.00472008f,
    0.03526439f,  0.02674603f,  -0.00744038f, 0.02582623f,  0.00019707f,  -0.02825247f, 0.01720989f,  -0.06004292f,
    -0.07076744f, 0.00914347f,  0.0608273f,   0.01805528f,  -0.00318634f, 0.0344411f,   0.00026302f,  -0.01053809f,
    0.02165922f,
};

constexpr std::array<float, kDispersionTaps> Reversed(const std::array<float, kDispersionTaps> &taps) {
    std::array<float, kDispersionTaps> out{};
    for (int k = 0; k < kDispersionTaps; ++k) out[k] = taps[kDispersionTaps - 1 - k];
    return out;
}

} // namespace

const BandFilterBank kBandFilters = Mirror();
const std::array<float, kDispersionTaps> kDispersionFilter = kDispersion;
const std::array<float, kDispersionTaps> kDispersionFilterReversed = Reversed(kDispersion);

} // namespace vntr::vt15
