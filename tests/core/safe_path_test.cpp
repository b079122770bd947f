#include "core/format_bytes.h"
#include "core/safe_path.h"

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <string>

using korvel::is_safe_relative_path;
using korvel::test::error_text;

TEST(SafePath, SafeRelativePaths) {
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

TEST(FormatBytes, UnitsAndDecimals) {
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
    // The operators' tool names the binary units as what they are.
    EXPECT_EQ(korvel::format_binary_bytes(1023), "1023 B");
    EXPECT_EQ(korvel::format_binary_bytes(1536), "1.5 KiB");
    EXPECT_EQ(korvel::format_binary_bytes(5.5 * 1073741824.0), "5.5 GiB");
}
