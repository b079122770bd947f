// The native korvel-publish on real folders: what `build` writes, read back with the
// launcher's own readers; what it refuses; how a rebuild repairs a damaged release; and
// `verify` against the test patch server. (The engine's own run over a published tree
// is in tests/publisher, under Wine.)
#include "core/chunk_index.h"
#include "core/manifest.h"
#include "core/version_document.h"
#include "publisher/host.h"
#include "publisher/path_rules.h"
#include "publisher/publish_command.h"
#include "publisher/release_build.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace korvel::test {
namespace {

using Files = std::map<std::string, std::string>;

// Every file below `root` with its bytes, "/" between folders.
Files tree(fs::path const& root) {
    Files files;
    if (!fs::exists(root)) return files;
    for (auto const& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = read_file(entry.path());
    return files;
}

class PublishTest : public ::testing::Test {
protected:
    // Replaces the release folder's content with `files`.
    void release(Files const& files) {
        fs::remove_all(dir / "release");
        fs::create_directories(dir / "release");
        for (auto const& [path, bytes] : files) write_file(dir / "release" / path, bytes);
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
        EXPECT_EQ(f.sha256, sha256_hex(files.at(f.path))) << f.path;
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
    // The unkeyed launcher build, offered in an unsigned release: the pair that follows no signature.
    std::string const launcher = read_file(build_dir() / "bin" / "davari.exe");
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
    EXPECT_EQ(v.launcher.sha256, sha256_hex(launcher));
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

// Files from 1 MiB get a chunk index below releases/V/chunks/, named by the file's
// SHA-256 and listed in its manifest entry; an unchanged file keeps its index through
// --previous; --no-delta writes none.
TEST_F(PublishTest, ChunkIndexesOfLargeFilesAndTheirReuse) {
    std::string const pack = random_bytes(3 << 20, 5);
    release({{"pack.bin", pack}, {"copy/pack.bin", pack}, {"small.bin", random_bytes((1 << 20) - 1, 6)},
             {"other.bin", random_bytes(1 << 20, 7)}});
    build("1");
    Manifest const m1 = manifest("1");
    std::map<std::string, FileEntry> entries;
    for (FileEntry const& e : m1.files) entries[e.path] = e;
    EXPECT_FALSE(entries["small.bin"].chunk_index);
    ASSERT_TRUE(entries["pack.bin"].chunk_index && entries["copy/pack.bin"].chunk_index && entries["other.bin"].chunk_index);
    ChunkIndexRef const& ref = *entries["pack.bin"].chunk_index;
    EXPECT_EQ(ref.url, "../chunks/" + entries["pack.bin"].sha256 + ".idx");
    EXPECT_EQ(chunk_index_url(m1.base_url, ref.url),
              "https://patch.example.com/releases/1/chunks/" + entries["pack.bin"].sha256 + ".idx");
    EXPECT_EQ(entries["copy/pack.bin"].chunk_index->url, ref.url);
    fs::path const index_path = out / "releases/1/chunks" / (entries["pack.bin"].sha256 + ".idx");
    std::string const index = read_file(index_path);
    EXPECT_EQ(index, chunk_index_of(pack.data(), pack.size()));
    EXPECT_EQ(ref.size, index.size());
    EXPECT_EQ(ref.head_size, read_chunk_index_head(index).head_size());
    EXPECT_EQ(tree(out / "releases/1/chunks").size(), 2u);

    // pack.bin unchanged, other.bin changed: the first index is linked, the second made anew.
    std::string const other2 = random_bytes(1 << 20, 8);
    release({{"pack.bin", pack}, {"other.bin", other2}});
    build("2", "1");
    Manifest const m2 = manifest("2");
    fs::path const reused = out / "releases/2/chunks" / (entries["pack.bin"].sha256 + ".idx");
    EXPECT_TRUE(fs::equivalent(reused, index_path));
    for (FileEntry const& e : m2.files) {
        ASSERT_TRUE(e.chunk_index) << e.path;
        EXPECT_EQ(e.chunk_index->url, "../chunks/" + e.sha256 + ".idx") << e.path;
    }
    EXPECT_EQ(read_file(out / "releases/2/chunks" / (m2.files[0].sha256 + ".idx")),
              chunk_index_of(other2.data(), other2.size()));

    BuildOptions o = options("3");
    o.chunk_indexes = false;
    std::ostringstream progress;
    build_release(o, progress);
    EXPECT_FALSE(fs::exists(out / "releases/3/chunks"));
    for (FileEntry const& e : manifest("3").files) EXPECT_FALSE(e.chunk_index) << e.path;
}

TEST_F(PublishTest, PathRulesOfTheLauncher) {
    auto long_name = [](std::size_t count, std::string const& piece) {
        std::string name;
        for (std::size_t i = 0; i < count; ++i) name += piece;
        return name;
    };
    struct Case {
        std::string path;
        bool accepted;
    };
    std::vector<Case> const cases = {
        {"data/file.bin", true},        {"sub/zivur2.cfg", true},     {"a.korvel.partial", true},
        {"davari.exe", false},          {"DAVARI.EXE", false},        {"UserData/x.cfg", false},
        {"mouse.cfg", false},           {"x.korvel.part", false},     {"d/X.KORVEL.PART", false},
        {"CON", false},                 {"data/nul.txt", false},      {"trailing./x", false},
        {"space ", false},              {"a:b", false},               {".korvel/hash_cache.json", false},
        {".korvel_update/davari.new.exe", false}, {"\xC3", false},  {"q?.txt", false},
        {"a<b>.txt", false},            {"tab\t.txt", false},
        // A release path leaves room for the game folder; counted in UTF-16 units, as
        // Windows counts, and no Windows name holds more than 255.
        {long_name(160, "x"), true},    {long_name(161, "x"), false},  {long_name(256, "x"), false},
        {long_name(160, "\xC3\xA9"), true},                    // two bytes, one unit each
        {long_name(80, "\xF0\x9F\x8E\xAE"), true},           // four bytes, two units each
        {long_name(81, "\xF0\x9F\x8E\xAE"), false},
        {long_name(80, "d/").substr(0, 158) + "/x", true},     {long_name(80, "d/").substr(0, 158) + "/xy", false},
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
    EXPECT_EQ(run_publish_command({"build", dir / "release", out, "--client-version", "../1", "--base-url", "https://x"},
                                  o, e),
              2);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PublishTest, RerunOnAnUnchangedReleaseChangesOnlyTheVersionDocument) {
    release({{"a.txt", "a"}, {"d/b.txt", "b"}});
    build("1.0");
    auto snapshot = [&] {
        std::map<std::string, std::pair<std::string, fs::file_time_type>> s;
        for (auto const& entry : fs::recursive_directory_iterator(out))
            if (entry.is_regular_file() && entry.path().filename() != "version.json")
                s[entry.path().generic_string()] = {read_file(entry.path()), entry.last_write_time()};
        return s;
    };
    auto const before = snapshot();
    std::string const version = read_file(out / "patch" / "version.json");
    BuildSummary const again = build("1.0");
    EXPECT_TRUE(again.already_published);
    EXPECT_TRUE(again.version_unchanged);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(read_file(out / "patch" / "version.json"), version);

    // A published release is never rewritten: other bytes under the same version are refused.
    release({{"a.txt", "changed"}, {"d/b.txt", "b"}});
    EXPECT_THROW(build("1.0"), PublishRefused);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PublishTest, RebuildRestoresADamagedReleaseOrRefusesNamingIt) {
    Files const files = {{"a.txt", "aaaa"}, {"d/b.bin", random_bytes(70000, 5)}, {"d/c.txt", "cc"}, {"e.txt", "e"}};
    release(files);
    build("1");
    fs::path const served = out / "releases" / "1" / "files";
    write_file(served / "a.txt", "AAAA");  // same size, other bytes
    fs::remove(served / "d" / "b.bin");
    write_file(served / "d" / "c.txt", "c");

    std::ostringstream o, e;
    ASSERT_EQ(run_publish_command({"build", dir / "release", out, "--client-version", "1", "--base-url", base_url}, o, e),
              0)
        << e.str();
    EXPECT_NE(o.str().find("Release 1 was already published with the same files; restored 3 damaged files:\n"
                           "  a.txt\n  d/b.bin\n  d/c.txt\n"),
              std::string::npos)
        << o.str();
    EXPECT_EQ(tree(served), files);
    EXPECT_TRUE(build("1").restored.empty());

    // A folder where a file belongs cannot be replaced: the rebuild names it and does
    // not name the release in a new version document.
    fs::remove(out / "patch" / "version.json");
    fs::remove(served / "e.txt");
    fs::create_directories(served / "e.txt" / "x");
    try {
        build("1");
        FAIL() << "reported a damaged release as fine";
    } catch (PublishRefused const& refused) {
        ASSERT_EQ(refused.problems().size(), 1u);
        EXPECT_TRUE(refused.problems()[0].starts_with("e.txt: damaged in the published release 1 and not restored"))
            << refused.problems()[0];
    }
    EXPECT_FALSE(fs::exists(out / "patch" / "version.json"));
    EXPECT_FALSE(fs::exists(served / "e.txt.restoring"));
}

// A linked folder is published with what it holds (a player gets the files, not the
// link); one that leads back into the walk is refused by name, and nothing is written.
TEST_F(PublishTest, LinkedFoldersArePublishedAndALoopIsRefused) {
    fs::path const assets = fs::absolute(dir / "assets");
    write_file(assets / "pack.bin", "pack");
    release({{"a.txt", "a"}});
    fs::create_directory_symlink(assets, dir / "release" / "assets");
    fs::create_symlink(assets / "pack.bin", dir / "release" / "linked.bin");
    build("1");
    EXPECT_EQ(tree(out / "releases" / "1" / "files"),
              (Files{{"a.txt", "a"}, {"assets/pack.bin", "pack"}, {"linked.bin", "pack"}}));

    fs::create_directory_symlink(fs::absolute(dir / "release"), assets / "again");
    auto const before = tree(out);
    try {
        build("2");
        FAIL() << "published a folder loop";
    } catch (PublishRefused const& e) {
        EXPECT_EQ(e.problems(),
                  std::vector<std::string>{"assets/again: a folder link that leads back into a folder it lies in"});
    }
    EXPECT_EQ(tree(out), before);
}

// An old copy damaged on the server's disk (same size) is never linked into the next
// release: the new release gets the release folder's bytes.
TEST_F(PublishTest, ADamagedOldCopyIsCopiedAgainNotLinked) {
    release({{"a.bin", "aaaa"}, {"b.bin", "bbbb"}});
    build("1");
    write_file(out / "releases" / "1" / "files" / "a.bin", "AAAA");
    BuildSummary const s = build("2", "1");
    EXPECT_EQ(s.linked, 1u);
    EXPECT_EQ(tree(out / "releases" / "2" / "files"), (Files{{"a.bin", "aaaa"}, {"b.bin", "bbbb"}}));
}

TEST(PublishVerify, EveryFileStreamedAndDamageReportedInManifestOrder) {
    ServedFolder server("verify");
    TempDir dir("verify");
    Files files = {{"big.bin", random_bytes(3 << 20, 7)},
                   {"big2.bin", random_bytes(1 << 20, 8)},
                   {"\xC3\x89kezetes/\xC5\x91 %.txt", "accents"}};
    for (int i = 0; i < 40; ++i) files["f/" + std::to_string(10 + i) + ".bin"] = random_bytes(1000 + 37 * i, 10 + i);
    for (auto const& [path, bytes] : files) write_file(dir / "release" / path, bytes);
    std::ostringstream built, build_err;
    ASSERT_EQ(run_publish_command({"build", dir / "release", server.local(""), "--client-version", "1", "--base-url",
                                   server.url("")},
                                  built, build_err),
              0)
        << build_err.str();

    std::vector<std::string> const verify = {"verify", server.url("patch/version.json")};
    std::ostringstream ok, ok_err;
    EXPECT_EQ(run_publish_command(verify, ok, ok_err), 0) << ok.str() << ok_err.str();
    EXPECT_EQ(ok.str(), "OK: 43 files checked, 0 problems.\n");

    std::string const listed = server.local("").native() + "/releases/1/files/";
    write_file(listed + "f/11.bin", random_bytes(1037, 99));  // same size, other bytes
    fs::remove(listed + "f/12.bin");
    write_file(listed + "f/13.bin", random_bytes(5000, 13));
    server.set_fault("releases/1/files/f/14.bin", {.reset_after = 100});
    Manifest const published = read_manifest(read_file(server.local("releases/1/manifest.json")));
    fs::path const big_index = server.local("releases/1/chunks/" + published.files[0].sha256 + ".idx");
    std::string wrong_index = read_file(big_index);
    // big2.bin's entry names a copy of big.bin's index: whole and as listed, but of other bytes.
    write_file(server.local("releases/1/chunks/copy.idx"), wrong_index);
    nlohmann::json manifest_json = nlohmann::json::parse(read_file(server.local("releases/1/manifest.json")));
    manifest_json["files"][1]["chunk_index"] = manifest_json["files"][0]["chunk_index"];
    manifest_json["files"][1]["chunk_index"]["url"] = server.url("releases/1/chunks/copy.idx");
    write_file(server.local("releases/1/manifest.json"), manifest_json.dump(2));
    wrong_index[wrong_index.size() - 1] ^= 1;
    write_file(big_index, wrong_index);
    std::ostringstream bad, bad_err;
    EXPECT_EQ(run_publish_command(verify, bad, bad_err), 1);
    std::string const text = bad.str();
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    ASSERT_EQ(lines.size(), 7u) << text;
    EXPECT_EQ(lines[0], "FAILED big.bin: chunk index " + server.url("releases/1/chunks/") + published.files[0].sha256 +
                            ".idx: size or SHA-256 not as listed")
        << text;
    EXPECT_EQ(lines[1], "FAILED big2.bin: the chunk index does not match the file") << text;
    EXPECT_TRUE(lines[2].starts_with("FAILED f/11.bin: SHA-256 ")) << text;
    EXPECT_TRUE(lines[3].starts_with("FAILED f/12.bin: unreachable: HTTP 404: " + server.url(""))) << text;
    EXPECT_EQ(lines[4], "FAILED f/13.bin: larger than the listed 1111 bytes") << text;
    EXPECT_TRUE(lines[5].starts_with("FAILED f/14.bin: unreachable: ")) << text;
    EXPECT_EQ(lines[6], "NOT OK: 43 files checked, 6 problems.") << text;
}

}  // namespace
}  // namespace korvel::test
