// Patch day: servers that ask the launcher to wait, hosts that fail, mirrors that take
// over, and a disk too small for the patch, against the test patch server.

#include "tests/patcher/engine_fixture.h"

#include "patcher/request_cost.h"
#include "patcher/transfer_policy.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <set>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::Request;
using korvel::test::Span;
using korvel::test::spans_of;
using korvel::test::random_bytes;

namespace {

// An IMF-fixdate, as a Retry-After date is written.
std::string http_date(std::time_t when) {
    char text[64];
    std::tm utc{};
    gmtime_s(&utc, &when);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

// A URL nothing listens at: connections to it are refused.
std::string refused_url(std::string_view path) {
    return "http://127.0.0.1:9/" + std::string(path);
}

bool any_detail(std::vector<PatchProgress> const& reports, std::wstring const& detail) {
    return std::any_of(reports.begin(), reports.end(), [&](PatchProgress const& r) { return r.detail == detail; });
}

}  // namespace

// The version document and the manifest ride out an overloaded server: each waits as
// long as the server asked (in seconds or until a date), or backs off without a
// Retry-After, and the window counts the wait down. The manifest may come from a cache,
// the version document may not.
TEST_F(EngineTest, DocumentsWaitAsTheServerAsksAndOnlyTheVersionDocumentRefusesCaches) {
    publish({{"a.bin", {"aaaa"}}});
    std::time_t const date = std::time(nullptr) + 4;
    server.set_attempts("version.json", {{.status = 503, .headers = {{"Retry-After", "2"}}}});
    server.set_attempts("manifest.json", {{.status = 503}, {.status = 429, .headers = {{"Retry-After", http_date(date)}}}});

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("a.bin"), "aaaa");
    std::vector<Request> const version = server.requests("version.json");
    ASSERT_EQ(version.size(), 2u);
    EXPECT_GE(version[1].time - version[0].time, 2.0);
    std::vector<Request> const manifest = server.requests("manifest.json");
    ASSERT_EQ(manifest.size(), 3u);
    EXPECT_GE(manifest[2].time, static_cast<double>(date));
    EXPECT_TRUE(any_detail(reports, L"A szerver túlterhelt, újrapróbálás 2 mp múlva"));
    EXPECT_TRUE(any_detail(reports, L"A szerver túlterhelt, újrapróbálás 1 mp múlva"));

    for (Request const& r : version) EXPECT_EQ(r.header("Cache-Control"), "no-cache");
    for (Request const& r : manifest) EXPECT_FALSE(r.header("Cache-Control").has_value());
}

// A version URL that cannot be reached gives way to the fallbacks of launcher.ini; a
// manifest host that fails to the release's mirrors. The failed hosts are remembered, so
// the next start does not begin on them.
TEST_F(EngineTest, FallbackVersionUrlAndManifestMirrorTakeOver) {
    mirrors = 1;
    publish({{"a.bin", {"aaaa"}}});
    server.set_fault("manifest.json", {.status = 502});
    PatchConfig c = config();
    c.fallback_version_urls = {c.version_url};
    c.version_url = refused_url("version.json");
    reports.clear();
    ASSERT_TRUE(PatcherEngine::run(c, false, [this](PatchProgress const& p) { reports.push_back(p); }).ok);
    EXPECT_EQ(game_file("a.bin"), "aaaa");
    EXPECT_EQ(server.requests("version.json").size(), 1u);
    EXPECT_EQ(server.requests("manifest.json").size(), 1u);
    EXPECT_EQ(server.requests("m1/manifest.json").size(), 1u);

    nlohmann::json const notes =
        nlohmann::json::parse(korvel::test::read_file(c.hash_cache_file.parent_path() / "hosts.json"));
    EXPECT_TRUE(notes.contains("http://127.0.0.1:9"));
    std::string const primary = host_of(server.url(""));
    ASSERT_TRUE(notes.contains(primary));
    double const until = notes.at(primary).get<double>();
    EXPECT_GT(until, static_cast<double>(std::time(nullptr)) + 240);
    EXPECT_LE(until, static_cast<double>(std::time(nullptr)) + 300);

    // Started again at once, the launcher goes to the mirror's manifest first.
    fs::remove(game("a.bin"));
    ASSERT_TRUE(PatcherEngine::run(c, false, {}).ok);
    EXPECT_EQ(server.requests("manifest.json").size(), 1u);
    EXPECT_EQ(server.requests("m1/manifest.json").size(), 2u);
}

// A version document whose server asks for a longer wait than a player sits through
// (5 minutes) ends the run with a text that says when to come back. A fallback that can
// be read now is read at once; the manifest on the busy server is not waited for either,
// and with the release on a mirror too the run completes.
TEST_F(EngineTest, BusyPastTheCapSaysWhenToComeBackUnlessAnotherHostServes) {
    std::string const come_back = "A szerver túlterhelt, próbálja újra 60 perc múlva.";
    PatchConfig fallback = config();
    fallback.fallback_version_urls = {localhost_url("version.json")};
    // Each start as a first one, with the version document answered 503 once.
    auto const start = [&](PatchConfig const& c) {
        fs::remove(c.hash_cache_file.parent_path() / "hosts.json");
        server.set_attempts("version.json", {{.status = 503, .headers = {{"Retry-After", "3600"}}}});
        try {
            return PatcherEngine::run(c, false, {}).ok ? std::string("ok") : std::string("not ok");
        } catch (std::exception const& e) {
            return std::string(e.what());
        }
    };
    publish({{"a.bin", {"aaaa"}}});
    EXPECT_EQ(start(config()), come_back);
    EXPECT_EQ(start(fallback), come_back);
    EXPECT_EQ(server.requests("version.json").size(), 3u);  // one, then one and its fallback
    EXPECT_TRUE(server.requests("manifest.json").empty());

    mirrors = 1;
    publish({{"a.bin", {"aaaa"}}});
    EXPECT_EQ(start(fallback), "ok");
    EXPECT_EQ(game_file("a.bin"), "aaaa");
    std::vector<Request> const version = server.requests("version.json");
    ASSERT_EQ(version.size(), 5u);
    EXPECT_TRUE(version[4].header("Host")->starts_with("localhost:"));
    EXPECT_LT(version[4].time - version[3].time, 2.0);
    EXPECT_EQ(server.requests("m1/manifest.json").size(), 1u);
}

// A game folder on a volume too small for the patch: the run fails before any file is
// requested, naming the drive, the space needed and the space free.
TEST_F(EngineTest, TooSmallDiskFailsBeforeAnyFileRequest) {
    fs::path const volume = "K:\\";
    std::error_code ec;
    if (fs::space(volume, ec).capacity > (16u << 20) || ec)
        GTEST_SKIP() << "no small drive K: (test-env mounts a tmpfs there when it may)";
    publish({{"big.pak", {random_bytes(6 << 20, 5)}}, {"small.bin", {"s"}}});
    PatchConfig c = config();
    c.game_dir = volume / korvel::test::unique_name("game");
    std::string error;
    try {
        PatcherEngine::run(c, false, {});
    } catch (std::exception const& e) {
        error = e.what();
    }
    fs::remove_all(c.game_dir);
    EXPECT_TRUE(error.starts_with("Nincs elég szabad hely a(z) ")) << error;
    EXPECT_NE(error.find(" meghajtón: a frissítéshez 6.0 MB kell, de csak "), std::string::npos) << error;
    EXPECT_TRUE(error.ends_with(" szabad.")) << error;
    EXPECT_TRUE(server.requests("files/big.pak").empty());
    EXPECT_TRUE(server.requests("files/small.bin").empty());
}

namespace {

// What the server answers once (or several times) before it serves as usual.
struct Answer {
    char const* what;
    Fault fault;
    bool transient;
};

std::vector<Answer> const answers = {
    {"503 with Retry-After 1", {.status = 503, .headers = {{"Retry-After", "1"}}}, true},
    {"429", {.status = 429}, true},
    {"502", {.status = 502}, true},
    {"504", {.status = 504}, true},
    {"a reset before any byte", {.reset_after = 0}, true},
    {"404", {.status = 404}, false},
    {"410", {.status = 410}, false},
};

bool ranged(Request const& r) {
    return r.header("Range").has_value();
}

}  // namespace

// Overload answers keep every kind of progress: a whole file is asked for again (a 429
// four times in a row too), a resumed part goes on from its byte, and a delta range is
// asked for again without giving up the plan. Permanent answers keep today's handling: a
// whole file has three tries, a part starts again from zero, and a delta gives way to the
// whole file.
TEST_F(EngineTest, TransientAnswersKeepProgressPermanentOnesAsBefore) {
    chunk_params = ChunkerParams{256, 1024, 4096, 3, 4096, 65536};
    std::string const whole = random_bytes(200 << 10, 1);
    std::string const resumed = random_bytes(2 << 20, 2);
    std::uint64_t const cut = resumed.size() * 9 / 10;
    std::string const old_pack = random_bytes(3 << 20, 3);
    std::string new_pack = old_pack;
    new_pack.replace(2000000, 1000, random_bytes(1000, 4));

    // The requests for a path since the row began.
    std::map<std::string, std::size_t> seen;
    auto const since = [&](std::string const& path) {
        std::vector<Request> all = server.requests(path);
        return std::vector<Request>(all.begin() + static_cast<std::ptrdiff_t>(seen[path]), all.end());
    };
    for (Answer const& a : answers) {
        SCOPED_TRACE(a.what);
        for (char const* path : {"files/w.bin", "files/r.bin", "files/d.pak"}) seen[path] = server.requests(path).size();
        fs::remove_all(game(""));
        fs::remove_all(config().hash_cache_file.parent_path());
        fs::create_directories(game(""));
        put_game_file("d.pak", old_pack);
        publish({{"w.bin", {whole}}, {"r.bin", {resumed}}, {"d.pak", {new_pack}}});
        // A 429 four times in a row once failed the file; a permanent answer three times still does.
        int const repeats = a.fault.status == 429 ? 4 : 2;
        server.set_attempts("files/w.bin", std::vector<Fault>(repeats, a.fault));
        server.set_attempts("files/r.bin", {{.reset_after = cut}, a.fault});
        // The first range of the pack (after the index head) gets the answer.
        server.set_attempts("files/d.pak", {a.fault});

        ASSERT_TRUE(run().ok);
        EXPECT_EQ(game_file("w.bin"), whole);
        EXPECT_EQ(game_file("r.bin"), resumed);
        EXPECT_TRUE(game_file("d.pak") == new_pack);
        EXPECT_EQ(since("files/w.bin").size(), static_cast<std::size_t>(repeats + 1));

        std::vector<Request> const part = since("files/r.bin");
        ASSERT_EQ(part.size(), 3u);
        EXPECT_EQ(part[2].header("Range"), a.transient ? std::optional("bytes=" + std::to_string(cut) + "-")
                                                       : std::nullopt);

        std::vector<Request> const pack = since("files/d.pak");
        ASSERT_FALSE(pack.empty());
        EXPECT_TRUE(ranged(pack[0]));
        EXPECT_EQ(std::all_of(pack.begin(), pack.end(), ranged), a.transient);
        if (a.transient) EXPECT_EQ(pack[1].header("Range"), pack[0].header("Range"));
    }
    // Retry-After 1 is obeyed: no request within a second of the last.
    std::vector<Request> const asked = server.requests("files/w.bin");
    server.set_attempts("files/w.bin", {answers[0].fault, answers[0].fault});
    fs::remove(game("w.bin"));
    ASSERT_TRUE(run().ok);
    std::vector<Request> const timed = server.requests("files/w.bin");
    ASSERT_EQ(timed.size(), asked.size() + 3);
    EXPECT_GE(timed[timed.size() - 2].time - timed[timed.size() - 3].time, 1.0);
    EXPECT_GE(timed.back().time - timed[timed.size() - 2].time, 1.0);

    // Three permanent answers fail the file with the last one's text.
    server.set_attempts("files/w.bin", std::vector<Fault>(3, {.status = 404}));
    fs::remove(game("w.bin"));
    EXPECT_EQ(run_failing(), "HTTP 404: " + server.url("files/w.bin"));
}

// Three hosts. The files of a run spread over them. Then the first dies in the middle of
// the pack, the second is overloaded, the third serves: the install completes in one
// run, the pack's part goes on from the byte it reached on another host (no request
// after the first starts at zero), and the busy host is not asked again within its
// Retry-After.
TEST_F(EngineTest, MirrorsTakeOverFromTheByteReached) {
    mirrors = 2;
    std::string const pack = random_bytes(4 << 20, 7);
    std::map<std::string, korvel::test::PublishedFile> files{{"big.pak", {pack}}};
    for (int i = 0; i < 9; ++i) files.emplace("s/" + std::to_string(i) + ".bin", random_bytes(3000 + i, 20 + i));
    publish(files);
    ASSERT_TRUE(run().ok);
    std::set<std::string> hosts;
    for (int i = 0; i < 9; ++i)
        for (std::string const prefix : {"files/", "m1/files/", "m2/files/"})
            if (!server.requests(prefix + "s/" + std::to_string(i) + ".bin").empty()) hosts.insert(prefix);
    EXPECT_EQ(hosts.size(), 3u);

    fs::remove_all(game(""));
    fs::remove_all(config().hash_cache_file.parent_path());
    fs::create_directories(game(""));
    std::size_t const before = server.requests("files/big.pak").size() + server.requests("m2/files/big.pak").size();
    std::size_t const busy_before = server.requests("m1/files/big.pak").size();
    server.set_attempts("files/big.pak", {{.reset_after = 1 << 20}});
    server.set_fault("m1/files/big.pak", {.status = 503, .headers = {{"Retry-After", "30"}}});
    server.set_attempts("m2/files/big.pak", {{.reset_after = 1 << 20}});

    ASSERT_TRUE(run().ok);
    for (auto const& [path, file] : files) EXPECT_TRUE(game_file(path) == file.bytes) << path;

    std::vector<Request> served;  // the pack's requests to the hosts that send bytes
    for (char const* path : {"files/big.pak", "m2/files/big.pak"})
        for (Request const& r : server.requests(path)) served.push_back(r);
    std::sort(served.begin(), served.end(), [](Request const& a, Request const& b) { return a.time < b.time; });
    served.erase(served.begin(), served.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_GE(served.size(), 2u);
    EXPECT_EQ(std::count_if(served.begin(), served.end(), ranged), static_cast<long>(served.size() - 1));
    for (Request const& r : served)
        if (ranged(r)) {
            EXPECT_TRUE(r.header("Range") == "bytes=1048576-" || r.header("Range") == "bytes=2097152-")
                << *r.header("Range");
            EXPECT_FALSE(r.header("If-Range").has_value());  // the part came from another host
        }
    EXPECT_EQ(server.requests("m1/files/big.pak").size(), busy_before + 1);
}

// A delta whose host turns overloaded in the middle of its ranges goes on with them on the
// mirror: the plan stays, no range is asked of the busy host again within its
// Retry-After, and the whole file is never fetched. The run begins on the host that
// turns busy.
TEST_F(EngineTest, DeltaRangesMoveToTheMirror) {
    mirrors = 1;
    chunk_params = ChunkerParams{256, 1024, 4096, 3, 4096, 65536};
    std::string const old_pack = random_bytes(3 << 20, 9);
    std::string new_pack = old_pack;
    // More edited stretches than one request asks for.
    for (std::size_t at = 10000; at < new_pack.size(); at += 20000) new_pack.replace(at, 500, random_bytes(500, at));
    put_game_file("d.pak", old_pack);
    publish({{"d.pak", {new_pack}}});
    // One request served, then the host is busy.
    std::vector<Fault> busy_after_one(40, {.status = 503, .headers = {{"Retry-After", "30"}}});
    busy_after_one[0] = {};
    server.set_attempts("files/d.pak", busy_after_one);
    avoid_mirror_at_start();

    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("d.pak") == new_pack);
    std::vector<Request> const busy = server.requests("files/d.pak");
    std::vector<Request> const mirror = server.requests("m1/files/d.pak");
    ASSERT_GE(busy.size(), 2u);
    ASSERT_FALSE(mirror.empty());
    EXPECT_TRUE(std::all_of(busy.begin(), busy.end(), ranged));
    EXPECT_TRUE(std::all_of(mirror.begin(), mirror.end(), ranged));
    // Once the 503 came, only requests already on their way reached the busy host.
    double const answered = busy[1].time;
    for (Request const& r : busy) EXPECT_LT(r.time, answered + 5.0) << *r.header("Range");
    EXPECT_LE(busy.size(), 1 + RequestCost::most_in_flight);
    // Every range of the plan was asked for once it succeeded: those the busy host
    // refused again on the mirror, the rest only there.
    std::vector<Span> asked = spans_of(mirror);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end());
    for (std::size_t i = 1; i < busy.size(); ++i)
        for (Span const& s : busy[i].spans()) EXPECT_TRUE(std::binary_search(asked.begin(), asked.end(), s));
}

// A host that sends the headers and a first MiB, then nothing: left after 20 s, and the
// part goes on from that MiB on the mirror. The mirror was noted as failed by an earlier
// start, so the run begins on the host that stalls, and reaches the mirror only after it.
TEST_F(EngineTest, StalledHostIsLeftAndThePartContinuesOnTheMirror) {
    mirrors = 1;
    std::string const pack = random_bytes(3 << 20, 8);
    publish({{"big.pak", {pack}}});
    server.set_attempts("files/big.pak", {{.stall_after = 1 << 20, .stall_ms = 60000}});
    avoid_mirror_at_start();

    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("big.pak") == pack);
    std::vector<Request> const stalled = server.requests("files/big.pak");
    std::vector<Request> const mirror = server.requests("m1/files/big.pak");
    ASSERT_EQ(stalled.size(), 1u);
    ASSERT_EQ(mirror.size(), 1u);
    EXPECT_EQ(mirror[0].header("Range"), "bytes=1048576-");
    double const left_after = mirror[0].time - stalled[0].time;
    EXPECT_GE(left_after, 20.0);
    EXPECT_LT(left_after, 25.0);
}

// A host that still sends, at 32 KiB/s, beside a transfer of 512 KiB/s: the file started
// there is left once it has run 10 s and continues on the mirror from the byte it
// reached, long before the 64 s it would have taken there. The mirror was noted as
// failed by an earlier start for a few seconds only, so both files begin on the
// throttled host and the mirror is free again when the slow one is judged.
TEST_F(EngineTest, SlowHostIsLeftForTheMirrorFromTheByteReached) {
    mirrors = 1;
    std::string const slow = random_bytes(2 << 20, 9);
    std::string const steady = random_bytes(7 << 20, 10);
    publish({{"slow.pak", {slow}}, {"steady.pak", {steady}}});
    server.set_fault("files/slow.pak", {.bytes_per_second = 32 << 10});
    for (char const* path : {"files/steady.pak", "m1/files/steady.pak"})
        server.set_fault(path, {.bytes_per_second = 512 << 10});
    std::string const mirror_host = host_of(mirror_url(1, ""));
    korvel::test::write_file(config().hash_cache_file.parent_path() / "hosts.json",
                             nlohmann::json{{mirror_host, std::time(nullptr) + 7}}.dump());

    ASSERT_TRUE(run().ok);
    EXPECT_TRUE(game_file("slow.pak") == slow);
    EXPECT_TRUE(game_file("steady.pak") == steady);
    std::vector<Request> const left = server.requests("files/slow.pak");
    std::vector<Request> const mirror = server.requests("m1/files/slow.pak");
    ASSERT_EQ(left.size(), 1u);
    ASSERT_EQ(mirror.size(), 1u);
    std::string const range = mirror[0].header("Range").value_or("");
    ASSERT_TRUE(range.starts_with("bytes=") && range.ends_with("-")) << range;
    std::uint64_t const offset = std::stoull(range.substr(6));
    EXPECT_GE(offset, 8u * (32 << 10)) << range;  // what ten seconds at 32 KiB/s brought, give or take
    EXPECT_LE(offset, 16u * (32 << 10)) << range;
    double const left_after = mirror[0].time - left[0].time;
    EXPECT_GE(left_after, 10.0);
    EXPECT_LT(left_after, 20.0);
    EXPECT_EQ(server.requests("files/steady.pak").size(), 1u);  // the steady file was never left
}

// A server's Retry-After outlives the launcher: a player who closes and reopens it does
// not ask that server again before the time it named.
TEST_F(EngineTest, RetryAfterIsKeptAcrossStarts) {
    mirrors = 1;
    publish({{"a.bin", {"aaaa"}}});
    server.set_fault("manifest.json", {.status = 503, .headers = {{"Retry-After", "8"}}});
    ASSERT_TRUE(run().ok);  // the manifest came from the mirror
    std::vector<Request> const busy = server.requests("manifest.json");
    ASSERT_EQ(busy.size(), 1u);
    nlohmann::json const notes =
        nlohmann::json::parse(korvel::test::read_file(config().hash_cache_file.parent_path() / "hosts.json"));
    std::string const primary = host_of(server.url(""));
    double const not_before = notes.at("retry_after").at(primary).get<double>();
    EXPECT_GE(not_before, busy[0].time + 8);
    EXPECT_LE(not_before, busy[0].time + 10);

    // Started again at once: the version document lives on that server alone, so the
    // launcher counts down to the server's time before it asks.
    fs::remove(game("a.bin"));
    std::size_t const asked = server.requests("version.json").size();
    ASSERT_TRUE(run().ok);
    std::vector<Request> const version = server.requests("version.json");
    ASSERT_EQ(version.size(), asked + 1);
    EXPECT_GE(version.back().time, busy[0].time + 8);
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](PatchProgress const& r) {
        return r.detail.starts_with(L"A szerver túlterhelt, újrapróbálás ");
    }));
}

// A busy server is asked again by one transfer at a time: three files turned away twice
// with Retry-After 1 send their second requests (turned away too) a second apart, one
// probe after another, and not all together when the wait is over.
TEST_F(EngineTest, ABusyServerGetsOneProbeAtATime) {
    Fault const busy{.status = 503, .headers = {{"Retry-After", "1"}}};
    std::map<std::string, std::string> const bytes{
        {"f0.bin", random_bytes(32 << 10, 10)}, {"f1.bin", random_bytes(32 << 10, 11)}, {"f2.bin", random_bytes(32 << 10, 12)}};
    std::map<std::string, korvel::test::PublishedFile> files;
    for (auto const& [name, data] : bytes) {
        files.emplace(name, data);
        server.set_attempts("files/" + name, {busy, busy});
    }
    publish(files);
    ASSERT_TRUE(run().ok);
    std::vector<double> probes;
    for (auto const& [name, data] : bytes) {
        std::vector<Request> const asked = server.requests("files/" + name);
        ASSERT_EQ(asked.size(), 3u) << name;
        probes.push_back(asked[1].time);
        EXPECT_EQ(game_file(name), data);
    }
    std::sort(probes.begin(), probes.end());
    for (std::size_t i = 1; i < probes.size(); ++i) EXPECT_GE(probes[i] - probes[i - 1], 0.9) << i;
}
