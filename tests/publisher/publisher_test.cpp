// korvel-publish on real folders: what `build` writes, read back with the launcher's own
// readers; what it refuses; and a published tree served by the test patch server,
// patched by the engine and checked by `verify`.
#include "core/manifest.h"
#include "patcher/patcher_engine.h"
#include "core/version_document.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "publisher/path_rules.h"
#include "publisher/publish_command.h"
#include "publisher/release_build.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace korvel::test {
namespace {

using Files = std::map<std::string, std::string>;

fs::path path_of(std::string const& utf8) {
    return fs::path(utf8_to_wide(utf8));
}

std::string digest_of(std::string const& bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return to_hex(hash.finalize());
}

// Every file below `root` with its bytes, "/" between folders.
Files tree(fs::path const& root) {
    Files files;
    if (!fs::exists(root)) return files;
    for (auto const& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[wide_to_utf8(entry.path().lexically_relative(root).generic_wstring())] = read_file(entry.path());
    return files;
}

class PublishTest : public ::testing::Test {
protected:
    // Replaces the release folder's content with `files`.
    void release(Files const& files) {
        fs::remove_all(dir / "release");
        fs::create_directories(dir / "release");
        for (auto const& [path, bytes] : files) write_file(dir / "release" / path_of(path), bytes);
    }

    BuildOptions options(std::string const& version) const {
        BuildOptions o;
        o.release_dir = dir / "release";
        o.out_dir = out;
        o.client_version = version;
        o.base_url = base_url;
        return o;
    }

    BuildSummary build(std::string const& version, std::string const& previous = {}) {
        BuildOptions o = options(version);
        if (!previous.empty()) o.previous_manifest = out / "releases" / previous / "manifest.json";
        std::ostringstream progress;
        return build_release(o, progress);
    }

    Manifest manifest(std::string const& version) const {
        return read_manifest(read_file(out / "releases" / version / "manifest.json"));
    }

    TempDir dir{"publish"};
    fs::path out = dir / "out";
    std::string base_url = "https://patch.example.com/";
};

TEST_F(PublishTest, ManifestAndVersionDocumentReadBackByTheLaunchersReaders) {
    Files const files = {{"zeta.txt", "z"},
                         {"data/big.bin", random_bytes(3 * 1024 * 1024 + 17, 1)},
                         {"data/sub/with space.txt", ""},
                         {"Ékezetes/ő.txt", "árvíztűrő"}};
    release(files);
    BuildSummary const s = build("1.0.0");
    EXPECT_EQ(s.files, 4u);

    Manifest const m = manifest("1.0.0");
    EXPECT_EQ(m.base_url, "https://patch.example.com/releases/1.0.0/files");
    std::vector<std::string> listed;
    for (FileEntry const& f : m.files) {
        listed.push_back(f.path);
        ASSERT_TRUE(files.count(f.path)) << f.path;
        EXPECT_EQ(f.size, files.at(f.path).size()) << f.path;
        EXPECT_EQ(f.sha256, digest_of(files.at(f.path))) << f.path;
    }
    // Byte order of the UTF-8 paths: the same release always gives the same manifest.
    EXPECT_EQ(listed, (std::vector<std::string>{"data/big.bin", "data/sub/with space.txt", "zeta.txt",
                                                "\xC3\x89kezetes/\xC5\x91.txt"}));
    EXPECT_TRUE(m.deletes.empty());
    EXPECT_EQ(tree(out / "releases" / "1.0.0" / "files"), files);

    VersionDocument const v = read_version_document(read_file(out / "patch" / "version.json"));
    EXPECT_EQ(v.client_version, "1.0.0");
    EXPECT_EQ(v.manifest_url, "https://patch.example.com/releases/1.0.0/manifest.json");
    EXPECT_FALSE(v.launcher_offered);
}

TEST_F(PublishTest, LauncherEntryNamesThePublishedLauncher) {
    release({{"a.txt", "a"}});
    std::string const launcher = random_bytes(70000, 4);
    write_file(dir / "new" / "davari.exe", launcher);
    BuildOptions o = options("1");
    o.launcher_file = dir / "new" / "davari.exe";
    o.launcher_version = "2.2.0";
    std::ostringstream progress;
    build_release(o, progress);

    VersionDocument const v = read_version_document(read_file(out / "patch" / "version.json"));
    EXPECT_TRUE(v.launcher_offered);
    EXPECT_EQ(v.launcher.version, "2.2.0");
    EXPECT_EQ(v.launcher.url, "https://patch.example.com/launcher/2.2.0/davari.exe");
    EXPECT_EQ(v.launcher.sha256, digest_of(launcher));
    EXPECT_EQ(v.launcher.size, launcher.size());
    EXPECT_EQ(read_file(out / "launcher" / "2.2.0" / "davari.exe"), launcher);
}

TEST_F(PublishTest, DeletesComeFromThePreviousReleaseAndUnchangedFilesAreLinked) {
    release({{"keep.bin", random_bytes(100000, 2)}, {"gone.txt", "1"}, {"old/x.txt", "2"}, {"Readme.TXT", "3"}});
    build("1");
    release({{"keep.bin", random_bytes(100000, 2)}, {"readme.txt", "3 renamed"}, {"new.txt", "4"}});
    BuildSummary const s2 = build("2", "1");
    EXPECT_EQ(s2.linked, 1u);
    // "Readme.TXT" is the same file on Windows as the new "readme.txt": deleting it after
    // the download would remove the new file.
    EXPECT_EQ(manifest("2").deletes, (std::vector<std::string>{"gone.txt", "old/x.txt"}));

    // A player who skips release 2 still loses what release 2 deleted.
    release({{"keep.bin", random_bytes(100000, 2)}, {"new.txt", "4"}});
    build("3", "2");
    EXPECT_EQ(manifest("3").deletes, (std::vector<std::string>{"gone.txt", "old/x.txt", "readme.txt"}));
}

TEST_F(PublishTest, PathRulesOfTheLauncher) {
    struct Case {
        char const* path;
        bool accepted;
    };
    Case const cases[] = {
        {"data/file.bin", true},        {"sub/zivur2.cfg", true},     {"a.korvel.partial", true},
        {"davari.exe", false},          {"DAVARI.EXE", false},        {"UserData/x.cfg", false},
        {"mouse.cfg", false},           {"x.korvel.part", false},     {"d/X.KORVEL.PART", false},
        {"CON", false},                 {"data/nul.txt", false},      {"trailing./x", false},
        {"space ", false},              {"a:b", false},               {".korvel/hash_cache.json", false},
        {".korvel_update/davari.new.exe", false}, {"\xC3", false},  {"q?.txt", false},
        {"a<b>.txt", false},            {"tab\t.txt", false},
    };
    for (Case const& c : cases) EXPECT_EQ(publish_path_problem(c.path).empty(), c.accepted) << c.path;

    EXPECT_EQ(case_collisions({"a/b.txt", "A/B.TXT", "Ő.txt", "ő.txt", "data", "DATA/x", "ok/y"}),
              (std::vector<std::string>{"A/B.TXT and a/b.txt differ only in letter case",
                                        "ő.txt and Ő.txt differ only in letter case",
                                        "data is a file, but DATA/x needs a folder of that name"}));
}

TEST_F(PublishTest, RefusalNamesEveryOffendingPathAndWritesNothing) {
    release({{"ok.txt", "fine"}, {"davari.exe", "MZ"}, {"UserData/launcher_settings.ini", "x"},
             {"data/pack.bin.korvel.part", "half"}});
    try {
        build("1");
        FAIL() << "published a release the launcher cannot take";
    } catch (PublishRefused const& e) {
        std::vector<std::string> named;
        for (std::string const& p : e.problems()) named.push_back(p.substr(0, p.find(':')));
        std::sort(named.begin(), named.end());
        EXPECT_EQ(named, (std::vector<std::string>{"UserData/launcher_settings.ini", "data/pack.bin.korvel.part",
                                                   "davari.exe"}));
    }
    EXPECT_FALSE(fs::exists(out));

    // An output folder inside the release would be published into the next release.
    BuildOptions inside = options("1");
    inside.out_dir = dir / "release" / "out";
    std::ostringstream progress;
    EXPECT_THROW(build_release(inside, progress), std::invalid_argument);
    EXPECT_FALSE(fs::exists(inside.out_dir));

    std::ostringstream o, e;
    EXPECT_EQ(run_publish_command({L"build", (dir / "release").wstring(), out.wstring(), L"--client-version",
                                   L"../1", L"--base-url", L"https://x"}, o, e), 2);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PublishTest, RerunOnAnUnchangedReleaseChangesOnlyTheVersionDocument) {
    release({{"a.txt", "a"}, {"d/b.txt", "b"}});
    build("1.0");
    auto snapshot = [&] {
        std::map<std::string, std::pair<std::string, fs::file_time_type>> s;
        for (auto const& entry : fs::recursive_directory_iterator(out))
            if (entry.is_regular_file() && entry.path().filename() != "version.json")
                s[wide_to_utf8(entry.path().generic_wstring())] = {read_file(entry.path()), entry.last_write_time()};
        return s;
    };
    auto const before = snapshot();
    BuildSummary const again = build("1.0");
    EXPECT_TRUE(again.already_published);
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(fs::exists(out / "patch" / "version.json"));

    // A published release is never rewritten: other bytes under the same version are refused.
    release({{"a.txt", "changed"}, {"d/b.txt", "b"}});
    EXPECT_THROW(build("1.0"), PublishRefused);
    EXPECT_EQ(snapshot(), before);
}

TEST(PublishEndToEnd, ServedReleasesPatchAnEmptyGameFolderAndVerifyNamesAnAlteredFile) {
    ServedFolder server("publish");
    TempDir dir("publish-e2e");
    fs::path const out = server.local("");
    auto publish = [&](Files const& files, std::string const& version, std::string const& previous) {
        fs::remove_all(dir / "release");
        for (auto const& [path, bytes] : files) write_file(dir / "release" / path_of(path), bytes);
        std::vector<std::wstring> args = {L"build", (dir / "release").wstring(), out.wstring(),
                                          L"--client-version", path_of(version).wstring(), L"--base-url",
                                          path_of(server.url("")).wstring()};
        if (!previous.empty())
            args.insert(args.end(), {L"--previous", (out / "releases" / previous / "manifest.json").wstring()});
        std::ostringstream o, e;
        ASSERT_EQ(run_publish_command(args, o, e), 0) << e.str();
    };
    PatchConfig config;
    config.game_dir = dir / "game";
    config.version_file = dir / "state" / "client.version";
    config.hash_cache_file = dir / "state" / "hash_cache.json";
    config.version_url = server.url("patch/version.json");
    config.launcher_version = "2.1.0";

    Files const first = {{"bat.exe", "client 1"}, {"data/pack.bin", random_bytes(2 << 20, 3)}, {"data/old.txt", "o"}};
    publish(first, "1", "");
    fs::create_directories(config.game_dir);
    EXPECT_TRUE(PatcherEngine::run(config, false, {}).ok);
    EXPECT_EQ(tree(config.game_dir), first);

    Files const second = {{"bat.exe", "client 2"}, {"data/pack.bin", random_bytes(2 << 20, 3)}, {"data/new.txt", "n"}};
    publish(second, "2", "1");
    PatchResult const r = PatcherEngine::run(config, false, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.client_version, "2");
    EXPECT_EQ(tree(config.game_dir), second);

    std::vector<std::wstring> const verify = {L"verify", path_of(config.version_url).wstring()};
    std::ostringstream ok_out, ok_err;
    EXPECT_EQ(run_publish_command(verify, ok_out, ok_err), 0) << ok_out.str() << ok_err.str();

    // bat.exe changed in release 2, so its served file is a copy of its own, not a link.
    write_file(out / "releases" / "2" / "files" / "bat.exe", "client X");
    std::ostringstream bad_out, bad_err;
    EXPECT_EQ(run_publish_command(verify, bad_out, bad_err), 1);
    EXPECT_NE(bad_out.str().find("FAILED bat.exe: SHA-256"), std::string::npos) << bad_out.str();
    EXPECT_EQ(bad_out.str().find("FAILED data/"), std::string::npos) << bad_out.str();
}

}  // namespace
}  // namespace korvel::test
