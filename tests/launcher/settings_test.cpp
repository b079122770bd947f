#include "launcher/launcher_app.h"

#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::LauncherApp;

namespace {

// A launcher installed in `dir`, with the given launcher.ini (none when null).
std::unique_ptr<LauncherApp> app_in(test::TempDir const& dir, char const* launcher_ini) {
    if (launcher_ini) test::write_file(dir / "launcher.ini", launcher_ini);
    auto app = std::make_unique<LauncherApp>();
    app->base_dir = dir.path();
    app->load_settings();
    return app;
}

}  // namespace

TEST(Settings, ResolvePathKeepsAbsolutePathsAndJoinsTheRestToTheLauncherFolder) {
    LauncherApp app;
    app.base_dir = L"D:\\Games\\Korvel";
    struct Case {
        wchar_t const* in;
        wchar_t const* out;
    };
    for (auto const& c : {
             Case{L"C:\\Other\\bat.exe", L"C:\\Other\\bat.exe"},
             Case{L"c:/other/bat.exe", L"c:/other/bat.exe"},
             Case{L"\\\\server\\share\\game", L"\\\\server\\share\\game"},
             Case{L"//server/share", L"//server/share"},
             Case{L".", L"D:\\Games\\Korvel\\."},
             Case{L"client\\bin", L"D:\\Games\\Korvel\\client\\bin"},
             Case{L"..\\up", L"D:\\Games\\Korvel\\..\\up"},
             Case{L"\\rooted", L"D:\\rooted"},  // a root replaces the folder, not the drive
             Case{L"E:relative", L"E:relative"},
         })
        EXPECT_EQ(app.resolve_path(c.in).native(), c.out) << fs::path(c.in).string();
}

TEST(Settings, WithoutFilesTheBuiltInValuesStay) {
    test::TempDir dir("settings");
    LauncherApp const built_in;
    auto const app = app_in(dir, nullptr);
    EXPECT_EQ(app->settings.window_title, built_in.settings.window_title);
    EXPECT_EQ(app->window.hero_subtitle, built_in.window.hero_subtitle);
    EXPECT_EQ(app->window.client_count, built_in.window.client_count);
    EXPECT_EQ(app->settings.banner_cache_path, dir / "." / "UserData" / "launcher_banner.jpg");

    // The four default addresses point at one patch server over HTTPS.
    std::string const host = app->settings.version_url.substr(0, app->settings.version_url.find("/patch/"));
    EXPECT_TRUE(host.starts_with("https://") && host.size() > 8) << host;
    EXPECT_EQ(app->settings.version_url, host + "/patch/version.json");
    EXPECT_EQ(app->settings.news_url, host + "/patch/news.json");
    EXPECT_EQ(app->settings.status_url, host + "/patch/status.json");
    EXPECT_EQ(app->settings.banner_url, host + "/patch/banner.jpg");
    EXPECT_TRUE(app->settings.fallback_version_urls.empty());
}

TEST(Settings, LauncherIniFillsTheFields) {
    test::TempDir dir("settings");
    auto const app = app_in(dir,
                            "[Branding]\n"
                            "window_title = Próba Launcher\n"
                            "logo=PRÓBA\n"
                            "[hero]\n"
                            "title=Cím\n"
                            "[Client]\n"
                            "Game = my game.exe\n"
                            "game_args = -server \"Korvel One\" -fast\n"
                            "root = C:\\Korvel Client\n"
                            "config = other.cfg\n"
                            "updater = tools\\Swap.exe\n"
                            "[links]\n"
                            "website = https://korvel.example/?a=1;b=2\n"
                            "[server]\n"
                            "name = Tesztszerver\n"
                            "[patch]\n"
                            "version_url = http://127.0.0.1:8080/patch/version.json\n"
                            "fallback_version_urls =  https://b.example/patch/version.json\thttp://c:81/v.json \n"
                            "[remote]\n"
                            "news_url = https://localhost/hírek.json\n"
                            "banner_url =\n");
    EXPECT_EQ(app->settings.window_title, L"Próba Launcher");
    EXPECT_EQ(app->window.logo_text, L"PRÓBA");
    EXPECT_EQ(app->window.subtitle, L"Official Game Launcher");
    EXPECT_EQ(app->window.hero_title, L"Cím");
    EXPECT_EQ(app->settings.client.game, L"my game.exe");
    EXPECT_EQ(app->settings.client.game_args, L"-server \"Korvel One\" -fast");
    EXPECT_EQ(app->settings.client.root, L"C:\\Korvel Client");
    EXPECT_EQ(app->settings.client.config, L"other.cfg");
    EXPECT_EQ(app->settings.client.updater, L"tools\\Swap.exe");
    EXPECT_EQ(app->window.website_url, L"https://korvel.example/?a=1;b=2");
    EXPECT_EQ(app->window.discord_url, L"");
    EXPECT_EQ(app->window.server_name, L"Tesztszerver");
    EXPECT_EQ(app->settings.version_url, "http://127.0.0.1:8080/patch/version.json");
    EXPECT_EQ(app->settings.fallback_version_urls,
              (std::vector<std::string>{"https://b.example/patch/version.json", "http://c:81/v.json"}));
    EXPECT_EQ(app->settings.news_url, "https://localhost/h\xC3\xADrek.json");
    EXPECT_EQ(app->settings.banner_url, "");  // present and empty: no banner download
    EXPECT_EQ(app->settings.banner_cache_path, fs::path(L"C:\\Korvel Client\\UserData\\launcher_banner.jpg"));
}

TEST(Settings, APresentEmptyGameWinsOverTheDefault) {
    test::TempDir dir("settings");
    EXPECT_EQ(app_in(dir, "[client]\nGAME=\n")->settings.client.game, L"");
}

TEST(Settings, LaunchDelayIsClampedAndANonNumberTakesTheDefault) {
    struct Case {
        char const* value;
        int expected;
    };
    for (auto const& c : {Case{"50", 100}, Case{"20000", 3000}, Case{"fast", 500}, Case{"750", 750},
                          Case{"100", 100}, Case{"3000", 3000}, Case{"-5", 100}}) {
        test::TempDir dir("settings");
        auto const ini = std::string("[client]\nlaunch_delay_ms=") + c.value + "\n";
        EXPECT_EQ(app_in(dir, ini.c_str())->settings.client.launch_delay_ms, c.expected) << c.value;
    }
}

TEST(Settings, ClientCountComesFromUserDataAndIsClamped) {
    struct Case {
        char const* file;
        int expected;
    };
    for (auto const& c : {Case{"[launcher]\nclient_count=7\n", 3}, Case{"[launcher]\nclient_count=0\n", 1},
                          Case{"[launcher]\nclient_count=2\n", 2}, Case{"[launcher]\nclient_count=two\n", 1},
                          Case{"[other]\nclient_count=3\n", 1}}) {
        test::TempDir dir("settings");
        test::write_file(dir / "client" / "UserData" / "launcher_settings.ini", c.file);
        EXPECT_EQ(app_in(dir, "[client]\nroot=client\n")->window.client_count, c.expected) << c.file;
    }
}

TEST(Settings, SaveClientCountWritesExactlyItsSection) {
    test::TempDir dir("settings");
    auto app = app_in(dir, "[client]\nroot=client\n");
    app->save_client_count(2);
    EXPECT_EQ(app->window.client_count, 2);
    EXPECT_EQ(test::read_file(dir / "client" / "UserData" / "launcher_settings.ini"),
              "[launcher]\r\nclient_count=2\r\n\r\n");

    app->save_client_count(5);
    EXPECT_EQ(app->window.client_count, 3);
    EXPECT_EQ(test::read_file(dir / "client" / "UserData" / "launcher_settings.ini"),
              "[launcher]\r\nclient_count=3\r\n\r\n");
}

TEST(Settings, SaveClientCountKeepsTheRestOfTheFileInSortedOrder) {
    test::TempDir dir("settings");
    test::write_file(dir / "UserData" / "launcher_settings.ini",
                     "[zeta]\nk=v\n[Launcher]\nother=x\nclient_count=1\n[alpha]\na=1\n");
    auto app = app_in(dir, nullptr);
    EXPECT_EQ(app->window.client_count, 1);
    app->save_client_count(3);
    EXPECT_EQ(test::read_file(dir / "UserData" / "launcher_settings.ini"),
              "[alpha]\r\na=1\r\n\r\n"
              "[launcher]\r\nclient_count=3\r\nother=x\r\n\r\n"
              "[zeta]\r\nk=v\r\n\r\n");
    EXPECT_EQ(app_in(dir, nullptr)->window.client_count, 3);  // and the next start reads it
}
