// Changed packs rebuilt from what the player has: the old file (or a renamed one, or an
// interrupted part) plus single ranges of the new file, checked against the server's
// log; and every case in which the whole file is fetched instead.

#include "tests/patcher/engine_fixture.h"

#include "core/manifest.h"
#include "patcher/delta_plan.h"
#include "patcher/delta_update.h"
#include "patcher/seed_library.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/text.h"

#include <algorithm>
#include <map>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::random_bytes;
using korvel::test::Request;
using korvel::test::Span;
using korvel::test::spans_of;
using korvel::test::write_file;

namespace {

// Small chunks, so that a pack of a few MiB has many of them.
ChunkerParams const small_chunks{256, 1024, 4096, 3, 4096, 65536};

std::uint64_t bytes_asked(std::vector<Request> const& requests) {
    std::uint64_t total = 0;
    for (Span const& s : spans_of(requests)) total += s.last - s.first + 1;
    return total;
}

// A pack and its next version, with the spans of the new version that are new.
struct Edit {
    std::size_t at, remove;
    std::string insert;
};

struct Versions {
    std::string old_pack, new_pack;
    std::vector<Span> changed;  // in the new pack
};

Versions apply(std::string const& pack, std::vector<Edit> edits) {
    Versions v{pack, pack, {}};
    std::sort(edits.begin(), edits.end(), [](Edit const& a, Edit const& b) { return a.at > b.at; });
    for (Edit const& e : edits) v.new_pack.replace(e.at, e.remove, e.insert);
    // Offsets in the new pack: each edit shifts those after it.
    std::int64_t shift = 0;
    for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
        std::uint64_t const first = it->at + shift;
        v.changed.push_back({first, first + std::max<std::size_t>(it->insert.size(), 1) - 1});
        shift += static_cast<std::int64_t>(it->insert.size()) - static_cast<std::int64_t>(it->remove);
    }
    return v;
}

std::string const pack_v1 = random_bytes(3 << 20, 41);

}  // namespace

class DeltaTest : public EngineTest {
protected:
    DeltaTest() { chunk_params = small_chunks; }

    void cut_delta_then_resume();

    // Every request for the pack asked for a range near a changed span, and all of them
    // together for little more than the changed bytes.
    void expect_only_changed_ranges(std::string const& file, Versions const& v) const {
        std::vector<Request> const requests = server.requests("files/" + file);
        ASSERT_FALSE(requests.empty());
        std::uint64_t const reach = 2 * small_chunks.max_size + 4096;
        std::uint64_t changed = 0;
        for (Span const& c : v.changed) changed += c.last - c.first + 1;
        for (Request const& r : requests) ASSERT_FALSE(r.spans().empty()) << "a whole-file request";
        for (Span const& s : spans_of(requests)) {
            bool const close = std::any_of(v.changed.begin(), v.changed.end(), [&](Span const& c) {
                return s.first <= c.last + reach && c.first <= s.last + reach;
            });
            EXPECT_TRUE(close) << s.first << "-" << s.last;
        }
        EXPECT_LE(bytes_asked(requests), changed + v.changed.size() * reach);
    }
};

TEST_F(DeltaTest, EachKindOfEditFetchesOnlyWhatChanged) {
    struct Case {
        char const* name;
        std::vector<Edit> edits;
    };
    std::vector<Edit> scattered;
    for (int i = 0; i < 12; ++i)
        scattered.push_back({static_cast<std::size_t>(100000 + i * 250000), 1000u + 250u * i,
                             random_bytes(1000 + 250 * i, 100 + i)});
    std::vector<Case> const cases = {
        {"assets replaced by others of other lengths",
         {{400000, 60000, random_bytes(90000, 1)}, {1700000, 20000, random_bytes(4000, 2)}}},
        {"assets appended, the table at the start rewritten",
         {{0, 16384, random_bytes(16384, 3)}, {pack_v1.size(), 0, random_bytes(300000, 4)}}},
        {"scattered small edits", scattered},
        {"two releases of edits at once (1 -> 3)",
         {{200000, 5000, random_bytes(7000, 5)}, {2500000, 0, random_bytes(30000, 6)}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        std::string const pack = "data/pack" + std::to_string(i) + ".bin";  // a log of its own
        Versions const v = apply(pack_v1, cases[i].edits);
        put_game_file(pack, v.old_pack);
        publish({{pack, {v.new_pack}}});
        ASSERT_TRUE(run().ok);
        EXPECT_TRUE(game_file(pack) == v.new_pack);
        expect_only_changed_ranges(pack, v);
        EXPECT_TRUE(leftovers(L".korvel.part").empty());
    }
}

// A release that repeats a stretch of the old pack further on: each of its chunks goes
// to both places, and only the bytes around the joins travel.
TEST_F(DeltaTest, AStretchRepeatedInTheNewPackIsCopiedToEachPlace) {
    Versions v{pack_v1, pack_v1, {{2000000, 2000000}, {2400000, 2400000}}};
    v.new_pack.insert(2000000, pack_v1.substr(1000000, 400000));
    put_game_file("pack.bin", v.old_pack);
    publish({{"pack.bin", {v.new_pack}}});
    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("pack.bin") == v.new_pack);
    expect_only_changed_ranges("pack.bin", v);
}

// Ranges go several to a request where the server answers them so. Where it answers
// otherwise (with the whole file, as many CDNs do, or with the first range alone), the
// same ranges are asked for one per request, and the file still comes by delta.
TEST_F(DeltaTest, RangesGoSeveralToARequestWhereTheServerAnswersThemSo) {
    std::vector<Edit> edits;
    for (int i = 0; i < 10; ++i)
        edits.push_back({static_cast<std::size_t>(150000 + i * 280000), 2000, random_bytes(2500, 80 + i)});
    Versions const v = apply(pack_v1, edits);
    for (std::string const answer : {"", "whole", "first"}) {
        SCOPED_TRACE(answer);
        std::string const pack = "pack-" + answer + ".bin";
        put_game_file(pack, v.old_pack);
        publish({{pack, {v.new_pack}}});
        if (!answer.empty()) server.set_fault("files/" + pack, {.multi_range = answer});
        ASSERT_TRUE(run().ok);
        EXPECT_TRUE(game_file(pack) == v.new_pack);
        expect_only_changed_ranges(pack, v);
        std::vector<Request> const requests = server.requests("files/" + pack);
        ASSERT_FALSE(requests.empty());
        std::vector<Span> const joined = requests[0].spans();
        EXPECT_GE(joined.size(), edits.size() / 2);
        if (answer.empty()) {
            EXPECT_LE(requests.size(), 2u);
            continue;
        }
        // The refused request's ranges come again, one each, and only those.
        ASSERT_EQ(requests.size(), joined.size() + 1);
        for (std::size_t k = 0; k < joined.size(); ++k) EXPECT_EQ(requests[k + 1].spans(), std::vector{joined[k]});
    }
}

// The download stage counts the bytes that travel, and says when it reads the old file.
TEST_F(DeltaTest, ProgressCountsTravellingBytesAndShowsTheComparison) {
    Versions const v = apply(pack_v1, {{1000000, 50000, random_bytes(50000, 7)}});
    put_game_file("pack.bin", v.old_pack);
    publish({{"pack.bin", {v.new_pack}}});
    ASSERT_TRUE(run().ok);
    std::vector<std::int32_t> comparing;
    std::uint64_t most_total = 0;
    for (PatchProgress const& p : reports_of(PatchStage::Downloading)) {
        if (p.detail == L"Meglévő fájl összevetése: pack.bin") comparing.push_back(p.percent);
        most_total = std::max(most_total, p.bytes_total);
    }
    ASSERT_FALSE(comparing.empty());
    EXPECT_TRUE(std::is_sorted(comparing.begin(), comparing.end()));
    std::vector<PatchProgress> const done = reports_of(PatchStage::Downloading);
    EXPECT_EQ(done.back().detail, L"Elkészült: pack.bin");
    EXPECT_EQ(done.back().bytes_done, done.back().bytes_total);
    EXPECT_LT(done.back().bytes_total, v.new_pack.size() / 4);
    EXPECT_GE(done.back().bytes_total, bytes_asked(server.requests("files/pack.bin")));
}

// Whatever makes the delta give up, the whole file is fetched in one plain request and
// ends right, with no part left behind.
TEST_F(DeltaTest, FallsBackToTheWholeFile) {
    Versions const v = apply(pack_v1, {{500000, 30000, random_bytes(40000, 8)}});
    struct Case {
        char const* name;
        bool indexed = true;
        bool old_file = true;
        bool wrong_head_hash = false;
        std::optional<Fault> first_answer{};  // of the file, to the first request
        std::size_t ranged = 0;  // range requests for the file before the whole one
    };
    Fault whole;
    whole.ignore_range = true;
    std::vector<Case> const cases = {
        {"no index", false, true, false, {}, 0},
        {"no seed", true, false, false, {}, 0},
        {"index head with another hash", true, true, true, {}, 0},
        {"a 200 to a range", true, true, false, whole, 1},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Case const& c = cases[i];
        SCOPED_TRACE(c.name);
        std::string const pack = "pack" + std::to_string(i) + ".bin";
        chunk_params = c.indexed ? std::optional(small_chunks) : std::nullopt;
        if (c.old_file) put_game_file(pack, v.old_pack);
        publish({{pack, {v.new_pack}}});
        if (c.wrong_head_hash) {
            nlohmann::json m = nlohmann::json::parse(test::read_file(server.local("manifest.json")));
            m["files"][0]["chunk_index"]["head_sha256"] = std::string(64, '0');
            server.put("manifest.json", m.dump());
        }
        if (c.first_answer) server.set_attempts("files/" + pack, {*c.first_answer});
        ASSERT_TRUE(run().ok);
        EXPECT_TRUE(game_file(pack) == v.new_pack);
        std::vector<Request> const requests = server.requests("files/" + pack);
        ASSERT_EQ(requests.size(), c.ranged + 1);
        EXPECT_TRUE(requests.back().spans().empty());
        EXPECT_TRUE(leftovers(L".korvel.part").empty());
    }
}

// Served ranges that assemble into the wrong file: the whole file is fetched once more,
// and when that is wrong too, the run fails as it always did, the old file untouched.
TEST_F(DeltaTest, AssembledFileWithAnotherHashFallsBackOnceThenFails) {
    Versions const v = apply(pack_v1, {{500000, 30000, random_bytes(40000, 9)}});
    put_game_file("pack.bin", v.old_pack);
    publish({{"pack.bin", {v.new_pack}}});
    Fault wrong;
    wrong.body = v.new_pack;
    (*wrong.body)[510000] ^= 1;
    server.set_fault("files/pack.bin", wrong);
    EXPECT_EQ(run_failing(), "SHA-256 eltérés: pack.bin");
    std::vector<Request> const requests = server.requests("files/pack.bin");
    ASSERT_GE(requests.size(), 4u);
    EXPECT_FALSE(requests.front().spans().empty());
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](Request const& r) { return r.spans().empty(); }),
              3);
    EXPECT_TRUE(game_file("pack.bin") == v.old_pack);
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
}

// A seed edited in place once it has been read and the plan made: its chunks no longer
// match as they are copied, and the delta gives up with its part removed, for the whole
// file to be fetched.
TEST_F(DeltaTest, SeedChangedBeforeItsCopyFallsBackToTheWholeFile) {
    Versions const v = apply(pack_v1, {{2000000, 1000, random_bytes(1000, 10)}});
    put_game_file("pack.bin", v.old_pack);
    publish({{"pack.bin", {v.new_pack}}});
    Manifest const manifest = read_manifest(test::read_file(server.local("manifest.json")));
    FileEntry const& entry = manifest.files.at(0);
    fs::path const part = game("pack.bin.korvel.part");

    bool changed = false;
    DeltaEvents events;
    events.planned = [&](std::uint64_t) {
        std::string edited = v.old_pack;
        for (std::size_t k = 0; k < edited.size(); k += 100) edited[k] ^= 0x55;
        write_file(game("pack.bin"), edited);
        changed = true;
    };
    HttpSession http(L"korvel-test");
    SeedLibrary library;
    RangeSlots slots;
    DeltaSources const sources{{build_file_url(manifest.base_url, entry.path)},
                               {chunk_index_url(manifest.base_url, entry.chunk_index->url)}, 0, slots};
    std::optional<DeltaResult> const rebuilt = fetch_by_delta(
        http, entry, sources, part, library,
        {{game("pack.bin"), "pack.bin", false}, {part, "pack.bin.korvel.part", true}}, events);
    ASSERT_TRUE(changed);
    EXPECT_FALSE(rebuilt);
    EXPECT_FALSE(fs::exists(win32_path(part)));
}

// A pack renamed by the release: found through the delete list, read as the seed, then
// deleted.
TEST_F(DeltaTest, RenamedPackFoundThroughTheDeleteList) {
    Versions const v = apply(pack_v1, {{300000, 2000, random_bytes(3000, 11)}});
    put_game_file("data/old.pak", v.old_pack);
    publish({{"data/new.pak", {v.new_pack}}}, {"data/old.pak"});
    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("data/new.pak") == v.new_pack);
    EXPECT_FALSE(fs::exists(game("data/old.pak")));
    expect_only_changed_ranges("data/new.pak", v);
}

// A release that turns three deleted packs into new ones: each deleted pack is read at
// most once whichever new packs could use it (the first one's halves go to two new
// packs, which share its table), one that shares nothing with any of them is only
// sampled, and the new pack that shares nothing starts its whole download without a
// seed read for it.
TEST_F(DeltaTest, DeletedPacksAreEachReadOnceAndOnlyWhereTheyHelp) {
    std::uint64_t const size = sampled_from(small_chunks) + (1 << 20);  // large enough to be sampled
    std::uint64_t const sample = sample_windows * sample_window(small_chunks);
    std::vector<std::string> const old = {random_bytes(size, 70), random_bytes(size, 71), random_bytes(size, 72)};
    for (std::size_t i = 0; i < old.size(); ++i) put_game_file("old/" + std::to_string(i) + ".pak", old[i]);
    std::size_t const half = size / 2;
    Versions from_0 = apply(old[0].substr(0, half), {{500000, 3000, random_bytes(5000, 73)}});
    Versions from_0_rest = apply(old[0].substr(half), {{2000000, 1000, random_bytes(1500, 76)}});
    // Where the old pack was cut in two, the chunks are new.
    from_0.changed.push_back({from_0.new_pack.size() - 1, from_0.new_pack.size() - 1});
    from_0_rest.changed.push_back({0, 0});
    Versions const from_1 = apply(old[1], {{900000, 0, random_bytes(20000, 74)}});
    std::string const fresh = random_bytes(size, 75);
    publish({{"new/a.pak", {from_0.new_pack}},
             {"new/b.pak", {from_1.new_pack}},
             {"new/c.pak", {fresh}},
             {"new/d.pak", {from_0_rest.new_pack}}},
            {"old/0.pak", "old/1.pak", "old/2.pak"});
    PatchResult const result = run();
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(game_file("new/a.pak") == from_0.new_pack);
    EXPECT_TRUE(game_file("new/b.pak") == from_1.new_pack);
    EXPECT_TRUE(game_file("new/c.pak") == fresh);
    EXPECT_TRUE(game_file("new/d.pak") == from_0_rest.new_pack);
    // Each whole pack a new one holds (its changed spans apart) is copied from its seed.
    expect_only_changed_ranges("new/a.pak", from_0);
    expect_only_changed_ranges("new/b.pak", from_1);
    expect_only_changed_ranges("new/d.pak", from_0_rest);
    std::vector<Request> const whole = server.requests("files/new/c.pak");
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_TRUE(whole[0].spans().empty());

    std::map<std::string, std::uint64_t> const& read = result.seed_bytes_read;
    EXPECT_EQ(read.size(), 3u);
    for (std::string const used : {"old/0.pak", "old/1.pak"}) {
        ASSERT_TRUE(read.contains(used)) << used;
        EXPECT_GE(read.at(used), size) << used;
        EXPECT_LE(read.at(used), size + sample) << used;
    }
    ASSERT_TRUE(read.contains("old/2.pak"));
    EXPECT_LE(read.at("old/2.pak"), sample);
}

// A run stopped partway through a delta keeps the new file's first bytes in the part;
// the next run finds them there and does not ask for the ranges that made them again.
void DeltaTest::cut_delta_then_resume() {
    std::vector<Edit> edits;
    for (int i = 0; i < 24; ++i)
        edits.push_back({static_cast<std::size_t>(100000 + i * 120000), 20000, random_bytes(20000, 20 + i)});
    Versions const v = apply(pack_v1, edits);
    put_game_file("pack.bin", v.old_pack);
    publish({{"pack.bin", {v.new_pack}}});
    // The ranges come at 200 KB/s (the index at once): the run stops while they arrive,
    // not after the file is already in place.
    server.set_fault("files/pack.bin", {.bytes_per_second = 200000});

    struct Stop {};
    try {
        PatcherEngine::run(config(), false, [&](PatchProgress const& p) {
            if (p.stage == PatchStage::Downloading && p.bytes_done * 10 >= p.bytes_total * 7 && p.bytes_total > 0 &&
                p.bytes_total < v.new_pack.size())
                throw Stop{};
        });
        FAIL() << "the run was not stopped";
    } catch (Stop const&) {
    }
    std::vector<Request> const first = server.requests("files/pack.bin");
    ASSERT_GE(spans_of(first).size(), 8u);
    ASSERT_TRUE(is_regular_file_at(game("pack.bin.korvel.part")));
    // The ranges that had reached the part hold the new pack's bytes there (their
    // requests ran at once, so the log's order does not tell which).
    std::string const part = game_file("pack.bin.korvel.part");
    std::vector<Span> done;
    for (Span const& s : spans_of(first)) {
        std::size_t const length = s.last - s.first + 1;
        if (s.last < part.size() && part.compare(s.first, length, v.new_pack, s.first, length) == 0) done.push_back(s);
    }
    ASSERT_FALSE(done.empty());

    server.clear_fault("files/pack.bin");
    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("pack.bin") == v.new_pack);
    std::vector<Request> const all = server.requests("files/pack.bin");
    std::vector<Request> const second(all.begin() + static_cast<std::ptrdiff_t>(first.size()), all.end());
    // None of the ranges in the part before the run stopped is asked again.
    for (Span const& s : spans_of(second))
        for (Span const& d : done) EXPECT_TRUE(s.last < d.first || d.last < s.first) << s.first << "-" << s.last;
    EXPECT_LT(spans_of(second).size(), 24u);
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
}

TEST_F(DeltaTest, CutDeltaResumesWithoutFetchingAgain) { cut_delta_then_resume(); }

// Below a game folder deeper than 260 characters the old file is still found and read,
// the part of a stopped delta continued, and a whole download's part that the next
// release no longer needs cleared away with its record after the run.
TEST_F(DeltaTest, GameFolderPathOverTwoHundredSixtyCharacters) {
    go_deep();
    ASSERT_GT(config().game_dir.native().size(), 260u);
    ASSERT_NO_FATAL_FAILURE(cut_delta_then_resume());
    EXPECT_LT(bytes_asked(server.requests("files/pack.bin")), pack_v1.size() / 2);

    // A new pack (no seed: fetched whole) still going when another file fails its hash
    // three times keeps its part and record; the release after that drops the pack.
    std::string const big = random_bytes(4 << 20, 60);
    publish({{"pack.bin", {game_file("pack.bin")}}, {"big.pak", {big}}, {"bad.bin", {"right"}}});
    server.set_fault("files/bad.bin", {.body = "wrong"});
    server.set_fault("files/big.pak", {.pace_ms = 100});
    EXPECT_EQ(run_failing(), "SHA-256 eltérés: bad.bin");
    ASSERT_TRUE(is_regular_file_at(game("big.pak.korvel.part")));
    fs::path const records = config().hash_cache_file.parent_path() / "downloads";
    ASSERT_TRUE(fs::exists(win32_path(records)));

    server.clear_fault("files/bad.bin");
    publish({{"pack.bin", {game_file("pack.bin")}}, {"bad.bin", {"right"}}});
    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    EXPECT_FALSE(fs::exists(win32_path(records)));
}
