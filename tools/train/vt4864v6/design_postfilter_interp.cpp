// Designs the fractional-delay filters of the VT4864v6 pitch post-filter and
// writes them as the generated tables codebooks/postfilter_interp4.inc and
// codebooks/postfilter_interp16.inc: Hamming-windowed sinc rows (see
// tools/train/common/fractional_delay.hpp).  The tool refuses to write tables
// whose fixed rows (phases 1, 4 and 7 of the 4-tap filter, phases 1 and 7
// of the 16-tap filter) differ from the values the decoder's format fixes, to
// the decimals it gives them with.
#include "fractional_delay.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

const std::vector<vntr::train::PublishedRow> kPublished = {
    {4, 1, {-0.005772, 0.087669, 0.965882, -0.048753}},
    {4, 4, {-0.045567, 0.550847, 0.550847, -0.045567}},
    {4, 7, {-0.048753, 0.965882, 0.087669, -0.005772}},
    {16,
     1,
     {-0.001246, 0.0022, -0.004791, 0.009621, -0.017685, 0.031212, -0.057225, 0.13547, 0.973955, -0.103495, 0.048663,
      -0.02709, 0.01528, -0.00816, 0.003961, -0.001827}},
    {16,
     7,
     {-0.001827, 0.003961, -0.00816, 0.01528, -0.02709, 0.048663, -0.103495, 0.973955, 0.13547, -0.057225, 0.031212,
      -0.017685, 0.009621, -0.004791, 0.0022, -0.001246}},
};

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Designs the VT4864v6 post-filter's fractional-delay tables"};
    std::string outDir = "codecs/vt4864v6/codebooks";
    app.add_option("--out", outDir, "folder of the generated tables");
    CLI11_PARSE(app, argc, argv);

    if (!vntr::train::ReproducesPublished(kPublished)) return 1;
    const std::string tool = "tools/train/vt4864v6/design_postfilter_interp.cpp";
    const std::string command = "vt4864v6_design_postfilter_interp --out " + outDir;
    if (!vntr::train::WriteFractionalDelayTable(outDir + "/postfilter_interp4.inc", 4, tool, command) ||
        !vntr::train::WriteFractionalDelayTable(outDir + "/postfilter_interp16.inc", 16, tool, command)) {
        std::fprintf(stderr, "cannot write the tables under %s\n", outDir.c_str());
        return 1;
    }
    std::printf("the format's fixed rows reproduced; tables written to %s\n", outDir.c_str());
    return 0;
}
