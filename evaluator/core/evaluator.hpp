// The evaluator's core: the codec slots, the current original, the
// processing pipeline, discovery and preferences, sessions and the
// temporary files, behind the Frontend interface.  No GUI dependency.
#pragma once

#include "alignment.hpp"
#include "codec_slot.hpp"
#include "external_scorer.hpp"
#include "frontend.hpp"
#include "temp_files.hpp"
#include "wavefile.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vntr::evaluator {

enum class DisplayState { Idle = 0, Results = 1, Processing = 2, Recording = 3 };

struct EvaluatorConfig {
    std::string systemRoot;     // empty: the platform's system root
    std::string tempDir;        // empty: the per-user temporary folder
    bool measureQuality = true; // SNR, segmental SNR, spectral distance and ViSQOL after each decode
    bool measureVisqol = true;  // with measureQuality: the ViSQOL score too (it takes most of the time)
    // A user's own quality tool run on each pair after the other measures
    // (shared by the workers of a run, which count its failures together).
    // The window keeps its command among the preferences.
    std::shared_ptr<ExternalScorer> scorer;
    // The user's per-codec preferences (selection, voice activity, rate):
    // read at start-up, written back at shutdown.  A batch run reads them
    // only when asked to and never writes them.
    bool readPreferences = true;
    bool savePreferences = true;
    // A codec given less than one of its frames codes nothing: with this set
    // it is not run ("shorter than one frame") instead of failing to decode
    // an empty coded file.
    bool skipShortOriginals = false;
    // One alignment per codec mode: with a table, a codec's decoded files are
    // compared at the lag found once from a calibration signal the codec
    // codes (kept in the table, which the workers of a run share) instead of
    // at each file's own highest cross-correlation.
    std::shared_ptr<AlignmentTable> alignments;
};

class Evaluator {
public:
    explicit Evaluator(Frontend &ui, EvaluatorConfig config = {});
    ~Evaluator();
    Evaluator(const Evaluator &) = delete;
    Evaluator &operator=(const Evaluator &) = delete;

    // ---- Start-up and shutdown ----------------------------------------------
    // Finds the temporary folder, deletes leftovers, discovers the codecs and
    // restores the preferences.  False when there is no temporary folder.
    bool Startup();
    // Writes the preferences, deletes the temporary files, unloads the codecs.
    void Shutdown();

    // ---- Discovery and preferences -------------------------------------------
    uint16_t DiscoverCodecs();
    void SavePreferences();
    // The external scorer's command ("" for none); false with the reason in
    // `error`, the scorer unchanged, for a command that cannot be used.
    const std::string &ScorerCommand() const { return scorerCommand_; }
    bool SetScorerCommand(const std::string &command, std::string &error);
    void UnloadCodecs();

    // ---- The original ---------------------------------------------------------
    // Opens an original: checks it, deletes the temporary files, clears and
    // matches every selected codec.  False (with its message shown) on
    // failure, which leaves the previous original, its results and the
    // display state as they were (a recording in progress is abandoned).
    bool OpenOriginalFile(const std::string &path);
    // The original was copied under another name and lives there from now on.
    void MoveOriginal(const std::string &path);

    // ---- Which codecs run, and in which options ---------------------------------
    // What a front end changes of the codecs, each named by its slot index
    // (0 to SlotCount() - 1); a change applies from the next run.
    // The index of the codec registered as `name`; -1 when none is.
    int FindCodec(const std::string &name) const;
    // Replaces the selection (`selected[i]` for the codec of index i; those
    // beyond its end are deselected): clears the deselected codecs' results
    // and matches the selected ones to the current original.
    void ApplySelection(const std::vector<bool> &selected);
    // Whether the codec of `index` is selected; false for an index without a codec.
    bool IsSelected(std::size_t index) const;
    // The options the codec offers (its CodecInfo optionMask); 0 for an index without a codec.
    uint32_t OfferedOptions(std::size_t index) const;
    // The option word the codec's encoder opens with (its decoder's is the
    // same); 0 for an index without a codec.
    uint32_t CodecOptions(std::size_t index) const;
    // Sets the option word of the codec's encoder and, with it, its
    // decoder's.  The word is kept as it is given: a bit the codec does not
    // offer (a stored preference may hold one) reaches the codec, which
    // refuses to open with it and says so when the codec runs.  False, with
    // nothing changed, for an index without a codec.
    bool SetCodecOptions(std::size_t index, uint32_t options);

    // ---- Recording a new original (front ends with a sound card) ---------------
    // A recording has started: the temporary files go (a temporary original
    // with them), the selected codecs' results are cleared, the state is
    // recording.  The recorded file is then opened with OpenOriginalFile.
    void BeginRecording();
    // No recorded file came of it: back to idle, the selected codecs matched
    // again to the original that is left, if any.
    void AbandonRecording();

    // ---- Processing ---------------------------------------------------------------
    void ProcessSelectedCodecs();
    void ProcessCodec(std::size_t index);
    // The lag at which `slot`'s codec, in its options and processing format,
    // is compared: from the alignment table, or found by coding the
    // calibration signal once.  Nothing without a table or when the
    // calibration run fails.
    std::optional<int> AlignmentFor(CodecSlot &slot);
    // Runs the external scorer on the pair and puts its score in the slot's quality.
    void ScoreExternally(const std::string &inputPath, const std::string &decodedPath, CodecSlot &slot);
    // The table's key for a slot: name, options and processing format.
    static std::string AlignmentKey(const CodecSlot &slot);
    bool EncodePass(const std::string &inputPath, const std::string &codedPath, CodecSlot &slot);
    bool DecodePass(const std::string &codedPath, const std::string &decodedPath, CodecSlot &slot);
    // Display rows by bit rate (ties keep slot order); playing flags cleared.
    void OrderResults();
    // The break question; Yes sets the cancel flag.
    bool ConfirmCancel();
    void RequestCancel() { cancel_ = true; }
    bool Cancelled() const { return cancel_; }

    // ---- Sessions --------------------------------------------------------------------
    bool SaveSession(const std::string &path);
    bool OpenSession(const std::string &path);

    // ---- State -----------------------------------------------------------------------
    SlotTable &Slots() { return slots_; }
    const SlotTable &Slots() const { return slots_; }
    uint16_t SlotCount() const { return slotCount_; }
    uint16_t SelectedCount() const { return selectedCount_; }
    const OriginalFile &Original() const { return original_; }
    // The name shown for the original: the stored name of a session's
    // original, else the file name.
    std::string OriginalDisplayName() const;
    bool OriginalFromSession() const { return fromSession_; }
    bool UnsavedSession() const { return unsavedSession_; }
    // The comparison on screen no longer counts as unsaved (the codec choice changed).
    void ForgetUnsavedSession() { unsavedSession_ = false; }
    DisplayState State() const { return state_; }
    const TempFiles &Temp() const { return temp_; }
    const std::string &SystemRootPath() const { return config_.systemRoot; }
    const EvaluatorConfig &Config() const { return config_; }
    // Index of the slot being processed, -1 when none.
    int CurrentSlot() const { return currentSlot_; }
    ProgressLines Progress() const;

private:
    void Error(const std::string &text);
    void CodecError(const CodecSlot &slot, const std::string &text);
    void Pump();
    void ShowProgressNow();
    void AssignRowsInSlotOrder();
    void ClearOriginal();
    // Matching again after results were cleared; its messages were shown before.
    void MatchCodecQuietly(CodecSlot &slot);
    bool ReadSessionCodecs(class SessionReader &reader);

    Frontend &ui_;
    EvaluatorConfig config_;
    std::string scorerCommand_;
    TempFiles temp_;
    SlotTable slots_;
    uint16_t slotCount_ = 0;
    uint16_t selectedCount_ = 0;
    OriginalFile original_;
    std::string sessionOriginalName_;
    bool fromSession_ = false;
    bool downsampleMade_ = false;
    bool unsavedSession_ = false;
    bool cancel_ = false;
    DisplayState state_ = DisplayState::Idle;
    int currentSlot_ = -1;
    std::string statusText_;
    uint64_t lastProgressMs_ = 0;
    // The measures' transforms and buffers, kept from one codec and one
    // original to the next.
    CompareWorkspace compare_;
};

} // namespace vntr::evaluator
