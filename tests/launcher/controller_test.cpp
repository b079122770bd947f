// The patch job's worker, in this process.

#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "launcher/patch_job.h"
#include "platform/sha256.h"
#include "platform/unique_handle.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <thread>

namespace fs = std::filesystem;
namespace test = korvel::test;

namespace {

struct JobSeen {
    std::unique_ptr<korvel::PatchOutcome> outcome;
    std::vector<korvel::PatchProgress> reports;
};

// Runs one job as the launcher does, but the window takes nothing while it runs: what is
// queued at its end is all the window would see.
JobSeen run_worker(korvel::PatchConfig const& config) {
    test::OwnerWindow window;
    std::thread(korvel::patch_worker, config, false, window.get(), 0).join();
    JobSeen seen;
    MSG message;
    while (::PeekMessageW(&message, window.get(), korvel::WM_PATCH_PROGRESS, korvel::WM_PATCH_DONE, PM_REMOVE)) {
        if (message.message == korvel::WM_PATCH_PROGRESS) seen.reports.push_back(*korvel::take_patch_progress(message.lParam));
        if (message.message == korvel::WM_PATCH_DONE) seen.outcome = korvel::take_patch_outcome(message.lParam);
    }
    return seen;
}

korvel::PatchConfig config_for(test::ServedFolder const& server, test::TempDir const& dir) {
    korvel::PatchConfig config;
    config.game_dir = dir / "game";
    config.version_file = dir / ".korvel" / "client.version";
    config.hash_cache_file = dir / ".korvel" / "hash_cache.json";
    config.version_url = server.url("version.json");
    return config;
}

}  // namespace

TEST(PatchWorker, KeepsOneProgressMessageInFlightCarryingTheNewestReport) {
    test::ServedFolder server("worker");
    test::TempDir dir("worker");
    nlohmann::json manifest = {{"base_url", server.url("files/")}, {"files", nlohmann::json::array()}};
    for (int i = 0; i < 50; ++i) {
        std::string const name = std::to_string(i) + ".bin";
        server.put("files/" + name, name);
        manifest["files"].push_back({{"path", name}, {"size", name.size()}, {"sha256", test::sha256_hex(name)}});
    }
    server.put("manifest.json", manifest.dump());
    server.put("version.json", nlohmann::json{{"version", "1"}, {"manifest_url", server.url("manifest.json")}}.dump());

    auto const [outcome, reports] = run_worker(config_for(server, dir));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].stage, korvel::PatchStage::Done);
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->result.ok);
    EXPECT_EQ(outcome->result.client_version, "1");
}

TEST(PatchWorker, FailuresArriveAsTheOutcomeText) {
    test::ServedFolder server("worker");
    test::TempDir dir("worker");
    korvel::PatchConfig const config = config_for(server, dir);

    // A document with a raw byte that the JSON library quotes in its message.
    server.put("version.json", "{\"client_version\": \"\xff\xfe\"}");
    JobSeen const broken = run_worker(config);
    ASSERT_TRUE(broken.outcome);
    EXPECT_EQ(broken.outcome->error_message.rfind(L"[json.exception.parse_error.101]", 0), 0u);
    ASSERT_FALSE(broken.reports.empty());
    EXPECT_EQ(broken.reports.back().stage, korvel::PatchStage::Failed);

    // Another launcher patching the same game folder holds its lock.
    korvel::UniqueFile const lock(::CreateFileW((config.game_dir / ".korvel" / "patch.lock").c_str(), GENERIC_READ, 0,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    JobSeen const locked = run_worker(config);
    ASSERT_TRUE(locked.outcome);
    EXPECT_EQ(locked.outcome->error_message, korvel::k_patch_locked_text);
    EXPECT_FALSE(locked.outcome->result.ok);
    EXPECT_EQ(server.requests("version.json").size(), 1u);  // the second job fetched nothing
}
