#include "launcher/ini_file.h"

#include "platform/unique_handle.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <climits>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::IniFile;

namespace {

IniFile load(test::TempDir const& dir, std::string_view bytes) {
    test::write_file(dir / "test.ini", bytes);
    IniFile ini;
    EXPECT_TRUE(ini.load(dir / "test.ini"));
    return ini;
}

}  // namespace

TEST(IniFile, ReadsSectionsKeysAndValuesByTheLineRules) {
    test::TempDir dir("ini");
    IniFile const ini = load(dir,
                             "top = before any section\n"
                             "; a comment\n"
                             "# another = comment\n"
                             "  [ Client ]  \n"
                             "\tGame = my game.exe\t\n"
                             "Args=-a=1 -b \"quoted\" ; not a comment\n"
                             "no equals sign here\n"
                             "=empty key\n"
                             "empty value=\n"
                             "game=second wins\n"
                             "[]\n"
                             "in empty = section\n"
                             "[never used]\n"
                             "[CLIENT]\n"
                             "extra=continues the section\n");
    IniFile::Sections const expected{
        {L"", {{L"top", L"before any section"}, {L"in empty", L"section"}}},
        {L"client",
         {{L"game", L"second wins"},
          {L"args", L"-a=1 -b \"quoted\" ; not a comment"},
          {L"", L"empty key"},
          {L"empty value", L""},
          {L"extra", L"continues the section"}}},
    };
    EXPECT_EQ(ini.sections(), expected);
}

TEST(IniFile, GetTrimsAndLowerCasesNamesAndPrefersAPresentEmptyValue) {
    test::TempDir dir("ini");
    IniFile const ini = load(dir, "[Client]\nGame=\nroot=C:\\Games\\Korvel\n");
    EXPECT_EQ(ini.get(L" CLIENT ", L" Root", L"fallback"), L"C:\\Games\\Korvel");
    EXPECT_EQ(ini.get(L"client", L"game", L"bat.exe"), L"");
    EXPECT_EQ(ini.get(L"client", L"missing", L"bat.exe"), L"bat.exe");
    EXPECT_EQ(ini.get(L"other", L"game", L"bat.exe"), L"bat.exe");
}

TEST(IniFile, GetIntReadsTheLeadingNumberOrGivesTheDefault) {
    test::TempDir dir("ini");
    IniFile const ini = load(dir,
                             "[n]\n"
                             "plain=250\n"
                             "suffix=250ms\n"
                             "negative=-7\n"
                             "plus=+12\n"
                             "letters=fast\n"
                             "empty=\n"
                             "too_big=99999999999\n"
                             "int_max=2147483647\n"
                             "int_min=-2147483648\n"
                             "below_min=-2147483649\n");
    struct Case {
        wchar_t const* key;
        int expected;
    };
    for (auto const& c : {Case{L"plain", 250}, Case{L"suffix", 250}, Case{L"negative", -7}, Case{L"plus", 12},
                          Case{L"letters", 42}, Case{L"empty", 42}, Case{L"missing", 42}, Case{L"too_big", 42},
                          Case{L"int_max", INT_MAX}, Case{L"int_min", INT_MIN}, Case{L"below_min", 42}})
        EXPECT_EQ(ini.get_int(L"n", c.key, 42), c.expected) << fs::path(c.key).string();
}

TEST(IniFile, ByteOrderMarkAndLineEndsDoNotChangeTheDocument) {
    test::TempDir dir("ini");
    std::string const lf = "[hero]\ntitle=LÉPJ BE\nsubtitle=Ő és ű\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    IniFile const plain = load(dir, lf);
    EXPECT_EQ(plain.get(L"hero", L"title", L""), L"LÉPJ BE");
    EXPECT_EQ(plain.get(L"hero", L"subtitle", L""), L"Ő és ű");
    EXPECT_EQ(load(dir, crlf).sections(), plain.sections());
    EXPECT_EQ(load(dir, "\xEF\xBB\xBF" + lf).sections(), plain.sections());
    EXPECT_EQ(load(dir, "\xEF\xBB\xBF" + crlf).sections(), plain.sections());
}

TEST(IniFile, AFileThatIsNotUtf8IsReadByteByByte) {
    test::TempDir dir("ini");
    // "Játék" in Windows-1250: 0xE1 is 'á', and the file is not valid UTF-8.
    IniFile const ini = load(dir, "[client]\r\ngame=bat.exe\r\nname=J\xE1t\xE9k\r\n");
    EXPECT_EQ(ini.get(L"client", L"game", L""), L"bat.exe");
    EXPECT_EQ(ini.get(L"client", L"name", L""), std::wstring(L"J\xFFE1t\xFFE9k"));
    EXPECT_EQ(korvel::decode_settings_text("a\x7F\x80\xFF"), std::wstring(L"a\x7F\xFF80\xFFFF"));
}

TEST(IniFile, LoadOfAMissingFileEmptiesTheDocument) {
    test::TempDir dir("ini");
    IniFile ini = load(dir, "[a]\nb=c\n");
    EXPECT_FALSE(ini.load(dir / "missing.ini"));
    EXPECT_TRUE(ini.sections().empty());
}

TEST(IniFile, SaveWritesUtf8CrlfInSortedOrderAndReadsBack) {
    test::TempDir dir("ini");
    IniFile ini;
    ini.set(L"Zeta", L"b", L"2");
    ini.set(L"zeta", L"A", L"Ő = ű ; still the value");
    ini.set(L"alpha", L"key", L"");
    ASSERT_TRUE(ini.save(dir / "out.ini"));
    EXPECT_EQ(test::read_file(dir / "out.ini"),
              "[alpha]\r\nkey=\r\n\r\n"
              "[zeta]\r\na=\xC5\x90 = \xC5\xB1 ; still the value\r\nb=2\r\n\r\n");
    IniFile back;
    ASSERT_TRUE(back.load(dir / "out.ini"));
    EXPECT_EQ(back.sections(), ini.sections());
    EXPECT_FALSE(fs::exists(dir / "out.ini.tmp"));
}

TEST(IniFile, AFailedSaveLeavesTheOldFileWhole) {
    test::TempDir dir("ini");
    fs::path const target = dir / "launcher_settings.ini";
    std::string const old = "[launcher]\r\nclient_count=3\r\n\r\n";
    test::write_file(target, old);
    IniFile ini;
    ini.set(L"launcher", L"client_count", L"1");
    {
        // Another program holds the file open without letting it be replaced.
        korvel::UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(ini.save(target));
    }
    EXPECT_EQ(test::read_file(target), old);
    EXPECT_FALSE(fs::exists(dir / "launcher_settings.ini.tmp"));

    EXPECT_FALSE(ini.save(dir / "no such folder" / "x.ini"));  // no error escapes
    EXPECT_TRUE(ini.save(target));                              // and a later save works
    EXPECT_EQ(test::read_file(target), "[launcher]\r\nclient_count=1\r\n\r\n");
}

TEST(IniFile, SaveMovesANewFileOverTheOldOneInsteadOfRewritingIt) {
    test::TempDir dir("ini");
    fs::path const target = dir / "launcher_settings.ini";
    test::write_file(target, "[launcher]\r\nclient_count=3\r\n\r\n");
    auto const file_id = [&] {
        korvel::UniqueFile file(::CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        EXPECT_TRUE(::GetFileInformationByHandle(file.get(), &info));
        return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    };
    std::uint64_t const before = file_id();
    IniFile ini;
    ini.set(L"launcher", L"client_count", L"1");
    ASSERT_TRUE(ini.save(target));
    // Another file now carries the name: the old one was never truncated and rewritten,
    // so an interruption at any point leaves either the old or the new content whole.
    EXPECT_NE(file_id(), before);
    EXPECT_EQ(test::read_file(target), "[launcher]\r\nclient_count=1\r\n\r\n");
}
