#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"
#include "tests/window/gdiplus_support.h"
#include "launcher/banner_fetch.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

namespace fs = std::filesystem;
using korvel::test::Fault;

std::string picture(int w, int h, std::uint32_t gap = 0) {
    return korvel::test::bmp_bytes(w, h, [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y); }, gap);
}

// A 4 x 4 icon of 32-bit pixels: a format Windows decodes, but not one of the four.
std::string icon() {
    return std::string("\0\0\1\0\1\0\4\4\0\0\1\0\x20\0\x78\0\0\0\x16\0\0\0\x28\0\0\0\4\0\0\0\x08\0\0\0\1\0\x20\0", 38) +
           std::string(24, '\0') + std::string(64, '\x7f') + std::string(16, '\0');
}

UINT width_of(korvel::LauncherApp const& app) {
    UINT w = 0;
    Gdiplus::DllExports::GdipGetImageWidth(app.window.banner_bitmap.get(), &w);
    return w;
}

TEST(Banner, DownloadsAreCheckedBeforeTheyReplaceTheCache) {
    korvel::test::ensure_gdiplus();
    // A 24-bit BMP of 1024 x 4095 pixels is 12,579,894 bytes; the gap makes it exactly 12 MiB.
    std::string const largest = picture(1024, 4095, 3018);
    ASSERT_EQ(largest.size(), korvel::banner_size_limit);
    std::string const old_picture = picture(2, 2);
    // Pictures bounded in pixels, and only whole ones: the files are made once here.
    korvel::test::TempDir const made("banner-made");
    auto const made_file = [&](char const* name, korvel::test::PictureFormat format, std::uint32_t w, std::uint32_t h) {
        korvel::test::write_picture(made / name, format, w, h, [](std::uint32_t x, std::uint32_t y) { return x ^ y; });
        return korvel::test::read_file(made / name);
    };
    using korvel::test::PictureFormat;
    std::string const jpeg = made_file("whole.jpg", PictureFormat::Jpeg, 640, 480);
    std::string const png = made_file("whole.png", PictureFormat::Png, 640, 480);
    struct Case {
        char const* name;
        std::string body;
        Fault fault;
        bool accepted;
    };
    Case const cases[] = {
        {"exactly 12 MiB", largest, {}, true},
        {"one byte more", largest + "x", {}, false},
        {"endless body", "", Fault{.endless = true}, false},
        {"an HTML page with 200", "<html>oops</html>", {}, false},
        {"interrupted half-way", largest, Fault{.reset_after = largest.size() / 2}, false},
        {"404", largest, Fault{.status = 404}, false},
        {"empty", "", {}, false},
        {"16,000,000 pixels", made_file("limit.png", PictureFormat::Png, 4000, 4000), {}, true},
        {"16,004,000 pixels", made_file("over.png", PictureFormat::Png, 4000, 4001), {}, false},
        {"a PNG cut short", png.substr(0, png.size() * 2 / 3), {}, false},
        {"a whole JPEG", jpeg, {}, true},
        {"a 1 x 1 GIF",
         std::string("GIF89a\1\0\1\0\x80\0\0\xff\xff\xff\0\0\0!\xf9\4\1\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2D\1\0;", 43),
         {}, true},
        {"a JPEG cut short", jpeg.substr(0, jpeg.size() * 2 / 3), {}, false},
        {"an icon, whose size is not read first", icon(), {}, false},
    };
    korvel::test::ServedFolder const folder("banner");
    korvel::test::TempDir const dir("banner");
    fs::path const cache = dir / "UserData" / "launcher_banner.jpg";
    for (Case const& c : cases) {
        korvel::test::write_file(cache, old_picture);
        folder.put("banner.jpg", c.body);
        folder.set_fault("banner.jpg", c.fault);
        EXPECT_EQ(korvel::download_banner(folder.url("banner.jpg"), cache), c.accepted) << c.name;
        EXPECT_EQ(korvel::test::read_file(cache) == old_picture, !c.accepted) << c.name;
        EXPECT_FALSE(fs::exists(dir / "UserData" / "launcher_banner.jpg.download")) << c.name;
        folder.clear_fault("banner.jpg");
    }
}

// The cached picture is revalidated with its answer's validator: the ETag, or the date
// when there is none. A 304 keeps it and sends no picture; a changed one replaces it.
TEST(Banner, ACachedPictureIsRevalidatedAndKeptOnA304) {
    korvel::test::ensure_gdiplus();
    korvel::test::ServedFolder const folder("banner-304");
    korvel::test::TempDir const dir("banner-304");
    fs::path const cache = dir / "UserData" / "launcher_banner.jpg";
    std::string const first = picture(3, 3), second = picture(4, 4);
    folder.put("banner.jpg", first);
    struct Step {
        char const* what;
        std::string served;  // empty: as it is
        Fault fault;
        bool replaced;
        char const* asked_with;  // the conditional header the request carried, or none
    } const steps[] = {
        {"first start: the whole picture", "", {}, true, nullptr},
        {"unchanged: 304 on its ETag", "", {}, false, "If-None-Match"},
        {"changed: the new picture", second, {}, true, "If-None-Match"},
        {"no ETag now: fetched again", "", {.no_etag = true}, true, "If-None-Match"},
        {"unchanged: 304 on its date", "", {.no_etag = true}, false, "If-Modified-Since"},
    };
    std::string served = first;
    for (Step const& step : steps) {
        if (!step.served.empty()) folder.put("banner.jpg", served = step.served);
        folder.set_fault("banner.jpg", step.fault);
        EXPECT_EQ(korvel::download_banner(folder.url("banner.jpg"), cache), step.replaced) << step.what;
        EXPECT_EQ(korvel::test::read_file(cache), served) << step.what;
        korvel::test::Request const asked = folder.requests("banner.jpg").back();
        for (char const* header : {"If-None-Match", "If-Modified-Since"})
            EXPECT_EQ(asked.header(header).has_value(), step.asked_with && std::string(step.asked_with) == header)
                << step.what << " " << header;
    }
}

// Only the part that shows is kept, at no more pixels than the banner area has: a wide
// picture is scaled down to 777 x 372, a tall one cropped to its middle third.
TEST(Banner, TheWindowKeepsOnlyWhatTheBannerShows) {
    korvel::test::ensure_gdiplus();
    korvel::test::TempDir const dir("banner-fit");
    korvel::test::write_picture(dir / "wide.png", korvel::test::PictureFormat::Png, 3000, 2000,
                                [](std::uint32_t x, std::uint32_t) { return x < 1500 ? 0xff0000u : 0x0000ffu; });
    korvel::test::write_picture(dir / "tall.png", korvel::test::PictureFormat::Png, 400, 1000,
                                [](std::uint32_t, std::uint32_t y) { return y < 333 || y > 666 ? 0u : 0x00ff00u; });
    struct Case {
        char const* file;
        UINT w, h;
        Gdiplus::ARGB top_left, bottom_right;
    } const cases[] = {{"wide.png", 777, 372, 0xffff0000, 0xff0000ff}, {"tall.png", 400, 192, 0xff00ff00, 0xff00ff00}};
    for (Case const& c : cases) {
        korvel::LauncherApp app;
        ASSERT_TRUE(app.load_banner_image(dir / c.file)) << c.file;
        UINT h = 0;
        Gdiplus::DllExports::GdipGetImageHeight(app.window.banner_bitmap.get(), &h);
        EXPECT_EQ(std::pair(width_of(app), h), std::pair(c.w, c.h)) << c.file;
        EXPECT_EQ(korvel::test::pixel(app.window.banner_bitmap.get(), 0, 0), c.top_left) << c.file;
        EXPECT_EQ(korvel::test::pixel(app.window.banner_bitmap.get(), c.w - 1, c.h - 1), c.bottom_right) << c.file;
    }
}

// UserData deleted before the start: the worker brings it back and the window is told;
// the window loads the picture, and keeps it when a later file cannot be read.
TEST(Banner, TheWorkerRecreatesUserDataAndPostsThePath) {
    korvel::test::ensure_gdiplus();
    korvel::test::ServedFolder const folder("banner-post");
    folder.put("banner.jpg", picture(5, 4));
    korvel::test::TempDir const dir("banner-post");
    fs::path const cache = dir / "UserData" / "launcher_banner.jpg";
    HWND const hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    korvel::fetch_banner(hwnd, folder.url("banner.jpg"), cache);
    MSG message{};
    ASSERT_TRUE(::PeekMessageW(&message, hwnd, korvel::WM_BANNER_READY, korvel::WM_BANNER_READY, PM_REMOVE));
    std::unique_ptr<std::wstring> const path(reinterpret_cast<std::wstring*>(message.lParam));
    EXPECT_EQ(fs::path(*path), cache);
    korvel::LauncherApp app;
    EXPECT_TRUE(app.load_banner_image(*path));
    EXPECT_EQ(width_of(app), 5u);
    korvel::test::write_file(dir / "page.jpg", "<html>502 Bad Gateway</html>");
    EXPECT_FALSE(app.load_banner_image(dir / "page.jpg"));
    EXPECT_FALSE(app.load_banner_image(dir / "missing.jpg"));
    EXPECT_EQ(width_of(app), 5u);
    fs::remove(cache);  // the window does not hold the file open
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_EQ(folder.requests("banner.jpg").at(0).header("User-Agent"), "KorvelLauncher/2.1");
    ::DestroyWindow(hwnd);
}

}  // namespace
