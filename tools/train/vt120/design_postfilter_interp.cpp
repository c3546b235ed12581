// Designs the 16-tap fractional-delay filters of the VT120 pitch post-filter
// and writes them as the generated table codebooks/postfilter_interp16.inc:
// Hamming-windowed sinc rows (see tools/train/common/fractional_delay.hpp),
// which make row p and row 8 - p mirror images.  The design must reproduce
// the rows the coded format fixes, to the decimals it gives them with - every
// row of the 4-tap table (which the decoder keeps at those rounded values) and
// row 4 of the 16-tap table - or nothing is written.
#include "fractional_delay.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

const std::vector<vntr::train::PublishedRow> kPublished = {
    {4, 1, {-0.00577, 0.08767, 0.96588, -0.04875}},
    {4, 2, {-0.01479, 0.21489, 0.86879, -0.06554}},
    {4, 3, {-0.02851, 0.37433, 0.72342, -0.06083}},
    {4, 4, {-0.04557, 0.55085, 0.55085, -0.04557}},
    {4, 5, {-0.06083, 0.72342, 0.37433, -0.02851}},
    {4, 6, {-0.06554, 0.86879, 0.21489, -0.01479}},
    {4, 7, {-0.04875, 0.96588, 0.08767, -0.00577}},
    {16,
     4,
     {-0.00377, 0.00771, -0.01646, 0.03185, -0.05727, 0.10129, -0.19576, 0.63099, 0.63099, -0.19576, 0.10129, -0.05727,
      0.03185, -0.01646, 0.00771, -0.00377}},
};

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Designs the VT120 post-filter's 16-tap fractional-delay table"};
    std::string outDir = "codecs/vt120/codebooks";
    app.add_option("--out", outDir, "folder of the generated table");
    CLI11_PARSE(app, argc, argv);

    if (!vntr::train::ReproducesPublished(kPublished)) return 1;
    const std::string command = "vt120_design_postfilter_interp --out " + outDir;
    if (!vntr::train::WriteFractionalDelayTable(outDir + "/postfilter_interp16.inc", 16,
                                                "tools/train/vt120/design_postfilter_interp.cpp", command)) {
        std::fprintf(stderr, "cannot write the table under %s\n", outDir.c_str());
        return 1;
    }
    std::printf("the format's fixed rows reproduced; table written to %s\n", outDir.c_str());
    return 0;
}
