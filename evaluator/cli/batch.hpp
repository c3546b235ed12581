// `vtbench32 --batch`: the whole comparison without a window.
#pragma once

#include <cstdio>

namespace vntr::cli {

// True when the command line asks for the batch front end.
bool WantsBatch(int argc, char **argv);
// Runs it in a temporary folder of its own, beside any other run and the
// window; the exit status is 0 when every codec ran, 1 when one failed or
// the original or session could not be used, 2 for a bad command line.
int RunBatch(int argc, char **argv);
void PrintUsage(std::FILE *out);

} // namespace vntr::cli
