// vtbench32: the codec evaluator.  `--batch` runs the comparison on the
// command line; otherwise the desktop front end opens its window when it is
// built in (VNTR_BUILD_GUI), and the program prints its usage when it is not.
#include "cli/batch.hpp"

#ifdef VNTR_WITH_GUI
#include "gui/gui_main.hpp"
#endif

int main(int argc, char **argv) {
    if (vntr::cli::WantsBatch(argc, argv)) return vntr::cli::RunBatch(argc, argv);
#ifdef VNTR_WITH_GUI
    return vntr::gui::Run(argc, argv);
#else
    vntr::cli::PrintUsage(stderr);
    return 2;
#endif
}
