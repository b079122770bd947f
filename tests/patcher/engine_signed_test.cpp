// Signed releases: with a release key the engine follows only what the operators signed,
// and a refused release changes nothing and downloads nothing.

#include "core/sha256.h"
#include "tests/patcher/engine_fixture.h"

#include "patcher/release_check.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "tests/support/process.h"

#include <functional>

namespace fs = std::filesystem;
using namespace korvel;
using nlohmann::json;

namespace {

// Every file below `root` with its content.
std::map<fs::path, std::string> snapshot(fs::path const& root) {
    std::map<fs::path, std::string> files;
    for (auto const& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path()] = test::read_file(entry.path());
    return files;
}

class SignedEngineTest : public test::EngineTest {
protected:
    // Release 2 changes a.txt, deletes old.txt, has an accented version (the test server
    // makes the canonical form independently of the launcher) and offers the running
    // launcher, so nothing is staged unless the offer is changed.
    void publish_release(int number, std::uint64_t sequence, std::string_view key = "release") {
        if (number == 1)
            publish({{"a.txt", {"alpha"}}, {"old.txt", {"old"}}});
        else
            publish({{"a.txt", {"alpha 2"}}}, {"old.txt"}, "2.0-\xC5\x91sz",
                    LauncherUpdate{"9.9.9", server.url("launcher.exe"), sha256_file(exe_path())});
        server.sign_version("version.json", sequence, key);
    }

    void edit(std::string_view relative, std::function<void(json&)> const& change) {
        json document = json::parse(test::read_file(server.local(relative)));
        change(document);
        server.put(relative, document.dump());
    }

    std::string sequence_record() const { return test::read_file(release_sequence_file(config())); }

    void nest_version(std::size_t depth) {
        std::string document = test::read_file(server.local("version.json"));
        document.insert(1, "\"x\":" + std::string(depth, '[') + std::string(depth, ']') + ",");
        server.put("version.json", document);
    }
};

std::string const too_deep = "[json.exception.parse_error.101] parse error: document nested deeper than 64 levels";

}  // namespace

TEST_F(SignedEngineTest, KeyedRunInstallsASignedReleaseAndAnUnkeyedOneIgnoresTheSignature) {
    release_key = test::release_public_key();
    publish_release(1, 5);
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("a.txt"), "alpha");
    EXPECT_EQ(sequence_record(), "5");

    release_key.clear();
    publish_release(2, 6);
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("a.txt"), "alpha 2");
    EXPECT_EQ(sequence_record(), "5");  // only a checked release is recorded
}

TEST_F(SignedEngineTest, ARefusedReleaseNamesWhyAndChangesNothing) {
    std::string const bad_signature = "A kiadás aláírása hiányzik vagy érvénytelen.";
    std::string const older = "A szerver régebbi kiadást kínál, mint ami már telepítve van.";
    struct Case {
        char const* name;
        std::function<void()> serve;  // after release 1 is installed and release 2 published
        std::string text;
    } const cases[] = {
        {"manifest changed after signing",
         [&] {
             server.put("files/a.txt", "evil");
             edit("manifest.json", [](json& m) { m["files"][0]["sha256"] = test::sha256_hex("evil"); });
         },
         "A fájllista nem egyezik az aláírt kiadással."},
        {"launcher offer changed after signing",
         [&] {
             server.put("launcher.exe", "evil launcher");
             edit("version.json", [](json& d) { d["launcher"]["sha256"] = test::sha256_hex("evil launcher"); });
         },
         bad_signature},
        {"signed with another key", [&] { publish_release(2, 2, "other"); }, bad_signature},
        {"signature removed", [&] { edit("version.json", [](json& d) { d.erase("signature"); }); }, bad_signature},
        {"older release replayed",
         [&] {
             ASSERT_TRUE(run().ok);
             publish_release(1, 1);
         },
         older},
        {"older release replayed after a launcher was taken",
         [&] {
             server.put("launcher.exe", "new launcher");
             edit("version.json", [](json& d) { d["launcher"]["sha256"] = test::sha256_hex("new launcher"); });
             server.sign_version("version.json", 2);
             ASSERT_TRUE(run().staged_launcher.has_value());
             publish_release(1, 1);
         },
         older},
        {"a record an earlier launcher kept beside itself",
         [&] { test::write_file(dir / "launcher" / ".korvel" / "release.sequence", "5"); }, older},
        {"nested 200,000 deep, past 64 KiB", [&] { nest_version(200000); },
         "HTTP response larger than 65536 bytes: " + server.url("version.json")},
    };
    release_key = test::release_public_key();
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "game");
        fs::remove_all(dir / "launcher");
        publish_release(1, 1);
        ASSERT_TRUE(run().ok);
        publish_release(2, 2);
        c.serve();

        auto const before = snapshot(dir.path());
        auto const requests_before = server.requests().size();
        EXPECT_EQ(run_failing(), c.text);
        EXPECT_EQ(stages().back(), PatchStage::Failed);
        EXPECT_EQ(snapshot(dir.path()), before);
        auto const requests = server.requests();
        for (auto it = requests.begin() + requests_before; it != requests.end(); ++it)
            EXPECT_TRUE(it->path.ends_with("version.json") || it->path.ends_with("manifest.json")) << it->path;
    }
}

// A launcher that trusts two keys (during a key change) installs releases signed with
// either; one that trusts only one of them refuses the other's.
TEST_F(SignedEngineTest, PatchRunnerTakesThePublicKeysAndAnyOneVerifies) {
    PatchConfig const c = config();
    fs::path const runner = test::bin_dir() / "patch_runner.exe";
    auto run_with = [&](std::string const& keys) {
        std::wstring const arguments = test::quoted(c.game_dir) + L" " + test::quoted(c.version_file) + L" " +
                                       test::quoted(c.hash_cache_file) + L" " + utf8_to_wide(c.version_url) +
                                       L" --public-key " + test::quoted(utf8_to_wide(keys));
        return test::ChildProcess(runner, arguments).wait(60000);
    };
    std::string const both = test::release_public_key() + ", " + test::release_public_key("other");
    publish_release(1, 3, "other");
    EXPECT_EQ(run_with(test::release_public_key()), 1u);
    EXPECT_EQ(run_with(both), 0u);
    EXPECT_EQ(sequence_record(), "3");
    publish_release(1, 4, "release");
    EXPECT_EQ(run_with(both), 0u);
    EXPECT_EQ(sequence_record(), "4");
    // A document that would overflow the stack where it is copied: an ordinary failure.
    nest_version(30000);
    EXPECT_EQ(run_with(both), 1u);
    EXPECT_EQ(run_failing(), too_deep);
}
