#include "window/accessible_items.h"

#include "core/patch_progress.h"
#include "window/layout.h"
#include "window/window_state.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korvel {

namespace {

RECT rect_of(layout::TextBox const& b) {
    return {static_cast<LONG>(std::lround(b.x)), static_cast<LONG>(std::lround(b.y)),
            static_cast<LONG>(std::lround(b.x + b.width)), static_cast<LONG>(std::lround(b.y + b.height))};
}

ButtonId offset(ButtonId first, std::size_t by) {
    return static_cast<ButtonId>(static_cast<int>(first) + static_cast<int>(by));
}

AccessibleItem button(ButtonId id, ItemRole role, std::wstring name, bool enabled, RECT const& rect) {
    AccessibleItem item;
    item.id = static_cast<std::int32_t>(id);
    item.button = id;
    item.role = role;
    item.name = std::move(name);
    item.enabled = enabled;
    item.focusable = true;
    item.rect = rect;
    return item;
}

AccessibleItem text(std::int32_t id, ItemRole role, std::wstring name, RECT const& rect) {
    AccessibleItem item;
    item.id = id;
    item.role = role;
    item.name = std::move(name);
    item.rect = rect;
    return item;
}

std::wstring news_name(NewsItem const& n) {
    std::wstring name;
    for (std::wstring const* part : {&n.tag, &n.title, &n.date}) {
        if (part->empty()) continue;
        if (!name.empty()) name += L", ";
        name += *part;
    }
    return name;
}

// The group a stop belongs to: a news row stands for every row, a count for every count.
ButtonId group_of(ButtonId id) {
    if (is_news_row(id)) return ButtonId::NewsItem0;
    if (is_count_button(id)) return ButtonId::Count1;
    return id;
}

bool can_focus(AccessibleItem const& item) {
    return item.focusable && item.enabled;
}

// The index of `id` in `items`, or of Play when it has none; items.size() without either.
std::size_t place_of(std::vector<AccessibleItem> const& items, ButtonId id) {
    for (ButtonId const wanted : {id, ButtonId::Play}) {
        auto const at = std::find_if(items.begin(), items.end(), [&](auto const& i) { return i.button == wanted; });
        if (wanted != ButtonId::None && at != items.end()) return static_cast<std::size_t>(at - items.begin());
    }
    return items.size();
}

}  // namespace

bool is_news_row(ButtonId id) {
    return id >= ButtonId::NewsItem0 && id <= ButtonId::NewsItem3;
}

bool is_count_button(ButtonId id) {
    return id >= ButtonId::Count1 && id <= ButtonId::Count3;
}

std::wstring button_label(WindowState const& state, ButtonId id) {
    switch (id) {
        case ButtonId::Play: return state.patch_running ? L"FRISSÍTÉS..." : L"JÁTÉK INDÍTÁSA";
        case ButtonId::Repair: return L"JAVÍTÁS";
        case ButtonId::Website: return L"WEBOLDAL";
        case ButtonId::Discord: return L"DISCORD";
        case ButtonId::Register: return L"REGISZTRÁCIÓ";
        case ButtonId::Count1: return L"1\u00d7";
        case ButtonId::Count2: return L"2\u00d7";
        case ButtonId::Count3: return L"3\u00d7";
        default: return {};
    }
}

std::vector<AccessibleItem> accessible_items(WindowState const& state) {
    bool const idle = !state.patch_running;
    std::vector<AccessibleItem> items;
    items.push_back(button(ButtonId::Settings, ItemRole::PushButton, L"Beállítások", idle, layout::settings));
    items.push_back(button(ButtonId::Minimize, ItemRole::PushButton, L"Kis méret", true, layout::minimize));
    items.push_back(button(ButtonId::Close, ItemRole::PushButton, L"Bezárás", true, layout::close));

    std::size_t const rows = std::min(layout::news_rows.size(), state.news_items.size());
    for (std::size_t i = 0; i < rows; ++i)
        items.push_back(button(offset(ButtonId::NewsItem0, i), ItemRole::Link, news_name(state.news_items[i]), true,
                               layout::news_rows[i]));

    items.push_back(text(k_item_server_status, ItemRole::StaticText,
                         state.server_name + L": " + state.server_status_text, rect_of(layout::text::server_status)));
    struct Link {
        ButtonId id;
        std::wstring const& url;
        RECT rect;
    };
    for (Link const& link : {Link{ButtonId::Website, state.website_url, layout::website},
                             Link{ButtonId::Discord, state.discord_url, layout::discord},
                             Link{ButtonId::Register, state.register_url, layout::register_link}})
        items.push_back(button(link.id, ItemRole::Link, button_label(state, link.id), !link.url.empty(), link.rect));

    bool const failed = state.progress.stage == PatchStage::Failed;
    AccessibleItem progress = text(k_item_progress, ItemRole::ProgressBar,
                                   state.progress.title.empty() ? L"Launcher készen áll" : state.progress.title,
                                   layout::progress_track);
    progress.value = std::to_wstring(std::clamp(state.progress.percent, 0, 100)) + L"%";
    progress.description = state.progress.detail;
    items.push_back(std::move(progress));
    // A failure's reason is an alert, so that a screen reader says it when it appears.
    if (!state.progress.detail.empty())
        items.push_back(text(k_item_detail, failed ? ItemRole::Alert : ItemRole::StaticText,
                             failed ? state.progress.title + L": " + state.progress.detail : state.progress.detail,
                             rect_of(layout::text::progress_detail)));

    constexpr std::array<RECT, 3> counts{layout::count1, layout::count2, layout::count3};
    for (std::size_t i = 0; i < counts.size(); ++i) {
        AccessibleItem count = button(offset(ButtonId::Count1, i), ItemRole::RadioButton,
                                      std::to_wstring(i + 1) + L" kliens", idle, counts[i]);
        count.checked = state.client_count == static_cast<std::int32_t>(i + 1);
        items.push_back(std::move(count));
    }
    items.push_back(button(ButtonId::Repair, ItemRole::PushButton, button_label(state, ButtonId::Repair), idle,
                           layout::repair));
    items.push_back(button(ButtonId::Play, ItemRole::PushButton, button_label(state, ButtonId::Play),
                           idle && state.play_ready, layout::play));
    return items;
}

std::optional<AccessibleItem> find_item(std::vector<AccessibleItem> const& items, std::int32_t id) {
    auto const at = std::find_if(items.begin(), items.end(), [&](auto const& i) { return i.id == id; });
    if (at == items.end()) return std::nullopt;
    return *at;
}

ButtonId focused_button(WindowState const& state, std::vector<AccessibleItem> const& items) {
    std::size_t const start = place_of(items, state.focus_id);
    for (std::size_t step = 0; step < items.size(); ++step) {
        AccessibleItem const& item = items[(start + step) % items.size()];
        if (can_focus(item)) return item.button;
    }
    return ButtonId::None;
}

ButtonId next_tab_stop(WindowState const& state, std::vector<AccessibleItem> const& items, bool forward) {
    ButtonId const from = focused_button(state, items);
    if (from == ButtonId::None) return ButtonId::None;
    std::size_t const start = place_of(items, from);
    std::size_t const n = items.size();
    for (std::size_t step = 1; step < n; ++step) {
        AccessibleItem const& item = items[forward ? (start + step) % n : (start + n - step) % n];
        if (!can_focus(item) || group_of(item.button) == group_of(from)) continue;
        if (is_news_row(item.button)) return ButtonId::NewsItem0;
        if (is_count_button(item.button)) return offset(ButtonId::Count1, static_cast<std::size_t>(std::clamp(state.client_count, 1, 3) - 1));
        return item.button;
    }
    return from;
}

ButtonId move_in_group(std::vector<AccessibleItem> const& items, ButtonId from, UINT key) {
    if (is_count_button(from)) {
        int const at = static_cast<int>(from) - static_cast<int>(ButtonId::Count1);
        int const step = key == VK_RIGHT || key == VK_DOWN ? 1 : key == VK_LEFT || key == VK_UP ? -1 : 0;
        if (step == 0) return ButtonId::None;
        return offset(ButtonId::Count1, static_cast<std::size_t>((at + step + 3) % 3));
    }
    if (!is_news_row(from)) return ButtonId::None;
    int const rows = static_cast<int>(std::count_if(items.begin(), items.end(), [](auto const& i) { return is_news_row(i.button); }));
    int const at = static_cast<int>(from) - static_cast<int>(ButtonId::NewsItem0);
    int to = at;
    switch (key) {
        case VK_UP: to = std::max(at - 1, 0); break;
        case VK_DOWN: to = std::min(at + 1, rows - 1); break;
        case VK_HOME: to = 0; break;
        case VK_END: to = rows - 1; break;
        default: return ButtonId::None;
    }
    return offset(ButtonId::NewsItem0, static_cast<std::size_t>(to));
}

}  // namespace korvel
