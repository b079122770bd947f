// What `korvel-publish build` guards in OUT_DIR's release history, and `verify` of a
// release on disk before it is uploaded.
#include "core/manifest.h"
#include "core/version_document.h"
#include "tests/native/publish_run.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace fs = std::filesystem;

namespace korvel::test {
namespace {

class ReleaseHistory : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(dir / "r1" / "a.txt", "alpha");
        write_file(dir / "r1" / "b.txt", "beta");
        write_file(dir / "r2" / "a.txt", "alpha");
        write_file(dir / "r2" / "c.txt", "gamma");
        public_key = publish({"keygen", key}).out;
        public_key.pop_back();
        publish({"keygen", other_key});
    }

    // build RELEASE_DIR OUT_DIR --client-version VERSION --base-url BASE EXTRA...
    Outcome build(std::string const& version, std::string const& release, std::vector<std::string> extra,
                  std::string const& base = "https://patch.example.com") {
        std::vector<std::string> args = {"build", dir / release, out, "--client-version", version, "--base-url", base};
        args.insert(args.end(), extra.begin(), extra.end());
        return publish(args);
    }

    std::string signed_first() { return build("1", "r1", {"--sign-key", key, "--first-signed-release"}).err; }

    TempDir dir{"history"};
    fs::path out = dir / "out", key = dir / "key.pem", other_key = dir / "other.pem";
    std::string public_key;
};

TEST_F(ReleaseHistory, EverySlipIsRefusedNamingItsFlagWritesNothingAndPassesWithTheFlag) {
    struct Slip {
        char const* name;
        std::function<void()> history;
        std::vector<std::string> build;  // version, release folder, options
        std::string refusal;
        std::string flag;
        std::string accepted;  // in the output with the flag
    };
    std::vector<Slip> const slips = {
        {"unsigned after signed", [&] { signed_first(); }, {"2", "r2"},
         "the published release 1 (" + (out / "patch" / "version.json").string() +
             ") is signed and this one would not be: launchers built with a release key refuse it",
         "--allow-unsigned", "(changed: client_version, manifest_url, signature removed)"},
        {"another key", [&] { signed_first(); }, {"2", "r2", "--sign-key", other_key},
         "was signed with another key than " + other_key.string(), "--allow-new-key", "signed, sequence 2"},
        {"signed in a fresh OUT_DIR", [] {}, {"1", "r1", "--sign-key", key},
         "OUT_DIR holds no published version document, so the signed sequence would start again at 1",
         "--first-signed-release", "signed, sequence 1\n"},
        {"an older client version again",
         [&] {
             signed_first();
             build("2", "r2", {"--sign-key", key});
         },
         {"1", "r1", "--sign-key", key},
         "release 1 was published before 2, which players have now; if they go back to it, files that only 2 has "
         "(c.txt) stay on players' disks",
         "--go-back", "Going back from 2 to 1: files that only 2 has (c.txt) stay on players' disks"},
        {"another base URL for a published release",
         [&] {
             signed_first();
             build("2", "r2", {"--sign-key", key}, "https://patch.exmaple.com");
         },
         {"2", "r2", "--sign-key", key},
         "release 2 is already published under the base URL https://patch.exmaple.com/releases/2/files, not "
         "https://patch.example.com/releases/2/files",
         "--mend-base-url", "mended: https://patch.example.com/releases/2/manifest-"},
    };
    for (Slip const& slip : slips) {
        SCOPED_TRACE(slip.name);
        fs::remove_all(out);
        slip.history();
        auto const before = folder_state(out);
        std::vector<std::string> options(slip.build.begin() + 2, slip.build.end());
        Outcome const refused = build(slip.build[0], slip.build[1], options);
        EXPECT_EQ(refused.code, 1);
        EXPECT_NE(refused.err.find(slip.refusal), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find(slip.flag), std::string::npos) << refused.err;
        EXPECT_EQ(folder_state(out), before);

        options.push_back(slip.flag);
        Outcome const accepted = build(slip.build[0], slip.build[1], options);
        EXPECT_EQ(accepted.code, 0) << accepted.err;
        EXPECT_NE(accepted.out.find(slip.accepted), std::string::npos) << accepted.out;
    }
}

TEST_F(ReleaseHistory, NoDeletionIsLostNoRebuildChangesAnythingAndABaseURLCanBeMended) {
    signed_first();
    // Without --previous, OUT_DIR's newest release is what the new one is compared with.
    Outcome const second = build("2", "r2", {"--sign-key", key});
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_NE(second.out.find("Previous release: " + (out / "releases" / "1" / "manifest.json").string()),
              std::string::npos)
        << second.out;
    EXPECT_EQ(read_manifest(read_file(out / "releases" / "2" / "manifest.json")).deletes,
              std::vector<std::string>{"b.txt"});

    // The same build again changes nothing, the signed version document included.
    auto const published = folder_state(out);
    Outcome const again = build("2", "r2", {"--sign-key", key});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("version.json, unchanged, signed, sequence 2\n"), std::string::npos) << again.out;
    EXPECT_EQ(folder_state(out), published);

    // A mistyped base URL is warned about, and the same files under the right one, with
    // --mend-base-url, mend it: a new manifest (chunk indexes included) that the version
    // document names, the old one left byte for byte as a cache may hold it.
    write_file(dir / "r3" / "d.txt", "delta");
    write_file(dir / "r3" / "big.bin", random_bytes(2 << 20, 3));
    Outcome const typo = build("3", "r3", {"--sign-key", key}, "https://patch.exmaple.com");
    EXPECT_NE(typo.out.find("Warning: the base URL changes from https://patch.example.com to https://patch.exmaple.com"),
              std::string::npos)
        << typo.out;
    // As the tool wrote it before chunk index URLs were relative: with the base URL inside.
    fs::path const old_manifest = out / "releases" / "3" / "manifest.json";
    Manifest absolute = read_manifest(read_file(old_manifest));
    ASSERT_TRUE(absolute.files.at(0).chunk_index);
    ChunkIndexRef index = *absolute.files[0].chunk_index;
    index.url = chunk_index_url(absolute.base_url, index.url);
    EXPECT_EQ(index.url, "https://patch.exmaple.com/releases/3/chunks/" + absolute.files[0].sha256 + ".idx");
    absolute.files[0].chunk_index = std::make_shared<ChunkIndexRef const>(index);
    std::string const typo_manifest = write_manifest(absolute);
    write_file(old_manifest, typo_manifest);
    Outcome const mended = build("3", "r3", {"--sign-key", key, "--mend-base-url"});
    EXPECT_EQ(mended.code, 0) << mended.err;
    EXPECT_EQ(read_file(old_manifest), typo_manifest);
    std::string const manifest_url = read_version_document(read_file(out / "patch" / "version.json")).manifest_url;
    std::string const mended_name = manifest_url.substr(manifest_url.rfind('/') + 1);
    EXPECT_TRUE(mended_name.starts_with("manifest-") && mended_name != "manifest.json") << manifest_url;
    EXPECT_EQ(read_manifest(read_file(out / "releases" / "3" / mended_name)).base_url,
              "https://patch.example.com/releases/3/files");
    EXPECT_NE(mended.out.find("was already published with the same files under the base URL "
                              "https://patch.exmaple.com/releases/3/files; mended: " + manifest_url),
              std::string::npos)
        << mended.out;
    Outcome const checked = publish({"verify", out, "--public-key", public_key, "--base-url", "https://patch.example.com"});
    EXPECT_EQ(checked.code, 0) << checked.out;
    EXPECT_NE(checked.out.find("signature OK, sequence 4\n"), std::string::npos) << checked.out;
    // Mended once: building it again changes nothing, with the flag or without.
    auto const mended_state = folder_state(out);
    for (std::vector<std::string> const& options :
         {std::vector<std::string>{"--sign-key", key}, {"--sign-key", key, "--mend-base-url"}}) {
        Outcome const again = build("3", "r3", options);
        EXPECT_EQ(again.code, 0) << again.err;
        EXPECT_NE(again.out.find("unchanged, signed, sequence 4\n"), std::string::npos) << again.out;
        EXPECT_EQ(folder_state(out), mended_state);
    }
}

TEST_F(ReleaseHistory, VerifyOfALocalReleaseFindsWhatPlayersWouldMeet) {
    signed_first();
    std::string const other_public = publish({"public-key", other_key}).out;
    fs::path const file = out / "releases" / "1" / "files" / "a.txt";
    fs::path const manifest = out / "releases" / "1" / "manifest.json";
    struct Case {
        char const* name;
        std::function<void()> damage;
        std::vector<std::string> options;
        std::vector<std::string> lines;  // what verify prints before its last line
    };
    std::vector<Case> const cases = {
        {"intact", [] {}, {"--public-key", public_key},
         {"Published under https://patch.example.com", "signature OK, sequence 1"}},
        {"no key", [] {}, {},
         {"Published under https://patch.example.com",
          "signed, sequence 1, but unchecked: give --public-key to check the signature"}},
        {"a damaged file", [&] { write_file(file, "ALPHA"); }, {"--public-key", public_key},
         {"Published under https://patch.example.com", "signature OK, sequence 1",
          "FAILED a.txt: SHA-256 " + sha256_hex("ALPHA") + ", listed " + sha256_hex("alpha")}},
        {"another base URL", [] {}, {"--public-key", public_key, "--base-url", "https://cdn.example.com/"},
         {"Published under https://patch.example.com", "signature OK, sequence 1",
          "FAILED base URL: the release is published under https://patch.example.com, not https://cdn.example.com"}},
        {"another key", [] {}, {"--public-key", other_public.substr(0, other_public.size() - 1)},
         {"Published under https://patch.example.com",
          "FAILED signature: not valid for this public key (the document changed or another key signed it)"}},
        {"files beside another release folder",
         [&] {
             Manifest m = read_manifest(read_file(manifest));
             m.base_url = "https://patch.example.com/releases/0/files";
             write_file(manifest, write_manifest(m));
         },
         {},
         {"signed, sequence 1, but unchecked: give --public-key to check the signature",
          "FAILED layout: the manifest's base_url https://patch.example.com/releases/0/files is not "
          "https://patch.example.com/releases/1/files, beside manifest_url https://patch.example.com/releases/1/manifest.json"}},
    };
    std::string const intact = read_file(manifest);
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        c.damage();
        std::vector<std::string> args = {"verify", out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Outcome const verified = publish(args);
        std::vector<std::string> lines;
        std::istringstream text(verified.out);
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        ASSERT_FALSE(lines.empty());
        bool const ok = lines.back().starts_with("OK: ");
        lines.pop_back();
        // An edited manifest no longer has the signed SHA-256 either.
        std::erase_if(lines, [](std::string const& l) { return l.starts_with("FAILED manifest_sha256: "); });
        EXPECT_EQ(lines, c.lines) << verified.out;
        EXPECT_EQ(ok, c.lines.back().find("FAILED") == std::string::npos);
        EXPECT_EQ(verified.code, ok ? 0 : 1);
        write_file(file, "alpha");
        write_file(manifest, intact);
    }

    // A key that is no key is the operator's typing, not a bad release.
    EXPECT_EQ(publish({"verify", out, "--public-key", "BAAAA="}).code, 2);
    Outcome const help = publish({"build", "--help"});
    EXPECT_TRUE(help.code == 0 && help.out.starts_with("usage:\n")) << help.out;
}

}  // namespace
}  // namespace korvel::test
