#include "core/protected_path.h"

#include "core/name_key.h"
#include "core/utf.h"
#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <string>

using korvel::is_protected_path;
using korvel::test::error_text;

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

// The name key is one table on every system; the conversion under it takes exactly
// what Windows' strict conversion takes.
TEST(NameKey, UpperCaseTableAndStrictConversion) {
    struct Case {
        char16_t unit, upper;
    } const cases[] = {
        {u'a', u'A'},          {u'Z', u'Z'},          {u'1', u'1'},          {u'\u00e1', u'\u00c1'},
        {u'\u0151', u'\u0150'}, {u'\u0171', u'\u0170'}, {u'\u00ff', u'\u0178'}, {u'\u00df', u'\u00df'},
        {u'\u0131', u'I'},     {u'\u017f', u'S'},     {u'\u01c5', u'\u01c4'}, {u'\u03c9', u'\u03a9'},
        {u'\u044f', u'\u042f'}, {u'\u1f80', u'\u1f88'}, {u'\uff41', u'\uff21'}, {char16_t(0xd801), char16_t(0xd801)},
        {u'\u00c1', u'\u00c1'}, {u'\u2170', u'\u2160'},
    };
    for (Case const& c : cases) EXPECT_EQ(korvel::upper_case_unit(c.unit), c.upper) << int(c.unit);

    EXPECT_EQ(korvel::utf16_to_utf8(korvel::utf8_to_utf16("\xC3\xA1\xE2\x82\xAC\xF0\x9F\x98\x80x")),
              "\xC3\xA1\xE2\x82\xAC\xF0\x9F\x98\x80x");
    EXPECT_EQ(korvel::utf8_to_utf16("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
    for (char const* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82",
                            "\x80", "\xF8\x88\x80\x80\x80", "a\xC3"})
        EXPECT_EQ(error_text([&] { korvel::utf8_to_utf16(bad); }), "UTF-8 -> UTF-16 conversion failed")
            << testing::PrintToString(std::string(bad));
    for (std::u16string const& bad : {std::u16string(1, u'\xd800'), std::u16string(1, u'\xdc00'), std::u16string(u"\xd800x")})
        EXPECT_EQ(error_text([&] { korvel::utf16_to_utf8(bad); }), "UTF-16 -> UTF-8 conversion failed");
}
