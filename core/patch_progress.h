#pragma once
// A patch run's progress as the engine reports it and the window draws it: a plain value,
// copied freely between threads. Window texts are wide, as everywhere in the launcher.

#include <cstdint>
#include <string>

namespace korvel {

// What a run is doing. The engine never reports NotStarted; the window shows it before the
// first run.
enum class PatchStage : std::int32_t {
    NotStarted = 0,
    CheckingVersion = 1,
    FetchingManifest = 2,
    Verifying = 3,
    Downloading = 4,
    Finalizing = 5,
    Done = 6,
    UpdatingLauncher = 7,
    Failed = 8,
};

// One progress report. The engine keeps a single instance per run and hands it to the
// callback by reference after each change; a receiver keeps a copy if it needs one.
// The initial values are those of the first report of a run.
struct PatchProgress {
    PatchStage stage = PatchStage::CheckingVersion;
    std::wstring title = L"Verzió ellenőrzése";
    std::wstring detail = L"Kapcsolódás a Korvel2 frissítési szerverhez...";
    std::wstring current_file;        // manifest path of the file in hand, empty when none
    std::uint64_t files_total = 0;    // of the current stage
    std::uint64_t files_done = 0;
    std::uint64_t bytes_done = 0;     // of the file being downloaded
    std::uint64_t bytes_total = 0;
    double speed = 0.0;               // bytes per second
    double eta = -1.0;                // seconds left; -1.0 means unknown
    std::int32_t percent = 0;         // 0..100, of the current stage
};

}  // namespace korvel
