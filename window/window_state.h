#pragma once
// What the main window shows: a plain record that the launcher fills and the renderer
// draws (window/render.h). Nothing in it acts; UI thread only.

#include "core/patch_progress.h"
#include "platform/display_scale.h"
#include "platform/gdi_handles.h"
#include "window/button_id.h"
#include "window/layout.h"
#include "window/news_item.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// The bottom panel before any job: NotStarted (which the engine never reports), no texts,
// no counters.
inline PatchProgress no_job_progress() {
    PatchProgress none;
    none.stage = PatchStage::NotStarted;
    none.title.clear();
    none.detail.clear();
    return none;
}

struct WindowState {
    UniqueGdipBitmap banner_bitmap;  // empty: the drawn stand-in

    std::wstring logo_text = L"KORVEL2";
    std::wstring subtitle = L"Official Game Launcher";
    std::wstring hero_title = L"LÉPJ BE A KORVEL VILÁGÁBA";
    std::wstring hero_subtitle = L"A legendád itt kezdődik – lépj be, és írd tovább Korvel2 történetét.";
    std::wstring server_name = L"Korvel2";

    // A link button is enabled when its URL is not empty.
    std::wstring website_url;
    std::wstring discord_url;
    std::wstring register_url;

    std::vector<NewsItem> news_items;
    bool server_online = false;
    std::wstring server_status_text = L"Állapot ellenőrzése...";
    std::wstring remote_version_text = L"-";

    bool patch_running = false;
    bool play_ready = false;
    std::int32_t client_count = 1;
    ButtonId hover_id = ButtonId::None;

    // The newest report of the running or last job (no_job_progress() before the first).
    PatchProgress progress = no_job_progress();

    // The DPI of the window's monitor: every rectangle below, and everything in
    // window/layout.h, is in design pixels and reaches the screen through scale.px.
    DisplayScale scale;

    // The active areas, as window/layout.h places them.
    RECT close_rect = layout::close;
    RECT minimize_rect = layout::minimize;
    RECT play_rect = layout::play;
    RECT repair_rect = layout::repair;
    RECT settings_rect = layout::settings;
    RECT website_rect = layout::website;
    RECT discord_rect = layout::discord;
    RECT register_rect = layout::register_link;
    RECT count1_rect = layout::count1;
    RECT count2_rect = layout::count2;
    RECT count3_rect = layout::count3;
    RECT banner_rect = layout::banner;
    RECT news_card_rect = layout::news_card;
    RECT status_card_rect = layout::status_card;
    RECT bottom_panel_rect = layout::bottom_panel;
    std::vector<RECT> news_item_rects{layout::news_rows.begin(), layout::news_rows.end()};
};

}  // namespace korvel
