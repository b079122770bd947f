// The check reads each folder once instead of asking about every file by name. These
// are the cases where a folder's listing and a lookup by name could part ways; each
// must end as the lookup by name would have ended.

#include "tests/patcher/engine_fixture.h"

#include "patcher/hash_cache.h"
#include "platform/files.h"
#include "platform/unique_handle.h"

#include <windows.h>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;

namespace {

std::uint64_t downloads_listed(std::vector<PatchProgress> const& downloading) {
    return downloading.empty() ? 0 : downloading.front().files_total;
}

}  // namespace

TEST_F(EngineTest, NamesWhoseCaseDiffersFromTheManifest) {
    struct Case {
        char const* listed;
        char const* on_disk;
    };
    Case const cases[] = {
        {"Data/Maps/Map1.bin", "data/maps/MAP1.BIN"},
        {"readme.TXT", "README.txt"},
        {"\xC3\x81rv\xC3\xADz/T\xC5\xB1r\xC5\x91.bin", "\xC3\xA1RV\xC3\x8DZ/t\xC5\xB0R\xC5\x90.BIN"},  // Árvíz/Tűrő.bin
    };
    std::map<std::string, korvel::test::PublishedFile> files;
    for (Case const& c : cases) {
        files.emplace(c.listed, korvel::test::PublishedFile(std::string("content of ") + c.listed));
        put_game_file(c.on_disk, std::string("content of ") + c.listed);
    }
    publish(files);

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(downloads_listed(reports_of(PatchStage::Downloading)), 0u);
    HashCache const cache = load_hash_cache(config().hash_cache_file);
    for (Case const& c : cases) {
        ASSERT_EQ(cache.count(c.listed), 1u) << c.listed;
        EXPECT_EQ(cache.at(c.listed).modified, file_mtime(game(c.on_disk))) << c.listed;
    }

    // Held open by another program with no sharing: a quick check that trusted the cache
    // through the listing does not need to open them.
    std::vector<UniqueFile> holders;
    for (Case const& c : cases) {
        holders.emplace_back(::CreateFileW(game(c.on_disk).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holders.back()) << c.on_disk;
    }
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(downloads_listed(reports_of(PatchStage::Downloading)), 0u);
    EXPECT_TRUE(run_failing(true).starts_with("Cannot open file for SHA-256: "));
}

TEST_F(EngineTest, MissingFoldersAreDownloadedWhole) {
    publish({{"gone/a.bin", {"a"}}, {"gone/deeper/b.bin", {"b"}}, {"here/c.bin", {"c"}}, {"here/d.bin", {"d"}}});
    put_game_file("here/c.bin", "c");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(downloads_listed(reports_of(PatchStage::Downloading)), 3u);
    EXPECT_EQ(server.requests("files/here/c.bin").size(), 0u);
    for (char const* path : {"gone/a.bin", "gone/deeper/b.bin", "here/d.bin"})
        EXPECT_EQ(server.requests(std::string("files/") + path).size(), 1u) << path;
    EXPECT_EQ(game_file("gone/deeper/b.bin"), "b");
}

TEST_F(EngineTest, AFileWhereTheManifestsFolderShouldBe) {
    publish({{"blocker/x.bin", {"x"}}, {"ok.bin", {"ok"}}});
    put_game_file("blocker", "a file, not a folder");
    put_game_file("ok.bin", "ok");
    EXPECT_TRUE(run_failing().starts_with("Cannot create directory: "));
    EXPECT_EQ(downloads_listed(reports_of(PatchStage::Downloading)), 1u);
    EXPECT_EQ(server.requests("files/ok.bin").size(), 0u);
}

TEST_F(EngineTest, AFolderHoldingMoreThanTheManifestLists) {
    publish({{"data/keep.bin", {"keep"}}, {"data/stale.bin", {"fresh"}}});
    put_game_file("data/keep.bin", "keep");
    put_game_file("data/stale.bin", "stale, longer");
    for (int i = 0; i < 300; ++i) put_game_file("data/extra" + std::to_string(i) + ".bin", "the player's");
    fs::create_directories(game("data/keep.bin.d"));

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(downloads_listed(reports_of(PatchStage::Downloading)), 1u);
    EXPECT_EQ(game_file("data/stale.bin"), "fresh");
    EXPECT_EQ(game_file("data/extra299.bin"), "the player's");
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).size(), 2u);
}

// A game folder deeper than 260 characters (a OneDrive "Dokumentumok" tree): files are
// placed, found again without a download, and listed deletions still go.
TEST_F(EngineTest, GameFolderPathOverTwoHundredSixtyCharacters) {
    PatchConfig deep = config();
    while (deep.game_dir.native().size() <= 280) deep.game_dir /= std::wstring(40, L'g');
    fs::create_directories(deep.game_dir);
    publish({{"data/a.bin", {"a"}}, {"b.bin", {"b"}}});
    for (int run = 0; run < 2; ++run) ASSERT_TRUE(PatcherEngine::run(deep, false, {}).ok);
    EXPECT_EQ(server.requests("files/data/a.bin").size(), 1u);
    publish({{"data/a.bin", {"a"}}}, {"b.bin"});
    ASSERT_TRUE(PatcherEngine::run(deep, false, {}).ok);
    EXPECT_TRUE(korvel::is_regular_file_at(deep.game_dir / "data" / "a.bin"));
    EXPECT_FALSE(fs::exists(deep.game_dir / "b.bin"));
}
