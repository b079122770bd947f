#include "patcher/hash_cache.h"

#include "platform/write_whole_file.h"
#include "platform/unique_handle.h"
#include "tests/support/error_text.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::CacheEntry;
using korvel::HashCache;
using korvel::load_hash_cache;
using korvel::save_hash_cache;

namespace {

std::string const hash_a(64, 'a');
std::string const hash_b(64, 'b');

bool same(CacheEntry const& a, CacheEntry const& b) {
    return a.size == b.size && a.modified == b.modified && a.sha256 == b.sha256;
}

bool same(HashCache const& a, HashCache const& b) {
    if (a.size() != b.size()) return false;
    for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib)
        if (ia->first != ib->first || !same(ia->second, ib->second)) return false;
    return true;
}

}  // namespace

TEST(HashCache, SavedBytesExactly) {
    test::TempDir dir("cache");
    fs::path const file = dir / ".korvel" / "hash_cache.json";
    HashCache cache;
    cache["data/b.bin"] = {1048576, 133500000000000000u, hash_b};
    cache["Z.bin"] = {0, 0, ""};
    cache["\xC3\xA1rv\xC3\xADz.pak"] = {18446744073709551615u, 1, hash_a};
    cache["a\nb\x1f.bin"] = {3, 2, hash_a};
    save_hash_cache(file, cache);

    // Byte order of the paths ("Z" < "a" < "d" < "á"), fields in name order, indent 2,
    // raw UTF-8, control characters escaped, no final newline.
    std::string const expected =
        "{\n"
        "  \"Z.bin\": {\n"
        "    \"modified\": 0,\n"
        "    \"sha256\": \"\",\n"
        "    \"size\": 0\n"
        "  },\n"
        "  \"a\\nb\\u001f.bin\": {\n"
        "    \"modified\": 2,\n"
        "    \"sha256\": \"" + hash_a + "\",\n"
        "    \"size\": 3\n"
        "  },\n"
        "  \"data/b.bin\": {\n"
        "    \"modified\": 133500000000000000,\n"
        "    \"sha256\": \"" + hash_b + "\",\n"
        "    \"size\": 1048576\n"
        "  },\n"
        "  \"\xC3\xA1rv\xC3\xADz.pak\": {\n"
        "    \"modified\": 1,\n"
        "    \"sha256\": \"" + hash_a + "\",\n"
        "    \"size\": 18446744073709551615\n"
        "  }\n"
        "}";
    EXPECT_EQ(test::read_file(file), expected);
    EXPECT_FALSE(fs::exists(dir / ".korvel" / "hash_cache.json.tmp"));

    // What was saved loads back unchanged and saves to the same bytes.
    HashCache const loaded = load_hash_cache(file);
    EXPECT_TRUE(same(loaded, cache));
    save_hash_cache(dir / "again.json", loaded);
    EXPECT_EQ(test::read_file(dir / "again.json"), expected);

    save_hash_cache(file, {});
    EXPECT_EQ(test::read_file(file), "{}");
    EXPECT_TRUE(load_hash_cache(file).empty());
}

TEST(HashCache, LoadingFillsDefaultsAndFoldsHashes) {
    test::TempDir dir("cache");
    test::write_file(dir / "c.json", R"({
        "no_time.bin": {"size": 5, "sha256": "ABCDEF"},
        "bare.bin": {},
        "twice.bin": {"size": 1, "modified": 1, "sha256": "a"},
        "twice.bin": {"size": 2, "modified": 2, "sha256": "b"},
        "frac.bin": {"size": 9.7, "modified": 10, "sha256": "c", "extra": [1]}
    })");
    HashCache const cache = load_hash_cache(dir / "c.json");
    HashCache expected;
    expected["no_time.bin"] = {5, 0, "abcdef"};
    expected["bare.bin"] = {0, 0, ""};
    expected["twice.bin"] = {2, 2, "b"};  // the later duplicate wins
    expected["frac.bin"] = {9, 10, "c"};
    EXPECT_TRUE(same(cache, expected));
}

TEST(HashCache, ProtectedPathsAreDroppedOnLoadAndNeverSaved) {
    test::TempDir dir("cache");
    test::write_file(dir / "c.json", R"({
        "zivur2.cfg": {"size": 1, "modified": 1, "sha256": "a"},
        "UserData/launcher_settings.ini": {"size": 1, "modified": 1, "sha256": "a"},
        "userdata\\x": {"size": 1, "modified": 1, "sha256": "a"},
        "DAVARI.EXE": {"size": 1, "modified": 1, "sha256": "a"},
        "sub/zivur2.cfg": {"size": 2, "modified": 3, "sha256": "b"}
    })");
    HashCache cache = load_hash_cache(dir / "c.json");
    ASSERT_EQ(cache.size(), 1u);
    EXPECT_TRUE(same(cache.at("sub/zivur2.cfg"), CacheEntry{2, 3, "b"}));

    cache["mouse.cfg"] = {1, 1, hash_a};
    save_hash_cache(dir / "c.json", cache);
    std::string const text = test::read_file(dir / "c.json");
    EXPECT_EQ(text.find("mouse.cfg"), std::string::npos) << text;
    EXPECT_NE(text.find("sub/zivur2.cfg"), std::string::npos) << text;
}

TEST(HashCache, AnythingMalformedReadsAsEmpty) {
    test::TempDir dir("cache");
    std::string const good = R"("a.bin": {"size": 1, "modified": 2, "sha256": "x"})";
    char const* const contents[] = {
        "",
        R"([{"size": 1, "modified": 2, "sha256": "x"}])",
        R"("a.bin")",
        "12",
        "null",
        "[]",
        R"({"a.bin": {"size": 1,)",
        "\xEF\xBB\xBF{}",  // a byte-order mark is not JSON
    };
    for (char const* content : contents) {
        test::write_file(dir / "c.json", content);
        EXPECT_TRUE(load_hash_cache(dir / "c.json").empty()) << testing::PrintToString(content);
    }
    // One bad entry discards the good ones read before it.
    for (std::string const bad : {R"("b.bin": "x")", R"("b.bin": null)", R"("b.bin": [1])",
                                  R"("b.bin": {"size": "1"})", R"("b.bin": {"modified": true})",
                                  R"("b.bin": {"sha256": 5})", R"("b.bin": {"size": 1} x)"}) {
        test::write_file(dir / "c.json", "{" + good + ", " + bad + "}");
        EXPECT_TRUE(load_hash_cache(dir / "c.json").empty()) << bad;
    }
    test::write_file(dir / "c.json", "{" + good + "}");
    EXPECT_EQ(load_hash_cache(dir / "c.json").size(), 1u);

    EXPECT_TRUE(load_hash_cache(dir / "missing.json").empty());
    EXPECT_TRUE(load_hash_cache(dir.path()).empty());  // a folder
}

TEST(HashCache, FailedSavesLeaveTheOldCache) {
    test::TempDir dir("cache");
    fs::path const file = dir / "hash_cache.json";
    std::string const old_text = R"({"old.bin": {"size": 1, "modified": 2, "sha256": "x"}})";
    HashCache cache;
    cache["new.bin"] = {5, 6, hash_a};

    // The temporary name is taken by a folder.
    test::write_file(file, old_text);
    fs::create_directory(dir / "hash_cache.json.tmp");
    EXPECT_EQ(test::error_text([&] { save_hash_cache(file, cache); }), "Nem írható a hash gyorsítótár.");
    EXPECT_EQ(test::read_file(file), old_text);
    EXPECT_TRUE(fs::is_directory(dir / "hash_cache.json.tmp"));  // not ours to remove
    fs::remove(dir / "hash_cache.json.tmp");

    // The cache file is held open by another program: the replace step names it.
    {
        korvel::UniqueFile holder(
            ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        std::string const text = test::error_text([&] { save_hash_cache(file, cache); });
        std::string const prefix =
            "Cannot replace file (close the game and try again): " + file.string() + " | Win32=";
        EXPECT_TRUE(text.starts_with(prefix)) << text;
    }
    EXPECT_EQ(test::read_file(file), old_text);
    EXPECT_FALSE(fs::exists(dir / "hash_cache.json.tmp"));

    // The folder cannot be created.
    test::write_file(dir / "blocker", "");
    EXPECT_EQ(test::error_text([&] { save_hash_cache(dir / "blocker" / "c.json", cache); }),
              "Cannot create directory: " + (dir / "blocker").string());

    // After all that, a save that can go through does.
    save_hash_cache(file, cache);
    EXPECT_TRUE(same(load_hash_cache(file), cache));
}

// A device that refuses every write stands in for a full disk: the failure must be seen
// after the file was opened, not only when opening fails.
TEST(HashCache, WriteErrorsAfterOpeningAreDetected) {
    fs::path const full_device = test::from_unix_path("/dev/full");
    EXPECT_EQ(korvel::write_whole_file(full_device, "data"), korvel::WriteStatus::write_failed);

    test::TempDir dir("cache");
    EXPECT_EQ(korvel::write_whole_file(dir.path(), "data"), korvel::WriteStatus::not_opened);
    test::write_file(dir / "f", "older and longer");
    EXPECT_EQ(korvel::write_whole_file(dir / "f", "new"), korvel::WriteStatus::written);
    EXPECT_EQ(test::read_file(dir / "f"), "new");
    std::string const big = test::random_bytes(3 * 1024 * 1024 + 7, 5);
    EXPECT_EQ(korvel::write_whole_file(dir / "big", big), korvel::WriteStatus::written);
    EXPECT_EQ(test::read_file(dir / "big"), big);
}
