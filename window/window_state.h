#pragma once
// What the main window shows: a plain record that the launcher fills and the renderer
// draws (window/render.h). Nothing in it acts; UI thread only.

#include "core/patch_progress.h"
#include "platform/display_scale.h"
#include "platform/gdi_handles.h"
#include "platform/high_contrast.h"
#include "window/button_id.h"
#include "window/news_item.h"

#include <cstdint>
#include <optional>
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
    // The item the player moved the keyboard focus to (None: none chosen yet); the focus
    // itself is window/accessible_items.h's focused_button, which moves on from an item
    // that cannot take it. The ring shows from the first key press on, as the system's
    // keyboard cues do (UISF_HIDEFOCUS), so a mouse player's picture never changes.
    ButtonId focus_id = ButtonId::None;
    bool focus_visible = false;

    // The newest report of the running or last job (no_job_progress() before the first).
    PatchProgress progress = no_job_progress();

    // The DPI of the window's monitor: every rectangle in window/layout.h is in design
    // pixels and reaches the screen through scale.px.
    DisplayScale scale;

    // The contrast theme's colours while one is on: then every region is drawn in its
    // pairs, flat, without the banner picture. Nothing: the launcher's own look.
    std::optional<SystemColours> contrast;
};

}  // namespace korvel
