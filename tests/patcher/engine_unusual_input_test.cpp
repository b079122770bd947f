// Patch runs against unusual input: a manifest that names one file twice, reaches a
// listed file through its delete list or lists the download suffix, an obsolete file
// marked read-only, a client.version held open, and a server that never answers; and
// the clamp of the shown percentage.

#include "tests/patcher/engine_fixture.h"

#include "patcher/download_progress.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cmath>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::read_file;
using korvel::test::write_file;

TEST_F(EngineTest, DeleteEntriesThatReachAListedFileAreSkipped) {
    std::string const accented = "\xC3\x81rv\xC3\xADz.txt";  // "Árvíz.txt"
    publish({{"a.txt", {"listed a"}}, {"data/b.bin", {"listed b"}}, {accented, {"listed c"}}},
            {"A.TXT", "data\\b.bin", "data//B.bin", "\xC3\xA1rv\xC3\xADz.txt", "old.bin"});
    put_game_file("old.bin", "obsolete");

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("a.txt"), "listed a");
    EXPECT_EQ(game_file("data/b.bin"), "listed b");
    EXPECT_EQ(game_file(accented), "listed c");
    EXPECT_FALSE(fs::exists(game("old.bin")));

    // The next run finds everything in place instead of fetching it all again.
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(reports.back().detail, L"Nem volt szükség letöltésre.");
    EXPECT_EQ(server.requests("files/a.txt").size(), 1u);
}

// A file listed thrice (two spellings) is fetched once; the launcher's state is left alone.
TEST_F(EngineTest, RepeatedPathsAreFetchedOnceAndStateFoldersAreLeftAlone) {
    publish({{"a.bin", {"alpha"}}});
    nlohmann::json manifest = nlohmann::json::parse(read_file(server.local("manifest.json")));
    nlohmann::json const a = manifest["files"][0];
    manifest["files"] = {a, a, a, a};
    manifest["files"][1]["path"] = "A.BIN";
    manifest["files"][3]["path"] = ".korvel/release.sequence";
    manifest["delete"] = {".korvel_update/davari.new.exe"};
    server.put("manifest.json", manifest.dump());
    put_game_file(".korvel/release.sequence", "9");
    put_game_file(".korvel_update/davari.new.exe", "staged");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(server.requests("files/a.bin").size() + server.requests("files/A.BIN").size(), 1u);
    EXPECT_EQ(game_file(".korvel/release.sequence") + game_file(".korvel_update/davari.new.exe"), "9staged");
}

TEST_F(EngineTest, ReadOnlyObsoleteFileIsRemoved) {
    publish({{"keep.bin", {"keep"}}}, {"old/readonly.bin"});
    put_game_file("old/readonly.bin", "from the disc");
    ASSERT_TRUE(::SetFileAttributesW(game("old/readonly.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(run().ok);
    EXPECT_FALSE(fs::exists(game("old/readonly.bin")));
    EXPECT_EQ(game_file("keep.bin"), "keep");
}

TEST_F(EngineTest, DownloadSuffixInTheManifestIsRefused) {
    publish({{"a", {"a"}}, {"a.Korvel.PART", {"b"}}});
    put_game_file("a.korvel.part", "the player's own file");
    EXPECT_EQ(run_failing(), "Érvénytelen manifest bejegyzés: a.Korvel.PART");
    EXPECT_EQ(game_file("a.korvel.part"), "the player's own file");
    EXPECT_FALSE(fs::exists(game("a")));
}

// Held open by another program, the version file keeps its old text; the run, which
// verified every file, still succeeds, and the next one writes it.
TEST_F(EngineTest, LockedVersionFileDoesNotFailTheRun) {
    publish({{"a.bin", {"a"}}});
    fs::path const version_file = config().version_file;
    write_file(version_file, "1.0");
    {
        UniqueFile holder(::CreateFileW(version_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_TRUE(run().ok);
        EXPECT_EQ(reports.back().stage, PatchStage::Done);
    }
    EXPECT_EQ(read_file(version_file), "1.0");
    EXPECT_TRUE(leftovers(L".tmp").empty());
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(read_file(version_file), "1.2.3");
}

// The share shown in the window, whatever quotient reaches it.
TEST(DownloadProgress, PercentIsClampedBeforeTheCast) {
    double const inputs[] = {-1e300, -0.5, 0.0, 42.9, 99.99, 100.0, 3e4, 1e300, std::nan("")};
    std::int32_t const shown[] = {0, 0, 0, 42, 99, 100, 100, 100, 0};
    for (size_t i = 0; i < std::size(inputs); ++i) EXPECT_EQ(percent_from(inputs[i]), shown[i]) << inputs[i];
}

// A server that accepts and then says nothing is left after 20 s (the stall time-out,
// which also bounds the wait for the response headers) and asked again; the server here
// would answer the first request only after 75 s.
TEST_F(EngineTest, ServerThatStopsAnsweringIsAskedAgainAfterTwentySeconds) {
    publish({{"a.bin", {"a"}}});
    server.set_attempts("version.json", {{.delay_ms = 75000}});
    ASSERT_TRUE(run().ok);
    std::vector<korvel::test::Request> const asked = server.requests("version.json");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked[1].time - asked[0].time, 20.0);
    EXPECT_LT(asked[1].time - asked[0].time, 25.0);
    EXPECT_EQ(game_file("a.bin"), "a");
}
