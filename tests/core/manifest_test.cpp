#include "core/manifest.h"

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using korvel::build_file_url;
using korvel::read_manifest;
using korvel::test::error_text;

namespace {

std::string const hash_a(64, 'a');
std::string const hash_b(64, 'b');

// One "files" element as JSON text.
std::string entry(std::string const& path, std::string const& size = "1", std::string const& sha = hash_a) {
    return R"({"path": ")" + path + R"(", "size": )" + size + R"(, "sha256": ")" + sha + R"("})";
}

std::vector<std::string> paths_of(korvel::Manifest const& m) {
    std::vector<std::string> paths;
    for (auto const& f : m.files) paths.push_back(f.path);
    return paths;
}

}  // namespace

TEST(Manifest, ReadsFilesInOrderAndSkipsProtectedOnes) {
    std::string const body = R"({"base_url": "https://h/files/", "version": 3, "files": [)" +
                             entry("data/b.bin", "1048576", std::string(32, 'A') + std::string(32, 'f')) + "," +
                             entry("Davari.EXE") + "," + entry("UserData/x.cfg") + "," + entry("userdata\\\\y.cfg") +
                             "," + entry("sub/mouse.cfg", "7.9") + "," + entry("a.bin", "0") + "," +
                             entry("data/b.bin", "2", hash_b) + "," + entry(".korvel/release.sequence") + "," +
                             entry(".KORVEL_update\\\\davari.new.exe") + R"(], "delete": ["old/x.dll", "userdata", )" +
                             R"("ZIVUR2.cfg", ".Korvel/patch.lock", "old/y.dll"]})";
    auto const m = read_manifest(body);
    EXPECT_EQ(m.base_url, "https://h/files/");
    ASSERT_EQ(paths_of(m), (std::vector<std::string>{"data/b.bin", "sub/mouse.cfg", "a.bin", "data/b.bin"}));
    EXPECT_EQ(m.files[0].size, 1048576u);
    EXPECT_EQ(m.files[0].sha256, std::string(32, 'a') + std::string(32, 'f'));
    EXPECT_EQ(m.files[1].size, 7u);  // fractions are truncated
    EXPECT_EQ(m.files[3].size, 2u);  // duplicates are both kept, in order
    EXPECT_EQ(m.files[3].sha256, hash_b);
    EXPECT_EQ(m.deletes, (std::vector<std::string>{"old/x.dll", "old/y.dll"}));

    auto const empty = read_manifest(R"({"base_url": "b", "files": []})");
    EXPECT_TRUE(empty.files.empty());
    EXPECT_TRUE(empty.deletes.empty());
}

TEST(Manifest, FilesAndDeleteAreWalkedAsTheLibraryIterates) {
    // An object gives its member values in key order, null gives nothing.
    auto m = read_manifest(R"({"base_url": "b", "files": {"z": )" + entry("first") + R"(, "a": )" + entry("second") +
                           R"(}, "delete": {"y": "one", "b": "two"}})");
    EXPECT_EQ(paths_of(m), (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(m.deletes, (std::vector<std::string>{"two", "one"}));

    // A repeated key: its last value counts.
    m = read_manifest(R"({"base_url": "b", "files": [)" + entry("../x") + R"(], "files": [)" + entry("last") + "]}");
    EXPECT_EQ(paths_of(m), (std::vector<std::string>{"last"}));

    m = read_manifest(R"({"base_url": "b", "files": null, "delete": null})");
    EXPECT_TRUE(m.files.empty());
    EXPECT_TRUE(m.deletes.empty());

    // A single value is one element.
    m = read_manifest(R"({"base_url": "b", "files": [], "delete": "old/one.pak"})");
    EXPECT_EQ(m.deletes, (std::vector<std::string>{"old/one.pak"}));
    EXPECT_EQ(error_text([] { read_manifest(R"({"base_url": "b", "files": "x.bin"})"); }),
              "[json.exception.type_error.304] cannot use at() with string");
    // A lone entry object is walked by its values, so its path string is the first element.
    EXPECT_EQ(error_text([] { read_manifest(R"({"base_url": "b", "files": )" + entry("x") + "}"); }),
              "[json.exception.type_error.304] cannot use at() with string");
}

TEST(Manifest, ErrorTexts) {
    std::string const ok = entry("ok.bin");
    struct Case {
        std::string body;
        std::string error;
    } const cases[] = {
        {"[1]", "[json.exception.type_error.304] cannot use at() with array"},
        {"true", "[json.exception.type_error.304] cannot use at() with boolean"},
        {R"({"files": []})", "[json.exception.out_of_range.403] key 'base_url' not found"},
        {R"({"base_url": 1, "files": []})", "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"base_url": "", "files": 5})", "A manifest base_url értéke üres."},
        {R"({"base_url": "b"})", "[json.exception.out_of_range.403] key 'files' not found"},
        {R"({"base_url": "b", "files": [)" + ok + ", 5]}", "[json.exception.type_error.304] cannot use at() with number"},
        {R"({"base_url": "b", "files": [[]]})", "[json.exception.type_error.304] cannot use at() with array"},
        {R"({"base_url": "b", "files": [{"size": 1, "sha256": "x"}]})",
         "[json.exception.out_of_range.403] key 'path' not found"},
        {R"({"base_url": "b", "files": [{"path": "../x", "sha256": "x"}]})",
         "[json.exception.out_of_range.403] key 'size' not found"},
        {R"({"base_url": "b", "files": [{"path": "x", "size": 1}]})",
         "[json.exception.out_of_range.403] key 'sha256' not found"},
        {R"({"base_url": "b", "files": [{"path": 1, "size": 1, "sha256": "x"}]})",
         "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"base_url": "b", "files": [{"path": "x", "size": "1", "sha256": "x"}]})",
         "[json.exception.type_error.302] type must be number, but is string"},
        {R"({"base_url": "b", "files": [{"path": "x", "size": true, "sha256": "x"}]})",
         "[json.exception.type_error.302] type must be number, but is boolean"},
        {R"({"base_url": "b", "files": [{"path": "x", "size": 1, "sha256": null}]})",
         "[json.exception.type_error.302] type must be string, but is null"},
        // Unsafe paths and hashes of the wrong length.
        {R"({"base_url": "b", "files": [)" + entry("../x") + "]}", "Érvénytelen manifest bejegyzés: ../x"},
        {R"({"base_url": "b", "files": [)" + entry("/x") + "]}", "Érvénytelen manifest bejegyzés: /x"},
        {R"({"base_url": "b", "files": [)" + entry("C:x") + "]}", "Érvénytelen manifest bejegyzés: C:x"},
        {R"({"base_url": "b", "files": [)" + entry("a:b") + "]}", "Érvénytelen manifest bejegyzés: a:b"},
        {R"({"base_url": "b", "files": [)" + entry("data\\\\..\\\\..\\\\x") + "]}",
         "Érvénytelen manifest bejegyzés: data\\..\\..\\x"},
        {R"({"base_url": "b", "files": [)" + entry("") + "]}", "Érvénytelen manifest bejegyzés: "},
        {R"({"base_url": "b", "files": [)" + entry("x", "1", std::string(63, 'a')) + "]}",
         "Érvénytelen manifest bejegyzés: x"},
        {R"({"base_url": "b", "files": [)" + entry("y", "1", std::string(65, 'a')) + "]}",
         "Érvénytelen manifest bejegyzés: y"},
        // Even a protected name is checked for safety first.
        {R"({"base_url": "b", "files": [)" + entry("davari.exe.") + "]}", "Érvénytelen manifest bejegyzés: davari.exe."},
        // Deletions: strings only, safe only; files are read before them.
        {R"({"base_url": "b", "files": [], "delete": ["a", 2]})",
         "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"base_url": "b", "files": [], "delete": ["a", "..\\x"]})", "Érvénytelen törlési útvonal: ..\\x"},
        {R"({"base_url": "b", "files": [], "delete": ["C:\\Windows\\x.dll"]})",
         "Érvénytelen törlési útvonal: C:\\Windows\\x.dll"},
        {R"({"base_url": "b", "files": [], "delete": "UserData /x"})", "Érvénytelen törlési útvonal: UserData /x"},
        {R"({"base_url": "b", "files": [)" + entry("/x") + R"(], "delete": [1]})", "Érvénytelen manifest bejegyzés: /x"},
        // Entries are read while the text is parsed, but fail in the order of a walk after it.
        {R"({"files": [)" + ok + "," + entry("../x") + R"(], "base_url": ""})", "A manifest base_url értéke üres."},
        {R"({"base_url": "b", "files": [)" + ok + "," + entry("../x") + "," + ok + ", 5]}",
         "Érvénytelen manifest bejegyzés: ../x"},
        {R"({"base_url": "b", "files": [)" + ok + R"(], "files": 5})",
         "[json.exception.type_error.304] cannot use at() with number"},
        // A cut-off document.
        {R"({"base_url": "b", "files": [)" + ok + "]",
         "[json.exception.parse_error.101] parse error at line 1, column 137: syntax error while parsing object - "
         "unexpected end of input; expected '}'"},
    };
    for (auto const& c : cases) EXPECT_EQ(error_text([&] { read_manifest(c.body); }), c.error) << c.body;

    // A 64-character hash of any content passes here; it simply never matches a file.
    EXPECT_EQ(read_manifest(R"({"base_url": "b", "files": [)" + entry("x", "1", std::string(64, 'Z')) + "]}")
                  .files.at(0)
                  .sha256,
              std::string(64, 'z'));
}

TEST(Manifest, FileUrls) {
    struct Case {
        char const* base;
        char const* path;
        char const* url;
    } const cases[] = {
        {"https://h/files/", "data/my file.bin", "https://h/files/data/my%20file.bin"},
        {"https://h/files//", "//a b", "https://h/files/a%20b"},
        {"https://h/files", "data\\x.bin", "https://h/files/data%5Cx.bin"},
        {"http://h:8080/a b/", "\xC3\xA1rv\xC3\xADz#1?.pak", "http://h:8080/a b/%C3%A1rv%C3%ADz%231%3F.pak"},
        {"https://h/", "-._~/x+y%", "https://h/-._~/x%2By%25"},
    };
    for (auto const& c : cases) EXPECT_EQ(build_file_url(c.base, c.path), c.url) << c.path;
}

// Chunk indexes are named relative to base_url now, absolute in releases published before.
TEST(Manifest, ChunkIndexUrls) {
    struct Case {
        char const* base;
        char const* url;
        char const* resolved;
    } const cases[] = {
        {"https://h/r/7/files", "../chunks/a.idx", "https://h/r/7/chunks/a.idx"},
        {"https://h/r/7/files/", "../chunks/a.idx", "https://h/r/7/chunks/a.idx"},
        {"https://h:8443/r/7/files", "../../x/a.idx", "https://h:8443/r/x/a.idx"},
        {"https://h/files", "a.idx", "https://h/files/a.idx"},
        {"https://h/files", "../a.idx", "https://h/a.idx"},
        {"https://h/files", "../../a.idx", ""},
        {"https://h", "../a.idx", ""},
        {"https://h/r/7/files", "https://old.example/r/7/chunks/a.idx", "https://old.example/r/7/chunks/a.idx"},
        {"https://h/r/7/files", "HTTP://H/a.idx", "HTTP://H/a.idx"},
        {"https://h/r/7/files", "x/y://z", "https://h/r/7/files/x/y://z"},
    };
    for (auto const& c : cases) EXPECT_EQ(korvel::chunk_index_url(c.base, c.url), c.resolved) << c.base << " " << c.url;
}

// What the publisher writes, the launcher reads back as it was given.
TEST(Manifest, WrittenManifestReadsBackUnchanged) {
    auto index = std::make_shared<korvel::ChunkIndexRef const>(
        korvel::ChunkIndexRef{"https://h/r/1/chunks/x.idx", 4096, hash_b, 96, hash_a});
    korvel::Manifest const written{"https://h/r/1/files",
                                   {{"b.pak", 1ull << 40, hash_a, index}, {"dir/\xC3\xA1.txt", 0, hash_b, nullptr}},
                                   {"old.bin"}};
    std::string const text = korvel::write_manifest(written);
    EXPECT_TRUE(text.ends_with("}\n"));
    korvel::Manifest const read = read_manifest(text);
    EXPECT_EQ(read.base_url, written.base_url);
    EXPECT_EQ(paths_of(read), paths_of(written));
    EXPECT_EQ(read.files[0].size, 1ull << 40);
    ASSERT_NE(read.files[0].chunk_index, nullptr);
    EXPECT_EQ(read.files[0].chunk_index->url, index->url);
    EXPECT_EQ(read.files[0].chunk_index->head_size, 96u);
    EXPECT_EQ(read.files[1].chunk_index, nullptr);
    EXPECT_EQ(read.deletes, written.deletes);
    EXPECT_EQ(korvel::write_manifest({"u", {}, {}}).find("delete"), std::string::npos);
}
