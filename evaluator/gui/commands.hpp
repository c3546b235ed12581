// Command identifiers of the window's menu (VTBENCHMENU) and buttons.  The
// numbers are the program's own: menus, buttons and tests name commands by them.
#pragma once

namespace vntr::gui {

enum Command : int {
    kCmdOpen = 256,
    kCmdRecord = 257,
    kCmdSaveRecording = 258,
    kCmdProcess = 259,
    kCmdLoadSession = 260,
    kCmdSaveSession = 261,
    kCmdExit = 262,
    kCmdSelectCodecs = 263,
    kCmdRecordSettings = 264,
    kCmdLoopPlay = 265,
    kCmdHelpContents = 272,
    kCmdHelpOnHelp = 274,
    kCmdAbout = 275,
    kCmdSignalView = 276,     // waveforms, spectrograms and A/B listening
    kCmdCompareCodecs = 277,  // the comparison table and the rate against quality plot
    kCmdExternalScorer = 278, // a quality tool of the user's run on each pair

    kBtnRecord = 768,
    kBtnOpen = 769,
    kBtnProcess = 770,
    kBtnBreak = 771,
    kBtnPlayOriginal = 784,
    kBtnPlayRow0 = 785, // + display row
    kBtnSaveRecording = 848,
    kBtnSaveRow0 = 849, // + display row
};

constexpr int kMaxRows = 20;

constexpr bool IsPlayRowButton(int id) {
    return id >= kBtnPlayRow0 && id < kBtnPlayRow0 + kMaxRows;
}
constexpr bool IsSaveRowButton(int id) {
    return id >= kBtnSaveRow0 && id < kBtnSaveRow0 + kMaxRows;
}

} // namespace vntr::gui
