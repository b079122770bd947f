#include "core/protected_path.h"

#include "core/manifest.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/error_text.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::is_protected_path;

TEST(ProtectedPath, NamesAndTheirSpellings) {
    char const* const protected_paths[] = {
        "davari.exe", "DAVARI.EXE", "Davari.Exe", "zivur2.cfg", "ZIVUR2.CFG", "mouse.cfg", "Mouse.CFG",
        "userdata", "UserData", "USERDATA/x", "userdata/", "UserData/sub/x.cfg", "UserData//x",
        // A backslash after the folder name is a separator to Windows as much as a slash.
        "userdata\\x", "UserData\\sub\\launcher_settings.ini", "userdata\\", "userdata\\\\x", "userdata/\\x",
        // Separators and dot elements that Windows ignores.
        "davari.exe/", "zivur2.cfg\\", "./mouse.cfg", "/davari.exe", "\\userdata\\x",
        // Trailing dots and spaces, which Windows strips from every element.
        "davari.exe.", "davari.exe ", "Davari.exe. .", "userdata./x", "userdata /x", "UserData..\\x",
        // Letters whose upper case is ASCII: dotless i, long s.
        "davar\xC4\xB1.exe", "mou\xC5\xBF" "e.cfg", "u\xC5\xBF" "erdata/x",
    };
    for (char const* p : protected_paths) EXPECT_TRUE(is_protected_path(p)) << p;

    char const* const ordinary[] = {
        "", "/", "sub/zivur2.cfg", "sub\\mouse.cfg", "data/userdata/x", "userdata2", "userdatax/y", "userdata.txt",
        "my_userdata/x", "davari.exe.bak", "davari.ex", "xdavari.exe", "davari", "davari.exe/x", "d\xC3\xA1vari.exe",
        "davari .exe", " davari.exe", "mouse.cfg2",
    };
    for (char const* p : ordinary) EXPECT_FALSE(is_protected_path(p)) << p;
}

// Whatever spelling a manifest uses, a name the file system resolves to one of the
// protected files must be skipped or rejected, never handed on for patching or deletion.
TEST(ProtectedPath, NoSpellingTheFileSystemResolvesSlipsThrough) {
    test::TempDir dir("protected");
    for (char const* name : {"davari.exe", "zivur2.cfg", "mouse.cfg", "UserData/launcher_settings.ini"})
        test::write_file(dir / name, "keep");

    std::vector<std::string> names = {"davari.exe", "zivur2.cfg", "mouse.cfg", "userdata",
                                      "userdata/launcher_settings.ini"};
    std::vector<std::string> spellings;
    for (std::string const& name : names) {
        std::string upper = name, mixed = name;
        for (size_t i = 0; i < name.size(); ++i) {
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
            if (i % 2 == 0) mixed[i] = upper[i];
        }
        std::string dotless = name;
        if (auto i = dotless.find('i'); i != std::string::npos) dotless.replace(i, 1, "\xC4\xB1");
        for (std::string const& cased : {name, upper, mixed, dotless}) {
            for (char const* separator : {"/", "\\", "//", "\\\\", "/./", "\\.\\", "/ /"}) {
                std::string spelled = cased;
                for (size_t at = spelled.find('/'); at != std::string::npos;
                     at = spelled.find('/', at + std::string(separator).size()))
                    spelled.replace(at, 1, separator);
                for (char const* prefix : {"", "./", ".\\", "/", "\\"})
                    for (char const* suffix : {"", ".", " ", ". .", "/", "\\", "::$DATA"})
                        spellings.push_back(prefix + spelled + suffix);
            }
        }
    }

    size_t resolved = 0;
    for (std::string const& spelling : spellings) {
        std::wstring const full = dir.path().native() + L"\\" + korvel::utf8_to_wide(spelling);
        if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        ++resolved;
        nlohmann::json manifest = {{"base_url", "https://h/"},
                                   {"files", {{{"path", spelling}, {"size", 4}, {"sha256", std::string(64, '0')}}}}};
        std::string const as_file = test::error_text([&] {
            EXPECT_TRUE(korvel::read_manifest(manifest.dump()).files.empty()) << testing::PrintToString(spelling);
        });
        EXPECT_TRUE(as_file == "(no exception)" || as_file == "Érvénytelen manifest bejegyzés: " + spelling) << as_file;

        manifest["files"] = nlohmann::json::array();
        manifest["delete"] = spelling;
        std::string const as_delete = test::error_text([&] {
            EXPECT_TRUE(korvel::read_manifest(manifest.dump()).deletes.empty()) << testing::PrintToString(spelling);
        });
        EXPECT_TRUE(as_delete == "(no exception)" || as_delete == "Érvénytelen törlési útvonal: " + spelling)
            << as_delete;
    }
    // The file system must actually have been fooled by many of them for this to mean anything.
    EXPECT_GT(resolved, spellings.size() / 3) << resolved << " of " << spellings.size();
}

TEST(ProtectedPath, NameKeysAreEqualExactlyForTheSameFile) {
    struct Case {
        char const* a;
        char const* b;
        bool same;
    } const cases[] = {
        {"a.txt", "A.TXT", true},          {"data/b.bin", "DATA\\b.bin", true},
        {"data//b.bin", "data/b.bin", true}, {"./a/", "a", true},
        {"a. /b.", "a/b", true},           {"\xC3\x81rv.txt", "\xC3\xA1RV.txt", true},  // Árv, árv
        {"davar\xC4\xB1.exe", "DAVARI.EXE", true},
        {"a.txt", "a.txt2", false},        {"a/b", "ab", false},
        {"data/b.bin", "b.bin", false},    {"\xC3\xA1.txt", "a.txt", false},
    };
    for (auto const& c : cases)
        EXPECT_EQ(korvel::windows_name_key(c.a) == korvel::windows_name_key(c.b), c.same) << c.a << " | " << c.b;
}
