// Patch day: servers that ask the launcher to wait, hosts that fail, mirrors that take
// over, and a disk too small for the patch, against the test patch server.

#include "tests/patcher/engine_fixture.h"

#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <ctime>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::Request;
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
    std::string const primary = server.url("").substr(0, server.url("").find('/', 8));
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
