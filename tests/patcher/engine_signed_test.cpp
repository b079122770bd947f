// Signed releases: with a release key the engine follows only what the operators signed,
// and a refused release changes nothing and downloads nothing.

#include "tests/patcher/engine_fixture.h"

#include "patcher/release_check.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "tests/support/process.h"

#include <functional>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using nlohmann::json;

namespace {

char const* const bad_signature = "A kiadás aláírása hiányzik vagy érvénytelen.";
char const* const bad_manifest = "A fájllista nem egyezik az aláírt kiadással.";
char const* const older_release = "A szerver régebbi kiadást kínál, mint ami már telepítve van.";

// Every file below `root` with its content.
std::map<fs::path, std::string> snapshot(fs::path const& root) {
    std::map<fs::path, std::string> files;
    for (auto const& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path()] = test::read_file(entry.path());
    return files;
}

class SignedEngineTest : public EngineTest {
protected:
    // Release 1 holds a.txt and old.txt; release 2 changes a.txt, deletes old.txt, has an
    // accented version (the signer's canonical form is made independently of the
    // launcher's) and offers a launcher: the running one, so nothing is staged.
    void publish_release(int number, std::uint64_t sequence) {
        if (number == 1) {
            publish({{"a.txt", {"alpha"}}, {"old.txt", {"old"}}});
        } else {
            json const offer = {{"version", "9.9.9"}, {"url", server.url("launcher/davari.exe")},
                                {"sha256", sha256_file(exe_path())}, {"size", 1}};
            publish({{"a.txt", {"alpha 2"}}}, {"old.txt"}, "2.0-\xC5\x91sz", offer);
        }
        server.sign_version("version.json", sequence);
    }

    void edit_version(std::function<void(json&)> const& edit) {
        json document = json::parse(test::read_file(server.local("version.json")));
        edit(document);
        server.put("version.json", document.dump());
    }

    std::string sequence_record() const { return test::read_file(release_sequence_file(config())); }
};

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
    EXPECT_FALSE(fs::exists(game("old.txt")));
    EXPECT_EQ(sequence_record(), "5");  // only a checked release is recorded
}

TEST_F(SignedEngineTest, ARefusedReleaseNamesWhyAndChangesNothing) {
    struct Case {
        char const* name;
        std::function<void()> serve;
        char const* text;
    } const cases[] = {
        {"manifest changed after signing",
         [&] {
             publish_release(2, 2);
             server.put("files/a.txt", "evil");
             json manifest = json::parse(test::read_file(server.local("manifest.json")));
             manifest["files"][0]["sha256"] = test::sha256_hex("evil");
             manifest["files"][0]["size"] = 4;
             server.put("manifest.json", manifest.dump());
         },
         bad_manifest},
        {"launcher offer changed after signing",
         [&] {
             publish_release(2, 2);
             server.put("launcher/davari.exe", "evil launcher");
             edit_version([](json& d) { d["launcher"]["sha256"] = test::sha256_hex("evil launcher"); });
         },
         bad_signature},
        {"signed with another key", [&] { server.sign_version("version.json", 2, "other"); }, bad_signature},
        {"signature removed",
         [&] {
             publish_release(2, 2);
             edit_version([](json& d) { d.erase("signature"); });
         },
         bad_signature},
        {"signature not base64",
         [&] {
             publish_release(2, 2);
             edit_version([](json& d) { d["signature"] = "not base64!"; });
         },
         bad_signature},
        {"older release replayed",
         [&] {
             publish_release(2, 2);
             ASSERT_TRUE(run().ok);
             publish_release(1, 1);
         },
         older_release},
    };
    release_key = test::release_public_key();
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "game");
        fs::remove_all(dir / "launcher");
        fs::create_directories(dir / "game");
        publish_release(1, 1);
        ASSERT_TRUE(run().ok);
        publish_release(2, 2);  // the one "signed with another key" re-signs
        c.serve();

        auto const before = snapshot(dir.path());
        auto const fetched_before = server.requests().size();
        EXPECT_EQ(run_failing(), c.text);
        EXPECT_EQ(stages().back(), PatchStage::Failed);
        EXPECT_EQ(snapshot(dir.path()), before);
        auto const requests = server.requests();
        for (auto it = requests.begin() + fetched_before; it != requests.end(); ++it)
            EXPECT_TRUE(it->path.ends_with("version.json") || it->path.ends_with("manifest.json")) << it->path;
    }
}

TEST_F(SignedEngineTest, PatchRunnerTakesThePublicKey) {
    publish_release(1, 3);
    server.sign_version("version.json", 3, "other");
    PatchConfig const c = config();
    std::wstring const arguments = test::quoted(c.game_dir) + L" " + test::quoted(c.version_file) + L" " +
                                   test::quoted(c.hash_cache_file) + L" " + utf8_to_wide(c.version_url) +
                                   L" --public-key " + utf8_to_wide(test::release_public_key());
    fs::path const runner = test::bin_dir() / "patch_runner.exe";
    EXPECT_EQ(test::ChildProcess(runner, arguments).wait(60000), 1u);
    EXPECT_FALSE(fs::exists(game("a.txt")));

    server.sign_version("version.json", 3);
    EXPECT_EQ(test::ChildProcess(runner, arguments).wait(60000), 0u);
    EXPECT_EQ(game_file("a.txt"), "alpha");
    EXPECT_EQ(sequence_record(), "3");
}
