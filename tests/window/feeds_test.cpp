#include "launcher/app_messages.h"
#include "tests/support/test_server.h"
#include "window/feeds.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

using korvel::test::Fault;

std::vector<std::wstring> const default_titles{L"Üdvözlünk a Korvel2 Launcherben",
                                               L"Új Céh Ablak, Aura rendszer és bónusz-összesítő"};

std::string items(std::vector<std::string> const& elements) {
    std::string doc = R"({"items": [)";
    for (std::size_t i = 0; i < elements.size(); ++i) doc += (i ? "," : "") + elements[i];
    return doc + "]}";
}

std::vector<std::wstring> titles(korvel::FeedResult const& r) {
    std::vector<std::wstring> out;
    for (auto const& item : r.items) out.push_back(item.title);
    return out;
}

TEST(Feeds, NewsDocumentsAgainstTheServer) {
    struct Case {
        char const* name;
        std::optional<std::string> body;  // none: 404
        std::vector<std::wstring> expected;
    };
    Case const cases[] = {
        {"six items give four",
         items({R"({"title":"1"})", R"({"title":"2"})", R"({"title":"3"})", R"({"title":"4"})", R"({"title":"5"})",
                R"({"title":"6"})"}),
         {L"1", L"2", L"3", L"4"}},
        {"untitled items do not count",
         items({R"({"title":"1"})", R"({"title":""})", R"({"tag":"X"})", R"({"title":"2"})", R"({"title":"3"})",
                R"({"title":"4"})", R"({"title":"5"})"}),
         {L"1", L"2", L"3", L"4"}},
        {"a numeric date ends the list", items({R"({"title":"1"})", R"({"title":"2","date":5})", R"({"title":"3"})"}),
         {L"1"}},
        {"a numeric date first", items({R"({"title":"1","date":5})", R"({"title":"2"})"}), default_titles},
        {"items as an object, in key order", R"({"items":{"b":{"title":"B"},"a":{"title":"A"}}})", {L"A", L"B"}},
        {"empty items", items({}), default_titles},
        {"no items key", "{}", default_titles},
        {"not UTF-8", items({"{\"title\":\"\xc3\x28\"}"}), default_titles},
        {"syntax error", "{\"items\": [", default_titles},
        {"404", std::nullopt, default_titles},
        {"unreachable", "", default_titles},
        {"no URL", "", default_titles},
    };
    korvel::test::ServedFolder const folder("feeds");
    for (Case const& c : cases) {
        if (c.body) folder.put("news.json", *c.body);
        else folder.set_fault("news.json", Fault{.status = 404});
        std::string const name = c.name;
        std::string const url = name == "no URL"        ? ""
                                : name == "unreachable" ? "http://127.0.0.1:1/patch/news.json"
                                                        : folder.url("news.json");
        korvel::FeedResult const r = korvel::collect_feeds(url, "");
        EXPECT_EQ(titles(r), c.expected) << c.name;
        folder.clear_fault("news.json");
    }
    EXPECT_EQ(korvel::test::all_requests().back().header("User-Agent"), "KorvelLauncher/2.1");
}

TEST(Feeds, StatusDocumentsAgainstTheServer) {
    struct Case {
        char const* body;
        bool online;
        wchar_t const* label;
    };
    Case const cases[] = {
        {"{}", false, L"Karbantartás"},
        {R"({"label":"Szerviz"})", false, L"Szerviz"},
        {R"({"online":true})", true, L"Kalandra kész"},
        {R"({"online":"yes"})", false, L"A szerverállapot nem érhető el"},
        {R"({"online":true,"label":5})", false, L"A szerverállapot nem érhető el"},
        {"[]", false, L"A szerverállapot nem érhető el"},
        {nullptr, false, L"A szerverállapot nem érhető el"},  // no URL
    };
    korvel::test::ServedFolder const folder("status");
    for (Case const& c : cases) {
        if (c.body) folder.put("status.json", c.body);
        korvel::FeedResult const r = korvel::collect_feeds("", c.body ? folder.url("status.json") : "");
        EXPECT_EQ(r.online, c.online) << (c.body ? c.body : "no URL");
        EXPECT_EQ(r.label, c.label) << (c.body ? c.body : "no URL");
    }
}

// The worker's whole road: one record posted to a live window, none to a closed one.
TEST(Feeds, TheWorkerPostsOneRecordToALiveWindowOnly) {
    HWND const hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    korvel::fetch_feeds(hwnd, "", "");
    MSG message{};
    ASSERT_TRUE(::PeekMessageW(&message, hwnd, korvel::WM_FEED_READY, korvel::WM_FEED_READY, PM_REMOVE));
    std::unique_ptr<korvel::FeedResult> const record(reinterpret_cast<korvel::FeedResult*>(message.lParam));
    EXPECT_EQ(titles(*record), default_titles);

    ::DestroyWindow(hwnd);
    korvel::fetch_feeds(hwnd, "", "");
    EXPECT_FALSE(::PeekMessageW(&message, nullptr, korvel::WM_FEED_READY, korvel::WM_FEED_READY, PM_REMOVE));
}

}  // namespace
