#include "platform/files.h"

#include "platform/dir_listing.h"
#include "platform/sha256.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"
#include "platform/write_whole_file.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;
namespace test = korvel::test;

using korvel::test::error_text;

TEST(Files, ExePathIsTheRunningTestProgram) {
    fs::path const path = korvel::exe_path();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), "platform_tests.exe");
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST(Files, SizeOfFilesOnly) {
    test::TempDir dir("files");
    test::write_file(dir / "empty", "");
    test::write_file(dir / "five", "12345");
    EXPECT_EQ(korvel::file_size(dir / "empty"), 0u);
    EXPECT_EQ(korvel::file_size(dir / "five"), 5u);
    for (auto const& p : {dir / "missing", dir.path()})
        EXPECT_EQ(error_text([&] { korvel::file_size(p); }), "Cannot read file size: " + p.string());
}

TEST(Files, ModifiedTimeIsTheRawFiletime) {
    test::TempDir dir("files");
    test::write_file(dir / "f", "x");
    korvel::UniqueFile file(::CreateFileW((dir / "f").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME const when{0x89abcdefu, 0x01d9a5b3u};
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &when));
    file.reset();
    EXPECT_EQ(korvel::file_mtime(dir / "f"), 0x01d9a5b389abcdefull);
    EXPECT_GT(korvel::file_mtime(dir.path()), 0u);  // folders too
    EXPECT_EQ(error_text([&] { korvel::file_mtime(dir / "nope"); }),
              "Cannot read modified time: " + (dir / "nope").string());
}

TEST(Files, EnsureParentDirCreatesTheWholeChain) {
    test::TempDir dir("files");
    korvel::ensure_parent_dir(dir / "a" / "b" / "c" / "file.bin");
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_FALSE(fs::exists(dir / "a" / "b" / "c" / "file.bin"));
    korvel::ensure_parent_dir(dir / "a" / "b" / "c" / "file.bin");  // existing folders are fine
    korvel::ensure_parent_dir("bare-name.bin");                       // nothing to create
    EXPECT_FALSE(fs::exists("bare-name.bin"));

    test::write_file(dir / "blocker", "file where a folder must be");
    EXPECT_EQ(error_text([&] { korvel::ensure_parent_dir(dir / "blocker" / "sub" / "x"); }),
              "Cannot create directory: " + (dir / "blocker" / "sub").string());
}

TEST(Files, ReplaceFileMovesOverTheTarget) {
    test::TempDir dir("files");
    test::write_file(dir / "new.part", "new content");
    test::write_file(dir / "target", "old");
    korvel::replace_file(dir / "new.part", dir / "target");
    EXPECT_EQ(test::read_file(dir / "target"), "new content");
    EXPECT_FALSE(fs::exists(dir / "new.part"));

    // Into a folder that does not exist yet.
    test::write_file(dir / "x.part", "x");
    korvel::replace_file(dir / "x.part", dir / "deep" / "er" / "x");
    EXPECT_EQ(test::read_file(dir / "deep" / "er" / "x"), "x");
}

TEST(Files, ReplaceFailuresNameTheTargetAndCode) {
    test::TempDir dir("files");
    test::write_file(dir / "target", "old");
    // Missing source.
    EXPECT_EQ(error_text([&] { korvel::replace_file(dir / "absent", dir / "target"); }),
              "Cannot replace file (close the game and try again): " + (dir / "target").string() + " | Win32=2");
    try {
        korvel::replace_file(dir / "absent", dir / "target");
        ADD_FAILURE() << "no exception";
    } catch (korvel::Win32Error const& e) {
        EXPECT_EQ(e.code(), DWORD{ERROR_FILE_NOT_FOUND});
    }

    // A target that another handle holds open without delete sharing stays intact.
    test::write_file(dir / "new.part", "new");
    korvel::UniqueFile holder(::CreateFileW((dir / "target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    std::string const text = error_text([&] { korvel::replace_file(dir / "new.part", dir / "target"); });
    std::string const prefix =
        "Cannot replace file (close the game and try again): " + (dir / "target").string() + " | Win32=";
    ASSERT_EQ(text.substr(0, prefix.size()), prefix);
    std::string const code = text.substr(prefix.size());
    EXPECT_TRUE(code == "32" || code == "5") << code;
    holder.reset();
    EXPECT_EQ(test::read_file(dir / "target"), "old");
    EXPECT_EQ(test::read_file(dir / "new.part"), "new");
}

TEST(Files, LongFormOfAbsolutePaths) {
    struct Case {
        wchar_t const* given;
        wchar_t const* call;
    };
    for (Case const& c : {Case{L"C:/Games/./Korvel2/x/../data.pak", L"\\\\?\\C:\\Games\\Korvel2\\data.pak"},
                          Case{L"\\\\server\\share\\game\\a.bin", L"\\\\?\\UNC\\server\\share\\game\\a.bin"},
                          Case{L"\\\\?\\C:\\already\\long", L"\\\\?\\C:\\already\\long"},
                          Case{L"relative\\a.bin", L"relative\\a.bin"}})
        EXPECT_EQ(korvel::win32_path(c.given).native(), c.call) << c.given;
}

// A game folder deeper than the old 260-character limit: every file helper works there,
// and the texts name the path as given, without the long form's prefix.
TEST(Files, FolderPathOverTwoHundredSixtyCharacters) {
    test::TempDir dir("files");
    fs::path deep = dir.path();
    while (deep.native().size() <= 300) deep /= std::wstring(40, L'd');
    fs::path const file = deep / "data" / "file.bin";
    korvel::ensure_parent_dir(file);
    ASSERT_TRUE(korvel::write_file_replacing(file, "first"));
    ASSERT_TRUE(korvel::write_file_replacing(file, "second!"));
    EXPECT_TRUE(korvel::is_regular_file_at(file));
    EXPECT_FALSE(korvel::is_regular_file_at(file.parent_path()));
    EXPECT_EQ(korvel::file_size(file), 7u);
    EXPECT_NE(korvel::file_mtime(file), 0u);
    EXPECT_EQ(korvel::sha256_file(file), test::sha256_hex("second!"));

    ASSERT_TRUE(korvel::write_file_replacing(deep / "new.part", "moved"));
    korvel::place_download(deep / "new.part", file);
    EXPECT_EQ(korvel::sha256_file(file), test::sha256_hex("moved"));
    std::size_t listed = 0;
    EXPECT_EQ(korvel::list_folder(file.parent_path(), [&](korvel::ListedEntry const&) { ++listed; }),
              korvel::ListingResult::Listed);
    EXPECT_EQ(listed, 1u);
    EXPECT_EQ(error_text([&] { korvel::file_size(deep / "absent"); }), "Cannot read file size: " + (deep / "absent").string());
}

namespace {

bool read_only(fs::path const& path) {
    DWORD const attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

// Windows refuses to move over a read-only file (Wine does not): every way of replacing
// a file clears the attribute first. A target held open makes the move fail afterwards,
// so the attribute read back shows what happened before the move.
TEST(Files, ReadOnlyTargetsAreClearedBeforeEachReplacement) {
    using Replace = void (*)(fs::path const&, fs::path const&);
    struct Case {
        char const* name;
        Replace replace;
    };
    for (Case const& c : {Case{"replace_file", korvel::replace_file},
                          Case{"move_file_replacing", korvel::move_file_replacing},
                          Case{"place_download", korvel::place_download},
                          Case{"write_file_replacing", [](fs::path const&, fs::path const& target) {
                                   korvel::write_file_replacing(target, "new");
                               }}}) {
        test::TempDir dir("files");
        fs::path const target = dir / "target";
        test::write_file(target, "old");
        test::write_file(dir / "new.part", "new");
        ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(read_only(target));
        korvel::UniqueFile holder(
            ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(error_text([&] { c.replace(dir / "new.part", target); }).empty()) << c.name;
        EXPECT_FALSE(read_only(target)) << c.name;
        EXPECT_EQ(test::read_file(target), "old") << c.name;
    }
}

TEST(Files, AHeldTargetIsNamedInHungarianAfterTheRetries) {
    test::TempDir dir("files");
    test::write_file(dir / "target", "old");
    test::write_file(dir / "new.part", "new");
    korvel::UniqueFile holder(::CreateFileW((dir / "target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(error_text([&] { korvel::place_download(dir / "new.part", dir / "target"); }),
              "A fájlt egy másik program használja (a játék bezárása után próbálja újra): " +
                  (dir / "target").string());
    holder.reset();
    korvel::place_download(dir / "new.part", dir / "target");
    EXPECT_EQ(test::read_file(dir / "target"), "new");
}
