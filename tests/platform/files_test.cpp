#include "platform/files.h"

#include "platform/unique_handle.h"
#include "platform/win32_error.h"
#include "platform/write_whole_file.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <functional>
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
    for (auto const& [given, call] : std::initializer_list<std::pair<wchar_t const*, wchar_t const*>>{
             {L"C:/Games/./Korvel2/x/../data.pak", L"\\\\?\\C:\\Games\\Korvel2\\data.pak"},
             {L"\\\\server\\share\\game\\a.bin", L"\\\\?\\UNC\\server\\share\\game\\a.bin"},
             {L"\\\\?\\C:\\already\\long", L"\\\\?\\C:\\already\\long"},
             {L"relative\\a.bin", L"relative\\a.bin"}})
        EXPECT_EQ(korvel::win32_path(given).native(), call) << given;
}

// Windows refuses to move over a read-only file (Wine does not), so every replacement
// clears the attribute first; a target held open then fails the move, so the attribute
// read back shows what happened before it.
TEST(Files, ReadOnlyTargetsAreClearedBeforeEachReplacement) {
    using Replace = std::function<void(fs::path const&, fs::path const&)>;
    for (Replace const& replace :
         {Replace(korvel::replace_file), Replace(korvel::move_file_replacing), Replace(korvel::place_download),
          Replace([](fs::path const&, fs::path const& target) { korvel::write_file_replacing(target, "new"); })}) {
        test::TempDir dir("files");
        test::write_file(dir / "target", "old");
        test::write_file(dir / "new.part", "new");
        ASSERT_TRUE(::SetFileAttributesW((dir / "target").c_str(), FILE_ATTRIBUTE_READONLY));
        korvel::UniqueFile holder(::CreateFileW((dir / "target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(error_text([&] { replace(dir / "new.part", dir / "target"); }).empty());
        EXPECT_EQ(::GetFileAttributesW((dir / "target").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    }
}
