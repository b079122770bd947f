// Downloads as a real network sees them: several files in flight over kept-alive
// connections, and transfers that break and are resumed rather than started again.

#include "tests/patcher/engine_fixture.h"

#include "patcher/file_downloads.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <set>
#include <tuple>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::random_bytes;
using korvel::test::read_file;

namespace {

std::optional<std::string> range_of(korvel::test::Request const& r) {
    return r.header("Range");
}

}  // namespace

TEST_F(EngineTest, ParallelInstallIsByteExactOverAFewKeptConnections) {
    std::map<std::string, korvel::test::PublishedFile> files;
    for (int i = 0; i < 60; ++i) files.emplace("small/f" + std::to_string(i) + ".bin", random_bytes(4096 + i * 97, i));
    files.emplace("packs/a.pak", random_bytes(3 << 20, 100));
    files.emplace("packs/b.pak", random_bytes(5 << 20, 101));
    publish(files);
    // A planted record naming a part outside the game folder: the clean-up after the run
    // must not touch that file.
    fs::path const outside = dir / "outside.part";
    korvel::test::write_file(outside, "not the launcher's");
    fs::path const records = config().hash_cache_file.parent_path() / "downloads";
    fs::create_directories(records);
    korvel::test::write_file(records / "planted.json",
                             nlohmann::json{{"path", "elsewhere"}, {"size", 1}, {"sha256", ""}, {"url", ""},
                                            {"validator", "x"}, {"part", wide_to_utf8(outside.native())}}
                                 .dump());

    ASSERT_TRUE(run().ok);
    for (auto const& [path, file] : files) EXPECT_EQ(game_file(path), file.bytes) << path;
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    EXPECT_FALSE(fs::exists(records));
    EXPECT_TRUE(fs::exists(outside));

    std::set<int> connections;
    for (auto const& r : server.requests()) connections.insert(r.connection);
    EXPECT_LE(connections.size(), parallel_downloads + 2);
    EXPECT_EQ(reports_of(PatchStage::Downloading).back().files_done, files.size());
}

TEST_F(EngineTest, FileFailingThreeTimesStopsTheOthersAndKeepsOnlyTheirPrefixes) {
    std::string const big = random_bytes(4 << 20, 7);
    publish({{"a.bin", {"aaaa"}}, {"bad.bin", {"right"}}, {"big.pak", {big}}});
    server.set_fault("files/bad.bin", {.body = "wrong"});
    server.set_fault("files/big.pak", {.pace_ms = 100});  // 64 KiB a tenth of a second: still going at the end

    EXPECT_EQ(run_failing(), "SHA-256 eltérés: bad.bin");
    EXPECT_EQ(server.requests("files/bad.bin").size(), 3u);
    EXPECT_EQ(game_file("a.bin"), "aaaa");
    std::vector<fs::path> const parts = leftovers(L".korvel.part");
    ASSERT_EQ(parts.size(), 1u);  // the one that failed its hash is gone
    EXPECT_EQ(parts[0], game("big.pak.korvel.part"));
    std::string const prefix = read_file(parts[0]);
    EXPECT_GT(prefix.size(), 0u);
    EXPECT_LT(prefix.size(), big.size());
    EXPECT_TRUE(big.starts_with(prefix));

    // The next run continues that part instead of starting it again.
    server.clear_fault("files/big.pak");
    server.clear_fault("files/bad.bin");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("big.pak"), big);
    EXPECT_EQ(range_of(server.requests("files/big.pak").back()), "bytes=" + std::to_string(prefix.size()) + "-");
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    EXPECT_FALSE(fs::exists(config().hash_cache_file.parent_path() / "downloads"));
}

// A file that fails for good ends the stage at once, however its other transfers wait:
// one resuming a large part (paced), one waiting on a chunk index range that the server
// answers only after a minute. The part keeps only the server's bytes, and the next run
// continues it.
TEST_F(EngineTest, AFailedFileEndsEveryTransferAtOnceAndKeepsTheResumedPart) {
    chunk_params = ChunkerParams{};
    std::string const big = random_bytes(8 << 20, 31);
    std::string const delta_old = random_bytes(3 << 20, 32);
    std::string delta_new = delta_old;
    delta_new.replace(1 << 20, 4096, random_bytes(4096, 33));
    publish({{"bad.bin", {"right"}}, {"big.pak", {big}}, {"delta.pak", {delta_new}}});
    put_game_file("delta.pak", delta_old);
    // Each wrong answer comes after a second, so that bad.bin fails only once big.pak's
    // resume (after a backoff of at most a second) is under way.
    server.set_fault("files/bad.bin", {.body = "wrong", .delay_ms = 1000});
    // Broken at 2 MiB, then resumed 64 KiB every 0.2 s: still going when bad.bin fails.
    server.set_attempts("files/big.pak", {{.reset_after = 2 << 20}, {.pace_ms = 200}});
    server.set_fault("chunks/delta.pak.idx", {.delay_ms = 60000});

    auto const started = std::chrono::steady_clock::now();
    EXPECT_EQ(run_failing(), "SHA-256 eltérés: bad.bin");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));  // not the minute
    std::vector<korvel::test::Request> const first_run = server.requests("files/big.pak");
    ASSERT_EQ(first_run.size(), 2u);
    EXPECT_EQ(range_of(first_run[1]), "bytes=" + std::to_string(2 << 20) + "-");
    EXPECT_EQ(server.requests("chunks/delta.pak.idx").size(), 1u);
    std::string const kept = read_file(game("big.pak.korvel.part"));
    EXPECT_GE(kept.size(), 2u << 20);
    EXPECT_LT(kept.size(), big.size());
    EXPECT_TRUE(big.starts_with(kept));
    EXPECT_EQ(game_file("delta.pak"), delta_old);

    // The next run asks only for what the part lacks (by a range from its end, or by the
    // ranges a delta plans with the part as its seed).
    server.clear_fault("files/bad.bin");
    server.clear_fault("files/big.pak");
    server.clear_fault("chunks/delta.pak.idx");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("big.pak"), big);
    EXPECT_EQ(game_file("delta.pak"), delta_new);
    std::vector<korvel::test::Request> const all = server.requests("files/big.pak");
    std::uint64_t asked = 0;
    for (std::size_t i = first_run.size(); i < all.size(); ++i) {
        std::optional<std::string> const range = range_of(all[i]);
        ASSERT_TRUE(range) << "the whole file again";
        std::size_t const dash = range->find('-');
        std::uint64_t const from = std::stoull(range->substr(6, dash - 6));
        asked += (dash + 1 == range->size() ? big.size() - 1 : std::stoull(range->substr(dash + 1))) - from + 1;
    }
    EXPECT_LE(asked, big.size() - kept.size() + (256 << 10));
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
}

TEST_F(EngineTest, BrokenTransferResumesOnlyWhenTheServerAnswersForThePart) {
    std::uint64_t const size = 2 << 20;
    std::uint64_t const cut = size * 9 / 10;
    std::string const bytes = random_bytes(size, 21);
    std::string corrupted = bytes;
    corrupted[1000] ^= 0x55;

    struct Case {
        char const* what;
        std::vector<Fault> attempts;
        std::vector<bool> ranged;  // per request: whether it asked for the rest only
    };
    Fault const fixed_etag{.headers = {{"ETag", "\"fixed\""}}};
    Case const cases[] = {
        {"reset at 90 %: the rest", {{.reset_after = cut}}, {false, true}},
        {"another validator: the whole file", {{.headers = {{"ETag", "\"other\""}}, .reset_after = cut}},
         {false, true}},
        {"a 200 answer: the whole file", {{.reset_after = cut}, {.ignore_range = true}}, {false, true}},
        {"only Last-Modified: still resumed", {{.reset_after = cut, .no_etag = true}}, {false, true}},
        {"an error answer to the range: the whole file next",
         {{.reset_after = cut}, {.status = 403}}, {false, true, false}},
        {"a 206 with another ETag: the whole file next",
         {{.reset_after = cut}, {.headers = {{"ETag", "\"other\""}}, .ignore_if_range = true}}, {false, true, false}},
        {"a 206 of another length: the whole file next", {{.reset_after = cut}, {.range_total = "999"}},
         {false, true, false}},
        {"a corrupted prefix: from zero after the hash",
         {{.body = corrupted, .headers = fixed_etag.headers, .reset_after = cut}, fixed_etag},
         {false, true, false}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(game(""));
        fs::remove_all(config().hash_cache_file.parent_path());
        fs::create_directories(game(""));
        publish({{"x.bin", {bytes}}});
        std::size_t const before = server.requests("files/x.bin").size();
        server.set_attempts("files/x.bin", c.attempts);
        ASSERT_TRUE(run().ok);
        EXPECT_EQ(game_file("x.bin"), bytes);
        std::vector<korvel::test::Request> const requests = server.requests("files/x.bin");
        std::vector<bool> ranged;
        for (std::size_t i = before; i < requests.size(); ++i) {
            std::optional<std::string> const range = range_of(requests[i]);
            ranged.push_back(range.has_value());
            if (!range) continue;
            // Exactly what the part held: the bytes before the cut that arrived.
            std::uint64_t const start = std::stoull(range->substr(6));
            EXPECT_GT(start, 0u);
            EXPECT_LE(start, cut);
            EXPECT_TRUE(requests[i].header("If-Range").has_value());
        }
        EXPECT_EQ(ranged, c.ranged);
        EXPECT_TRUE(leftovers(L".korvel.part").empty());
    }
}

TEST_F(EngineTest, LauncherOfferResumesAtTheNextRun) {
    std::string const launcher = random_bytes(3 << 20, 31);
    server.put("launcher/davari.exe", launcher);
    publish({{"a.bin", {"a"}}}, {}, "1.2.3",
            korvel::LauncherUpdate{"3.0.0", server.url("launcher/davari.exe"), korvel::test::sha256_hex(launcher),
                                   launcher.size()});
    server.set_attempts("launcher/davari.exe", {{.reset_after = 2 << 20}});

    run_failing();
    std::string const prefix = read_file(game(".korvel_update/davari.new.exe.part"));
    EXPECT_GT(prefix.size(), 0u);
    EXPECT_TRUE(launcher.starts_with(prefix));
    ASSERT_TRUE(run().staged_launcher.has_value());
    EXPECT_EQ(read_file(game(".korvel_update/davari.new.exe")), launcher);
    EXPECT_EQ(range_of(server.requests("launcher/davari.exe").back()), "bytes=" + std::to_string(prefix.size()) + "-");
    EXPECT_FALSE(fs::exists(game(".korvel_update/davari.new.exe.part")));
}

// Records the run must not follow: a validator with a line break (a header of its own),
// a part of a file listed as empty, and a part in UserData.
TEST_F(EngineTest, PlantedPartRecordsAreNotFollowed) {
    std::string const bytes = random_bytes(1 << 20, 41);
    publish({{"x.bin", {bytes}}, {"empty.bin", {""}}});
    fs::path const records = config().hash_cache_file.parent_path() / "downloads";
    for (auto const& [path, validator, part] : {std::tuple("x.bin", "\"v\"\r\nX-Planted: 1", bytes.substr(0, 9)),
                                               std::tuple("empty.bin", "\"v\"", std::string("junk")),
                                               std::tuple("UserData/save", "\"v\"", std::string("the player's"))}) {
        std::string const name = path;
        korvel::test::write_file(game(name + ".korvel.part"), part);
        nlohmann::json const record = {{"path", name}, {"size", name == "x.bin" ? bytes.size() : 0},
                                       {"sha256", korvel::test::sha256_hex(name == "x.bin" ? bytes : "")},
                                       {"url", server.url("files/" + name)}, {"validator", validator},
                                       {"part", wide_to_utf8(game(name + ".korvel.part").native())}};
        korvel::test::write_file(records / (name.substr(0, 5) + ".json"), record.dump());
    }
    ASSERT_TRUE(run().ok);
    for (char const* path : {"files/x.bin", "files/empty.bin"}) {
        std::vector<korvel::test::Request> const requests = server.requests(path);
        ASSERT_EQ(requests.size(), 1u) << path;
        EXPECT_FALSE(range_of(requests[0]) || requests[0].header("X-Planted")) << path;
    }
    EXPECT_EQ(read_file(game("UserData/save.korvel.part")), "the player's");
}
