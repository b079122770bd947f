// The launcher's own update inside a patch run, and the decision behind it.

#include "tests/patcher/engine_fixture.h"

#include "patcher/launcher_update.h"
#include "platform/files.h"
#include "platform/sha256.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::read_file;
using korvel::test::sha256_hex;
using korvel::test::write_file;

namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

}  // namespace

TEST_F(EngineTest, OfferEqualToTheRunningLauncherPatchesTheGame) {
    // The running program stands in for the launcher; its hash in upper case still matches.
    std::string const own = upper(sha256_file(exe_path()));
    publish({{"a.bin", {"a"}}}, {}, "1.2.3",
            LauncherUpdate{"9.9.9", server.url("launcher/davari.exe"), own});
    PatchResult const result = run();
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.staged_launcher.has_value());
    EXPECT_EQ(game_file("a.bin"), "a");
    EXPECT_TRUE(server.requests("launcher/davari.exe").empty());
    EXPECT_TRUE(reports_of(PatchStage::UpdatingLauncher).empty());
}

TEST_F(EngineTest, DifferentLauncherIsStagedAndTheGameLeftAlone) {
    std::string const new_launcher = korvel::test::random_bytes(3 << 20, 11);
    server.put("launcher/davari.exe", new_launcher);
    publish({{"a.bin", {"a"}}}, {}, "1.2.3",
            LauncherUpdate{"2.0.0",  // older text: the hash decides, not the version
                           server.url("launcher/davari.exe"), upper(sha256_hex(new_launcher)), new_launcher.size()});
    // A copy left by an earlier run is replaced.
    write_file(game(".korvel_update/davari.new.exe"), "stale");

    PatchResult const result = run();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.client_version, "");
    ASSERT_TRUE(result.staged_launcher.has_value());
    EXPECT_EQ(result.staged_launcher->offer.version, "2.0.0");
    EXPECT_EQ(result.staged_launcher->offer.sha256, sha256_hex(new_launcher));
    EXPECT_EQ(result.staged_launcher->offer.size, new_launcher.size());
    EXPECT_EQ(result.staged_launcher->path, game(".korvel_update/davari.new.exe"));
    EXPECT_EQ(read_file(result.staged_launcher->path), new_launcher);
    EXPECT_FALSE(fs::exists(game(".korvel_update/davari.new.exe.part")));

    // UpdatingLauncher is the last report; the game files were not looked at.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().stage, PatchStage::UpdatingLauncher);
    EXPECT_TRUE(reports_of(PatchStage::FetchingManifest).empty());
    EXPECT_TRUE(server.requests("manifest.json").empty());
    EXPECT_FALSE(fs::exists(game("a.bin")));
    EXPECT_FALSE(fs::exists(config().version_file));

    auto const staged = reports_of(PatchStage::UpdatingLauncher);
    EXPECT_EQ(staged.front().title, L"Launcher frissítés letöltése");
    EXPECT_EQ(staged.front().detail, L"Jelenlegi fájl: davari.exe");
    EXPECT_EQ(staged.front().current_file, L"davari.exe");
    EXPECT_EQ(staged.back().bytes_done, new_launcher.size());
    EXPECT_EQ(staged.back().percent, 100);
    for (size_t i = 1; i < staged.size(); ++i) EXPECT_EQ(staged[i].bytes_total, new_launcher.size());
}

TEST_F(EngineTest, WrongLauncherFileFailsAndIsRemoved) {
    server.put("launcher/davari.exe", "not the launcher");
    publish({}, {}, "1.2.3",
            LauncherUpdate{"3.0", server.url("launcher/davari.exe"), std::string(64, 'a')});
    EXPECT_EQ(run_failing(), "A launcher frissítés SHA-256 ellenőrzése sikertelen.");
    EXPECT_EQ(reports.back().stage, PatchStage::Failed);
    EXPECT_FALSE(fs::exists(game(".korvel_update/davari.new.exe.part")));
    EXPECT_FALSE(fs::exists(game(".korvel_update/davari.new.exe")));
    EXPECT_EQ(server.requests("launcher/davari.exe").size(), 1u);  // one attempt only
}

TEST_F(EngineTest, LauncherWithoutSizeTakesTheServersLength) {
    std::string const new_launcher(100000, 'L');
    server.put("launcher/davari.exe", new_launcher);
    publish({}, {}, "1.2.3",
            LauncherUpdate{"3.0", server.url("launcher/davari.exe"), sha256_hex(new_launcher)});
    ASSERT_TRUE(run().staged_launcher.has_value());
    EXPECT_EQ(reports.back().bytes_total, new_launcher.size());
    // Still bounded: an answer announcing more than 1 GiB is refused before it is read.
    server.set_fault("launcher/davari.exe", {.content_length = std::to_string((1ull << 30) + 1)});
    std::string const refused = run_failing();
    EXPECT_TRUE(refused.starts_with("Download larger than 1073741824 bytes: ")) << refused;
}

TEST(LauncherUpdate, VersionsAreComparedOnlyWhenTheLauncherCannotBeHashed) {
    korvel::test::TempDir dir("launcher");
    LauncherUpdate offer;
    offer.sha256 = std::string(64, '0');
    fs::path const missing = dir / "davari.exe";  // cannot be opened

    struct Case {
        char const* offered;
        bool needed;
    } const cases[] = {
        {"2.2", true}, {"2.1.0.1", true}, {"2.1", false}, {"v2.1.0", false}, {"2.0.9", false},
        {"10.0", true}, {"", false}, {"2.1.0-beta", false},
    };
    for (auto const& c : cases) {
        offer.version = c.offered;
        EXPECT_EQ(launcher_update_needed(offer, "2.1.0", missing), c.needed) << c.offered;
    }

    // A readable launcher decides by hash alone, whatever the versions say.
    write_file(missing, "launcher bytes");
    offer.version = "1.0";
    offer.sha256 = sha256_hex("launcher bytes");
    EXPECT_FALSE(launcher_update_needed(offer, "2.1.0", missing));
    offer.sha256 = sha256_hex("other bytes");
    EXPECT_TRUE(launcher_update_needed(offer, "2.1.0", missing));
}

TEST(LauncherUpdate, VersionGreater) {
    struct Case {
        char const* offered;
        char const* current;
        bool greater;
    } const cases[] = {
        {"2.1.1", "2.1.0", true}, {"2.1.0", "2.1.0", false}, {"2.1", "2.1.0", false}, {"2.10", "2.9", true},
        {"3", "2.99.99", true},   {"", "", false},           {"abc", "", false},      {"1.0", "", true},
        {"r7", "r12", false},     {"0.0.0", "", false},
    };
    for (auto const& c : cases) EXPECT_EQ(version_greater(c.offered, c.current), c.greater) << c.offered << " vs " << c.current;
}
