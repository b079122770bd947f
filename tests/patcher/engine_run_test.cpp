// PatcherEngine::run end to end against the test patch server, on a real game folder.

#include "tests/patcher/engine_fixture.h"

#include "patcher/hash_cache.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::read_file;
using korvel::test::sha256_hex;
using korvel::test::write_file;

namespace {

std::map<std::string, korvel::test::PublishedFile> three_files() {
    return {{"bin/game.dat", {"game data"}}, {"data/maps/map1.bin", {std::string(300000, 'm')}}, {"readme.txt", {"hi"}}};
}

void set_mtime(fs::path const& path, std::uint64_t filetime) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(file);
    FILETIME const when{static_cast<DWORD>(filetime), static_cast<DWORD>(filetime >> 32)};
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &when));
}

}  // namespace

TEST_F(EngineTest, UpToDateClientReportsEveryStage) {
    auto const files = three_files();
    publish(files);
    for (auto const& [path, file] : files) put_game_file(path, file.bytes);
    write_file(config().version_file, "0.9");

    PatchResult const result = run();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.client_version, "1.2.3");
    EXPECT_FALSE(result.staged_launcher.has_value());

    using S = PatchStage;
    std::vector<PatchStage> const expected = {S::CheckingVersion, S::FetchingManifest, S::Verifying, S::Verifying,
                                              S::Verifying,       S::Verifying,        S::Verifying,  S::Downloading,
                                              S::Finalizing,      S::Done};
    ASSERT_EQ(stages(), expected);

    EXPECT_EQ(reports[0].title, L"Verzió ellenőrzése");
    EXPECT_EQ(reports[0].detail, L"Kapcsolódás a Korvel2 frissítési szerverhez...");
    EXPECT_EQ(reports[0].eta, -1.0);
    EXPECT_EQ(reports[1].title, L"Frissítési lista letöltése");
    EXPECT_EQ(reports[1].detail, L"A Korvel2 kliensfájljainak listája töltődik...");
    EXPECT_EQ(reports[2].title, L"Fájlok gyors ellenőrzése");
    EXPECT_EQ(reports[2].files_total, 3u);
    // One report per file, in manifest (key) order, with the stage's percent.
    EXPECT_EQ(reports[3].detail, L"Ellenőrzés: bin/game.dat");
    EXPECT_EQ(reports[4].current_file, L"data/maps/map1.bin");
    EXPECT_EQ(reports[4].files_done, 1u);
    EXPECT_EQ(reports[4].percent, 33);
    EXPECT_EQ(reports[5].percent, 66);
    EXPECT_EQ(reports[6].percent, 100);
    EXPECT_EQ(reports[6].files_done, 3u);
    EXPECT_EQ(reports[7].title, L"Nincs letöltendő fájl");
    EXPECT_EQ(reports[7].detail, L"Minden fájl naprakész.");
    EXPECT_EQ(reports[7].percent, 100);
    EXPECT_EQ(reports[7].files_total, 0u);
    EXPECT_EQ(reports[8].title, L"Frissítés véglegesítése");
    EXPECT_EQ(reports[8].detail, L"Gyorsítótár és verzió mentése");
    EXPECT_EQ(reports[9].title, L"A kliens naprakész");
    EXPECT_EQ(reports[9].detail, L"Nem volt szükség letöltésre.");
    EXPECT_EQ(reports[9].current_file, L"");
    EXPECT_EQ(reports[9].percent, 100);

    EXPECT_EQ(read_file(config().version_file), "1.2.3");
    HashCache const cache = load_hash_cache(config().hash_cache_file);
    ASSERT_EQ(cache.size(), 3u);
    EXPECT_EQ(cache.at("readme.txt").sha256, sha256_hex("hi"));
    EXPECT_EQ(cache.at("readme.txt").modified, file_mtime(game("readme.txt")));
    EXPECT_TRUE(leftovers(L".tmp").empty());
}

TEST_F(EngineTest, FirstInstallIntoAnEmptyFolder) {
    auto const files = three_files();
    publish(files);

    PatchResult const result = run();
    ASSERT_TRUE(result.ok);
    for (auto const& [path, file] : files) EXPECT_EQ(game_file(path), file.bytes) << path;
    EXPECT_TRUE(leftovers(L".korvel.part").empty());

    auto const downloading = reports_of(PatchStage::Downloading);
    ASSERT_FALSE(downloading.empty());
    EXPECT_EQ(downloading.front().title, L"Korvel2 frissítés letöltése");
    EXPECT_EQ(downloading.front().detail, L"A szükséges fájlok letöltése indul...");
    EXPECT_EQ(downloading.front().files_total, 3u);
    EXPECT_EQ(downloading.front().percent, 0);

    // The stage by bytes: every report after the first counts the bytes of the placed
    // files and of those in flight against the whole stage, and never goes back.
    std::uint64_t const stage_bytes = 9 + 300000 + 2;
    std::vector<std::wstring> done_details;
    std::uint64_t last_bytes = 0;
    for (std::size_t i = 1; i < downloading.size(); ++i) {
        PatchProgress const& r = downloading[i];
        EXPECT_EQ(r.bytes_total, stage_bytes);
        EXPECT_GE(r.bytes_done, last_bytes);
        last_bytes = r.bytes_done;
        EXPECT_EQ(r.percent, static_cast<int>(r.bytes_done * 100 / stage_bytes));
        if (r.bytes_done == r.bytes_total) {
            EXPECT_EQ(r.eta, -1.0);
        }
        if (r.detail.starts_with(L"Elkészült: "))
            done_details.push_back(r.detail);
        else
            EXPECT_EQ(r.detail, L"Jelenlegi fájl: " + r.current_file + L"  (próba 1)");
    }
    EXPECT_EQ(downloading.back().files_done, 3u);
    EXPECT_EQ(downloading.back().percent, 100);
    EXPECT_GT(downloading.back().speed, 0.0);
    std::sort(done_details.begin(), done_details.end());
    std::vector<std::wstring> const expected = {L"Elkészült: bin/game.dat", L"Elkészült: data/maps/map1.bin",
                                                L"Elkészült: readme.txt"};
    EXPECT_EQ(done_details, expected);
    EXPECT_EQ(reports.back().detail, L"A frissítés sikeresen elkészült.");

    // Every placed file is remembered with its new time.
    HashCache const cache = load_hash_cache(config().hash_cache_file);
    for (auto const& [path, file] : files) {
        ASSERT_EQ(cache.count(path), 1u) << path;
        EXPECT_EQ(cache.at(path).size, file.bytes.size());
        EXPECT_EQ(cache.at(path).modified, file_mtime(game(path)));
        EXPECT_EQ(cache.at(path).sha256, sha256_hex(file.bytes));
    }
}

TEST_F(EngineTest, ChangedAndMissizedFilesAreReplaced) {
    auto const files = three_files();
    publish(files);
    put_game_file("bin/game.dat", "GAME DATA");            // same size, other content
    put_game_file("readme.txt", "a much longer readme");   // other size
    put_game_file("data/maps/map1.bin", files.at("data/maps/map1.bin").bytes);

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("bin/game.dat"), "game data");
    EXPECT_EQ(game_file("readme.txt"), "hi");
    EXPECT_EQ(server.requests("files/data/maps/map1.bin").size(), 0u);
    EXPECT_EQ(server.requests("files/bin/game.dat").size(), 1u);
    EXPECT_EQ(reports_of(PatchStage::Downloading).front().files_total, 2u);
}

TEST_F(EngineTest, QuickCheckTrustsTheCacheAndFullRepairDoesNot) {
    auto const files = three_files();
    publish(files);
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(server.requests("files/bin/game.dat").size(), 1u);

    // Same size, same last-write time, other content: only hashing can tell.
    std::uint64_t const modified = file_mtime(game("bin/game.dat"));
    // The time kept for a download is the placed file's own, so the check below trusts it.
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).at("bin/game.dat").modified, modified);
    put_game_file("bin/game.dat", "GAME-DATA");
    set_mtime(game("bin/game.dat"), modified);

    ASSERT_TRUE(run(false).ok);
    EXPECT_EQ(game_file("bin/game.dat"), "GAME-DATA");
    EXPECT_EQ(server.requests("files/bin/game.dat").size(), 1u);
    EXPECT_EQ(reports_of(PatchStage::Verifying).front().title, L"Fájlok gyors ellenőrzése");

    ASSERT_TRUE(run(true).ok);
    EXPECT_EQ(reports_of(PatchStage::Verifying).front().title, L"Teljes javítás: fájlok ellenőrzése");
    EXPECT_EQ(game_file("bin/game.dat"), "game data");
    EXPECT_EQ(server.requests("files/bin/game.dat").size(), 2u);
    EXPECT_EQ(server.requests("files/readme.txt").size(), 1u);

    // A touched file with the right content is hashed again, kept, and its entry refreshed.
    set_mtime(game("readme.txt"), 0x01d0000000000000ull);
    ASSERT_TRUE(run(false).ok);
    EXPECT_EQ(server.requests("files/readme.txt").size(), 1u);
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).at("readme.txt").modified, 0x01d0000000000000ull);

    // The cache tells a changed file as it tells an unchanged one, without reading it: a
    // release of the same size whose bytes the file already holds (under the time the
    // cache noted with the old hash) is fetched, not hashed and found right.
    std::uint64_t const noted = load_hash_cache(config().hash_cache_file).at("bin/game.dat").modified;
    publish({{"bin/game.dat", {"GAME-DATA"}}});
    put_game_file("bin/game.dat", "GAME-DATA");
    set_mtime(game("bin/game.dat"), noted);
    ASSERT_TRUE(run(false).ok);
    EXPECT_EQ(server.requests("files/bin/game.dat").size(), 3u);
}

TEST_F(EngineTest, CorruptCacheIsRewrittenAndEntriesOutsideTheManifestSurvive) {
    auto const files = three_files();
    publish(files);
    for (auto const& [path, file] : files) put_game_file(path, file.bytes);
    write_file(config().hash_cache_file, "[1, 2, 3");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).size(), 3u);

    HashCache cache = load_hash_cache(config().hash_cache_file);
    cache["old/file.bin"] = CacheEntry{5, 6, std::string(64, 'a')};
    save_hash_cache(config().hash_cache_file, cache);
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).count("old/file.bin"), 1u);
}

TEST_F(EngineTest, DeletionsTouchOnlyListedRegularFiles) {
    publish({{"keep.bin", {"keep"}}}, {"old/remove.bin", "never/there.bin", "somefolder", "zivur2.cfg", "sub/zivur2.cfg"});
    put_game_file("old/remove.bin", "bye");
    put_game_file("somefolder/inside.txt", "stays");
    put_game_file("zivur2.cfg", "player settings");
    put_game_file("sub/zivur2.cfg", "an ordinary file");
    HashCache cache;
    cache["old/remove.bin"] = CacheEntry{3, 1, std::string(64, 'b')};
    cache["never/there.bin"] = CacheEntry{3, 1, std::string(64, 'c')};
    save_hash_cache(config().hash_cache_file, cache);

    ASSERT_TRUE(run().ok);
    EXPECT_FALSE(fs::exists(game("old/remove.bin")));
    EXPECT_TRUE(fs::is_directory(game("old")));
    EXPECT_EQ(game_file("somefolder/inside.txt"), "stays");
    EXPECT_EQ(game_file("zivur2.cfg"), "player settings");
    EXPECT_FALSE(fs::exists(game("sub/zivur2.cfg")));
    HashCache const after = load_hash_cache(config().hash_cache_file);
    EXPECT_EQ(after.count("old/remove.bin"), 0u);
    EXPECT_EQ(after.count("never/there.bin"), 0u);
    EXPECT_EQ(after.count("keep.bin"), 1u);
}

TEST_F(EngineTest, EmptyManifestStillDeletesAndFinishes) {
    publish({}, {"gone.txt"});
    put_game_file("gone.txt", "x");
    ASSERT_TRUE(run().ok);
    EXPECT_FALSE(fs::exists(game("gone.txt")));
    auto const verifying = reports_of(PatchStage::Verifying);
    ASSERT_EQ(verifying.size(), 2u);  // start and end, no file in between
    EXPECT_EQ(verifying[1].percent, 100);
    EXPECT_EQ(verifying[1].files_done, 0u);
}

TEST_F(EngineTest, FailuresAreReportedOnceAsFailedThenThrown) {
    // No version document on the server.
    std::string const text = run_failing();
    EXPECT_EQ(text, "HTTP 404: " + server.url("version.json"));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().stage, PatchStage::Failed);
    EXPECT_EQ(reports.back().title, L"A frissítés sikertelen");
    EXPECT_EQ(reports.back().detail, utf8_to_wide(text));
    EXPECT_EQ(reports_of(PatchStage::Failed).size(), 1u);

    // A bad manifest entry fails the run before any file is touched.
    publish({{"../escape.bin", {"x"}}});
    EXPECT_EQ(run_failing(), "Érvénytelen manifest bejegyzés: ../escape.bin");
    EXPECT_EQ(reports.back().detail, L"Érvénytelen manifest bejegyzés: ../escape.bin");
    EXPECT_FALSE(fs::exists(dir / "escape.bin"));
    EXPECT_FALSE(fs::exists(config().version_file));
}

// The cache only spares hashing: a run that placed and verified every file succeeds
// without it, and the next run simply hashes more.
TEST_F(EngineTest, CacheThatCannotBeSavedStillEndsTheRunWell) {
    publish({{"a.bin", {"new a"}}});
    write_file(config().version_file, "1.0.0");
    // A file where the cache's folder must be.
    PatchConfig c = config();
    write_file(dir / "blocker", "not a folder");
    c.hash_cache_file = dir / "blocker" / "hash_cache.json";

    reports.clear();
    EXPECT_TRUE(PatcherEngine::run(c, false, [this](PatchProgress const& p) { reports.push_back(p); }).ok);
    EXPECT_EQ(game_file("a.bin"), "new a");
    EXPECT_EQ(read_file(config().version_file), "1.2.3");
    EXPECT_EQ(reports.back().stage, PatchStage::Done);
}

TEST_F(EngineTest, VersionFileThatCannotBeWrittenStillEndsTheRunWell) {
    publish({{"a.bin", {"a"}}});
    fs::create_directories(dir / "launcher" / ".korvel" / "client.version.tmp");  // a folder blocks the write
    EXPECT_TRUE(run().ok);
    EXPECT_EQ(load_hash_cache(config().hash_cache_file).count("a.bin"), 1u);
    EXPECT_FALSE(fs::exists(config().version_file));
}
