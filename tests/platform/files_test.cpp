#include "platform/files.h"

#include "platform/unique_handle.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::is_safe_relative_path;

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

TEST(Files, SafeRelativePaths) {
    std::string const accepted[] = {
        "data/file.bin", "data\\file.bin", "data/", "a", "...x", ".x", "x.y.z", "data//file.bin",
        "sub/zivur2.cfg", "d\xC3\xA1ta/\xC3\xA1rv\xC3\xADz.bin", "console.txt", "com10", "lpt", "nul_x/a",
        "a .b", std::string(4096, 'a'),
        // the download suffix only counts on the last element, whole
        "a.korvel.part/x", "a.korvel.parts", "a.korvel.par", "korvel.part",
    };
    for (auto const& p : accepted) EXPECT_TRUE(is_safe_relative_path(p)) << p;

    std::string const rejected[] = {
        "", std::string(4097, 'a'),
        // absolute, drive, network, root
        "/data", "\\data", "C:/data", "C:\\data", "C:data", "c:", "//server/share", "\\\\server\\share",
        "\\\\?\\C:\\x", "//?/C:/x",
        // dot elements
        "data/../x", "..", "../x", "./data", "data/./x", "data/..", "a\\..\\b", ".",
        // colons and streams, NUL
        "a:b", "file:stream", "data/x.bin::$DATA", std::string("a\0b", 3),
        // device names, any case, any folder, any extension
        "CON", "con", "nul.txt", "data/NUL", "data/Com1.bin", "COM9", "lpt1", "LpT3.log", "aux/x", "prn.",
        "conin$", "CONOUT$", "com\xC2\xB9", "nul .txt", "data/con /x",
        // elements Windows would rewrite: trailing dots and spaces
        "data.", "data/x.", "data /x", "x ", "...", "a/.../b",
        // the name a download is written to before it is checked
        "a.korvel.part", "data/x.bin.KORVEL.Part", "data\\.korvel.part", "a.korvel.part/",
    };
    for (auto const& p : rejected) EXPECT_FALSE(is_safe_relative_path(p)) << testing::PrintToString(p);

    EXPECT_EQ(error_text([] { is_safe_relative_path("ok/\xC3"); }), "UTF-8 -> UTF-16 conversion failed");
}

TEST(Files, FormatBytes) {
    struct Case {
        double bytes;
        char const* text;
    } const cases[] = {
        {0, "0 B"},           {512, "512 B"},           {1023, "1023 B"},
        {1024, "1.0 KB"},     {1536, "1.5 KB"},         {1048575, "1024.0 KB"},
        {1048576, "1.0 MB"},  {5.5 * 1073741824.0, "5.5 GB"}, {1099511627776.0, "1.0 TB"},
        {2048 * 1099511627776.0, "2048.0 TB"},
    };
    for (auto const& c : cases) EXPECT_EQ(korvel::format_bytes(c.bytes), c.text) << c.bytes;
}
