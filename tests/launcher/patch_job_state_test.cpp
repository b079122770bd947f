// The patch job's bookkeeping without a window: each event changes the shown state by
// its rule, and records of an earlier job change nothing.

#include "launcher/patch_job_state.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using korvel::PatchJobState;
using korvel::PatchStage;
using Next = PatchJobState::Next;

korvel::PatchOutcome checked(char const* version) {
    korvel::PatchOutcome outcome;
    outcome.result.ok = true;
    outcome.result.client_version = version;
    return outcome;
}

korvel::PatchOutcome failed(wchar_t const* text) {
    korvel::PatchOutcome outcome;
    outcome.error_message = text;
    return outcome;
}

korvel::PatchProgress report(PatchStage stage) {
    korvel::PatchProgress progress;
    progress.stage = stage;
    return progress;
}

TEST(PatchJobState, EachEventChangesTheShownStateByItsRule) {
    struct Case {
        char const* name;
        std::function<void(PatchJobState&)> events;
        bool running, play_ready;
        PatchStage stage;
        wchar_t const* title;
        std::uint64_t job;
    };
    korvel::PatchOutcome staged;
    staged.result.staged_launcher = korvel::StagedLauncher{};
    Case const cases[] = {
        {"a check starts", [](PatchJobState& s) { EXPECT_EQ(s.start(false), 1u); },
         true, false, PatchStage::NotStarted, L"Frissítések keresése", 1},
        {"no second job while one runs", [](PatchJobState& s) { s.start(true); EXPECT_EQ(s.start(true), std::nullopt); },
         true, false, PatchStage::NotStarted, L"Teljes javítás indítása", 1},
        {"the checked game offers Play",
         [](PatchJobState& s) { s.start(false); EXPECT_EQ(s.finish(1, checked("2.1")), Next::Redraw); },
         false, true, PatchStage::NotStarted, L"Frissítések keresése", 1},
        {"a failed outcome shows its text",
         [](PatchJobState& s) { s.start(false); EXPECT_EQ(s.finish(1, failed(L"HTTP 404")), Next::Redraw); },
         false, false, PatchStage::Failed, L"Frissítési hiba", 1},
        {"a failed report ends the job before its outcome",
         [](PatchJobState& s) { s.start(false); EXPECT_TRUE(s.report(1, report(PatchStage::Failed))); },
         false, false, PatchStage::Failed, L"Verzió ellenőrzése", 1},
        {"an earlier job's records are dropped",
         [](PatchJobState& s) {
             s.start(false), s.report(1, report(PatchStage::Failed)), s.start(true);
             EXPECT_FALSE(s.report(1, report(PatchStage::Done)));
             EXPECT_EQ(s.finish(1, checked("1")), Next::Drop);
         },
         true, false, PatchStage::NotStarted, L"Teljes javítás indítása", 2},
        {"a staged launcher is handed off",
         [&](PatchJobState& s) { s.start(false); EXPECT_EQ(s.finish(1, staged), Next::HandOff); },
         false, false, PatchStage::NotStarted, L"Frissítések keresése", 1},
        {"requests wait for the dialog; a repair outranks a check",
         [](PatchJobState& s) {
             s.dialog_opened();
             EXPECT_EQ(s.start(true), std::nullopt);
             EXPECT_EQ(s.start(false), std::nullopt);
             EXPECT_EQ(s.dialog_closed(), true);
             EXPECT_EQ(s.dialog_closed(), std::nullopt);  // handed back once
         },
         false, false, PatchStage::NotStarted, L"", 0},
        {"a job that cannot start shows as failed",
         [](PatchJobState& s) { s.start(false), s.fail(L"Nem sikerült elindítani a frissítést."); },
         false, false, PatchStage::Failed, L"Frissítési hiba", 1},
    };
    for (Case const& c : cases) {
        korvel::WindowState shown;
        PatchJobState state(shown);
        c.events(state);
        EXPECT_EQ(shown.patch_running, c.running) << c.name;
        EXPECT_EQ(shown.play_ready, c.play_ready) << c.name;
        EXPECT_EQ(shown.progress.stage, c.stage) << c.name;
        EXPECT_EQ(shown.progress.title, c.title) << c.name;
        EXPECT_EQ(state.current_job(), c.job) << c.name;
    }
}

}  // namespace
