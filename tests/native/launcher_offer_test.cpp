// `build --launcher` and `verify` on real launcher builds: the unkeyed bin/davari.exe,
// the test-key launcher, and a launcher keyed like an operator's own (test-keys/
// davari_other_key_NOT_FOR_PLAYERS.exe, built by the same CMake function as davari.exe, so
// that the record read here is the one the build writes). Each offer that would leave
// players unprotected or locked out is refused, naming its flag; with the flags it goes
// out, and `verify` reports the same problems on disk and on the server. The keys each
// launcher is expected to name are read from the test keys' own files.
#include "publisher/release_signing.h"
#include "tests/native/publish_run.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace korvel::test {
namespace {

fs::path key_file(std::string const& name) {
    return build_dir() / "test-keys" / (name + ".pem");
}

std::string public_half(std::string const& name) {
    return ReleaseKey(key_file(name)).public_key();
}

// The three launcher builds.
struct Launchers {
    fs::path unkeyed = build_dir() / "bin" / "davari.exe";
    fs::path test_key = build_dir() / "test-keys" / "davari_test_key_NOT_FOR_PLAYERS.exe";
    fs::path own_key = build_dir() / "test-keys" / "davari_other_key_NOT_FOR_PLAYERS.exe";
};

std::size_t count_of(std::string const& text, std::string const& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The lines naming what the offered launcher 2.2.0 trusts, as build and verify print them.
std::string trusts(std::vector<std::string> const& keys) {
    if (keys.empty()) return "Offered launcher 2.2.0 trusts no release key: it checks no signature.\n";
    std::string text = "Offered launcher 2.2.0 trusts " + std::to_string(keys.size()) +
                       (keys.size() == 1 ? " release key:\n" : " release keys:\n");
    for (std::string const& key : keys) text += "  " + key + "\n";
    return text;
}

TEST(LauncherOffer, SlipsAreRefusedByFlagAndVerifiedAfterwards) {
    Launchers const l;
    std::string const release = public_half("release"), second = public_half("second"), other = public_half("other");
    std::string const signs = " (signs this release)", throwaway = " (throwaway test key)",
                      signs_throwaway = " (signs this release, throwaway test key)";
    TempDir scratch("offer");
    write_file(scratch / "not-a-program" / "davari.exe", "MZ launcher");
    struct Offer {
        char const* name;
        fs::path launcher;
        std::string sign_key;  // a test key's name, "" for an unsigned release
        std::vector<std::string> flags;  // the refusal names these; empty: accepted
        std::string trust_lines;         // once it is published
    };
    std::vector<Offer> const offers = {
        {"unkeyed, unsigned", l.unkeyed, "", {}, trusts({})},
        {"unkeyed, signed", l.unkeyed, "other", {"--allow-unkeyed-launcher"}, trusts({})},
        {"own key, unsigned", l.own_key, "", {"--allow-keyed-launcher"}, trusts({other})},
        {"own key, signed with it", l.own_key, "other", {}, trusts({other + signs})},
        {"own key, signed with another", l.own_key, "release", {"--allow-launcher-key-change"}, trusts({other})},
        {"test keys, signed with one (the demo)", l.test_key, "release", {},
         trusts({second + throwaway, release + signs_throwaway})},
        {"test keys, signed with the other one", l.test_key, "second", {},
         trusts({second + signs_throwaway, release + throwaway})},
        {"test keys, signed with an operator's key", l.test_key, "other",
         {"--allow-launcher-key-change", "--allow-test-key-launcher"}, trusts({second + throwaway, release + throwaway})},
        {"test keys, unsigned", l.test_key, "", {"--allow-keyed-launcher", "--allow-test-key-launcher"},
         trusts({second + throwaway, release + throwaway})},
        {"not a program", scratch / "not-a-program" / "davari.exe", "other", {"--allow-unknown-launcher-keys"},
         "Offered launcher 2.2.0: which release keys it trusts cannot be read (truncated or damaged: the DOS header "
         "lies outside the file).\n"},
    };
    for (Offer const& offer : offers) {
        SCOPED_TRACE(offer.name);
        TempDir dir("offer");
        write_file(dir / "release" / "a.txt", "alpha");
        fs::path const out = dir / "out";
        std::vector<std::string> args = {"build", dir / "release", out, "--client-version", "1", "--base-url",
                                         "https://patch.example.com", "--launcher", offer.launcher,
                                         "--launcher-version", "2.2.0"};
        if (!offer.sign_key.empty())
            args.insert(args.end(), {"--sign-key", key_file(offer.sign_key), "--first-signed-release"});
        if (!offer.flags.empty()) {
            Outcome const refused = publish(args);
            EXPECT_EQ(refused.code, 1);
            EXPECT_EQ(count_of(refused.err, "\n  the offered launcher " + offer.launcher.string() + ": "),
                      offer.flags.size()) << refused.err;
            for (std::string const& flag : offer.flags) EXPECT_EQ(count_of(refused.err, flag), 1u) << refused.err;
            EXPECT_TRUE(folder_state(out).empty()) << "a refused build wrote into OUT_DIR";
            args.insert(args.end(), offer.flags.begin(), offer.flags.end());
        }
        Outcome const built = publish(args);
        ASSERT_EQ(built.code, 0) << built.err;
        EXPECT_NE(built.out.find(offer.trust_lines + "Check it now:"), std::string::npos) << built.out;

        // verify reads the launcher that OUT_DIR serves: a problem line for each slip.
        Outcome const checked = publish({"verify", out});
        EXPECT_EQ(checked.code, offer.flags.empty() ? 0 : 1) << checked.out;
        EXPECT_NE(checked.out.find(offer.trust_lines), std::string::npos) << checked.out;
        EXPECT_EQ(count_of(checked.out, "FAILED launcher 2.2.0 (https://patch.example.com/launcher/2.2.0/" +
                                            offer.launcher.filename().string() + "): "),
                  offer.flags.size()) << checked.out;
    }
}

TEST(LauncherOffer, TheHeadlineSlipsInFull) {
    Launchers const l;
    TempDir dir("offer");
    write_file(dir / "release" / "a.txt", "alpha");
    auto build = [&](fs::path const& launcher, std::string const& key) {
        return publish({"build", dir / "release", dir / "out", "--client-version", "1", "--base-url",
                        "https://patch.example.com", "--launcher", launcher, "--launcher-version", "2.2.0",
                        "--sign-key", key_file(key), "--first-signed-release"});
    };
    EXPECT_EQ(build(l.unkeyed, "other").err,
              "\nkorvel-publish: Refusing to publish:\n  the offered launcher " + l.unkeyed.string() +
                  ": it trusts no release key: players who take it check no release's signature from then on, and "
                  "whoever controls the server can run any program on their machines. Offer the launcher built with "
                  "-DKORVEL_RELEASE_PUBLIC_KEY, or give --allow-unkeyed-launcher to stop checking signatures\n");
    EXPECT_EQ(build(l.test_key, "other").err,
              "\nkorvel-publish: Refusing to publish:\n  the offered launcher " + l.test_key.string() +
                  ": none of the keys it trusts signs this release: players who take it refuse the next release "
                  "signed with this key. Offer a launcher that trusts this key too, or give "
                  "--allow-launcher-key-change if the next releases are signed with a key it trusts (as after a "
                  "leaked key)\n  the offered launcher " + l.test_key.string() +
                  ": it trusts a throwaway test key, whose private half lies in every build folder: anyone with a "
                  "copy can sign releases that players who take it follow. Offer davari.exe from a build configured "
                  "with your own key, or give --allow-test-key-launcher\n");
}

// The served launcher is what players get: verify reads its keys over HTTP as well.
TEST(LauncherOffer, VerifyReadsTheServedLaunchersKeys) {
    Launchers const l;
    ServedFolder server("offer");
    TempDir dir("offer");
    write_file(dir / "release" / "a.txt", "alpha");
    ASSERT_EQ(publish({"build", dir / "release", server.local(""), "--client-version", "1", "--base-url",
                       server.url(""), "--launcher", l.own_key, "--launcher-version", "2.2.0", "--sign-key",
                       key_file("release"), "--first-signed-release", "--allow-launcher-key-change"})
                  .code,
              0);
    Outcome const checked =
        publish({"verify", server.url("patch/version.json"), "--public-key", public_half("release")});
    EXPECT_EQ(checked.code, 1);
    EXPECT_EQ(checked.out, "signature OK, sequence 1\n" + trusts({public_half("other")}) + "FAILED launcher 2.2.0 (" +
                               server.url("launcher/2.2.0/davari_other_key_NOT_FOR_PLAYERS.exe") +
                               "): none of the keys it trusts signs this release: players who take it refuse the "
                               "next release signed with this key\nNOT OK: 2 files checked, 1 problem.\n");
}

}  // namespace
}  // namespace korvel::test
