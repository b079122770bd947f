#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"
#include "tests/window/gdiplus_support.h"
#include "window/banner.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

namespace fs = std::filesystem;
using korvel::test::Fault;

std::string picture(int w, int h, std::uint32_t gap = 0) {
    return korvel::test::bmp_bytes(w, h, [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y); }, gap);
}

UINT width_of(korvel::LauncherApp const& app) {
    UINT w = 0;
    Gdiplus::DllExports::GdipGetImageWidth(app.banner_bitmap.get(), &w);
    return w;
}

TEST(Banner, DownloadsAreCheckedBeforeTheyReplaceTheCache) {
    korvel::test::ensure_gdiplus();
    // A 24-bit BMP of 1024 x 4095 pixels is 12,579,894 bytes; the gap makes it exactly 12 MiB.
    std::string const largest = picture(1024, 4095, 3018);
    ASSERT_EQ(largest.size(), korvel::banner_size_limit);
    std::string const old_picture = picture(2, 2);
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
