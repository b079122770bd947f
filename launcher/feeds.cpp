#include "launcher/feeds.h"

#include "core/json_document.h"
#include "core/user_agent.h"
#include "launcher/app_messages.h"
#include "launcher/post_record.h"
#include "platform/http.h"
#include "platform/text.h"
#include "window/text_cut.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace korvel {

namespace {

using nlohmann::json;

constexpr std::size_t max_news_items = 4;

// value() already behaves as the documents require: a non-object throws a type error, a
// missing key gives the default, a key of another type throws a type error.
// Only the first feed_text_limit characters are kept: a row shows far fewer, and a
// multi-megabyte title would be measured on every repaint.
std::wstring text_of(json const& element, char const* key, char const* fallback) {
    std::wstring const text = utf8_to_wide(element.value(key, std::string(fallback)));
    return std::wstring(cut_at_boundary(text, feed_text_limit));
}

// A longer link is no link: the row is then not clickable.
std::wstring link_of(json const& element) {
    std::wstring text = utf8_to_wide(element.value("url", std::string()));
    if (text.size() > feed_link_limit) text.clear();
    return text;
}

// Items accepted before a failing element stay; the exception ends the reading.
void read_news(std::string const& url, std::vector<NewsItem>& items) {
    json const doc = parse_json_document(http_get(launcher_user_agent, url, feed_document_limit));
    json const list = doc.value("items", json::array());
    // Iterating a json visits an array's elements, an object's values in key order,
    // nothing for null and the value itself for any other single value.
    for (json const& element : list) {
        NewsItem item;
        item.tag = text_of(element, "tag", "HÍR");
        item.title = text_of(element, "title", "");
        item.date = text_of(element, "date", "");
        item.url = link_of(element);
        if (!item.title.empty() && items.size() < max_news_items) items.push_back(std::move(item));
    }
}

void read_status(std::string const& url, FeedResult& result) {
    json const doc = parse_json_document(http_get(launcher_user_agent, url, feed_document_limit));
    result.online = doc.value("online", false);
    result.label = text_of(doc, "label", result.online ? "Kalandra kész" : "Karbantartás");
}

}  // namespace

FeedResult collect_feeds(std::string const& news_url, std::string const& status_url) {
    FeedResult result;
    try {
        read_news(news_url, result.items);
    } catch (...) {
        // An unreachable server, an HTTP error, bad JSON or text: the news part stops here.
    }
    try {
        read_status(status_url, result);
    } catch (...) {
        // Also when "online" was already read as true: a status that cannot be read
        // whole is no status.
        result.online = false;
        result.label = L"A szerverállapot nem érhető el";
    }
    if (result.items.empty()) {
        result.items.push_back({L"HÍR", L"Üdvözlünk a Korvel2 Launcherben", {}, {}});
        result.items.push_back({L"UPDATE", L"Új Céh Ablak, Aura rendszer és bónusz-összesítő", {}, {}});
    }
    return result;
}

void fetch_feeds(HWND hwnd, std::string news_url, std::string status_url) noexcept {
    try {
        post_record(hwnd, WM_FEED_READY, std::make_unique<FeedResult>(collect_feeds(news_url, status_url)));
    } catch (...) {
        // Out of memory: the window keeps its start-up contents.
    }
}

}  // namespace korvel
