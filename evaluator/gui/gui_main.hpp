// vtbench32's window: started when the program runs without --batch.
#pragma once

namespace vntr::gui {

// Opens the window and runs until it closes; the first argument, when
// given, names a session file that is opened after start-up.  A second copy
// started while one runs ends at once with status 0.
int Run(int argc, char **argv);

} // namespace vntr::gui
