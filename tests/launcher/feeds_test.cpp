#include "launcher/app_messages.h"
#include "tests/support/test_server.h"
#include "launcher/feeds.h"

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

// What a feed can make the launcher hold: a document past 1 MiB counts as unreadable,
// texts keep 256 characters (a pair of surrogates is not split), a longer link is none.
TEST(Feeds, DocumentsAndTextsAreBounded) {
    korvel::test::ServedFolder const folder("feeds-bounds");
    std::string const emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
    std::string const url_2048 = "https://x.example/" + std::string(2048 - 18, 'a');
    folder.put("news.json", items({R"({"tag":")" + std::string(300, 'T') + R"(","title":")" + std::string(255, 't') +
                                       emoji + R"(","date":")" + std::string(1000000, 'd') + R"(","url":")" +
                                       url_2048 + R"("})",
                                   R"({"title":"b","url":")" + url_2048 + R"(b"})"}));
    folder.put("status.json", R"({"online":true,"label":")" + std::string(5000, 'L') + R"("})");
    korvel::FeedResult const r = korvel::collect_feeds(folder.url("news.json"), folder.url("status.json"));
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].tag, std::wstring(256, L'T'));
    EXPECT_EQ(r.items[0].title, std::wstring(255, L't'));
    EXPECT_EQ(r.items[0].date, std::wstring(256, L'd'));
    EXPECT_EQ(r.items[0].url.size(), 2048u);
    EXPECT_EQ(r.items[1].url, L"");
    EXPECT_EQ(r.label, std::wstring(256, L'L'));

    // One byte past 1 MiB: the defaults of an unreadable document.
    std::string const doc = items({R"({"title":"x"})"});
    folder.put("news.json", doc.substr(0, doc.size() - 2) + std::string((1 << 20) - doc.size() + 1, ' ') + "]}");
    folder.put("status.json", R"({"online":true)" + std::string(1 << 20, ' ') + "}");
    korvel::FeedResult const over = korvel::collect_feeds(folder.url("news.json"), folder.url("status.json"));
    EXPECT_EQ(titles(over), default_titles);
    EXPECT_FALSE(over.online);
    EXPECT_EQ(over.label, L"A szerverállapot nem érhető el");
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
