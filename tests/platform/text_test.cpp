#include "platform/text.h"

#include "platform/win32_error.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

using korvel::utf8_to_wide;
using korvel::wide_to_utf8;

TEST(Text, EmptyAndHungarianRoundTrip) {
    EXPECT_EQ(utf8_to_wide(""), L"");
    EXPECT_EQ(wide_to_utf8(L""), "");
    std::string const hungarian = "Be\xC3\xA1ll\xC3\xADt\xC3\xA1sok \xC5\x91\xC5\xB1 \xE2\x9A\x99";  // Beállítások őű ⚙
    std::wstring const wide = utf8_to_wide(hungarian);
    EXPECT_EQ(wide, L"Be\u00e1ll\u00edt\u00e1sok \u0151\u0171 \u2699");
    EXPECT_EQ(wide_to_utf8(wide), hungarian);
    // Outside the basic plane: one code point, two UTF-16 units.
    EXPECT_EQ(utf8_to_wide("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
    EXPECT_EQ(wide_to_utf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

TEST(Text, EmbeddedNulAndByteOrderMarkAreKept) {
    std::string const with_nul("a\0b", 3);
    std::wstring const wide = utf8_to_wide(with_nul);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[1], L'\0');
    EXPECT_EQ(wide_to_utf8(wide), with_nul);
    EXPECT_EQ(utf8_to_wide("\xEF\xBB\xBFx"), L"\uFEFFx");
}

TEST(Text, MalformedUtf8IsRejectedNeverRepaired) {
    char const* const bad[] = {
        "\xC3",              // cut two-byte sequence
        "a\x80",             // stray continuation byte
        "\xE2\x82",          // cut three-byte sequence
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xF0\x80\x80\xAF",  // overlong, four bytes
        "\xED\xA0\x80",      // encoded high surrogate
        "\xED\xBF\xBF",      // encoded low surrogate
        "\xFF",              // never valid
        "\xFE",              // never valid
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "ok\xC3(",           // lead byte followed by a non-continuation byte
    };
    for (char const* text : bad) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        try {
            utf8_to_wide(text);
            ADD_FAILURE() << "accepted";
        } catch (korvel::Win32Error const& e) {
            EXPECT_STREQ(e.what(), "UTF-8 -> UTF-16 conversion failed");
            EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        }
    }
}

TEST(Text, UnpairedSurrogatesAreRejected) {
    std::wstring const bad[] = {
        std::wstring(1, wchar_t(0xD800)),
        std::wstring(1, wchar_t(0xDC00)),
        std::wstring(L"a") + wchar_t(0xDBFF) + L"b",
        std::wstring(1, wchar_t(0xDE00)) + wchar_t(0xD83D),  // pair in the wrong order
    };
    for (auto const& text : bad) {
        try {
            wide_to_utf8(text);
            ADD_FAILURE() << "accepted a lone surrogate";
        } catch (korvel::Win32Error const& e) {
            EXPECT_STREQ(e.what(), "UTF-16 -> UTF-8 conversion failed");
            EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        }
    }
}

TEST(Text, Utf8OrBytesFallsBackToOneUnitPerByte) {
    EXPECT_EQ(korvel::utf8_or_bytes_to_wide("\xC3\xA1rv\xC3\xADz"), L"\u00e1rv\u00edz");
    EXPECT_EQ(korvel::utf8_or_bytes_to_wide("k\xE1v\x7F"), std::wstring(L"k") + wchar_t(0xFFE1) + L"v\x7F");
    EXPECT_EQ(korvel::utf8_or_bytes_to_wide(std::string("\x80\0\xFF", 3)), std::wstring(L"\xFF80") + L'\0' + L"\xFFFF");
}
