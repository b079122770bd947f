#pragma once
// The window states the README's pictures show, for the screenshot tool and the tests
// that check those states: feeds loaded, a download under way, ready to play, failed.

#include "core/patch_progress.h"
#include "window/window_state.h"

namespace korvel::test {

inline void with_feeds(WindowState& app) {
    app.news_items = {{L"HÍR", L"Megnyílt a téli esemény: Fagyott Szoros", L"12.01.", L"https://example.invalid/1"},
                      {L"UPDATE", L"2.1-es frissítés: új céh ablak és aura rendszer", L"11.28.", L""},
                      {L"EVENT", L"Hétvégi dupla tapasztalat minden csatornán", L"11.22.", L""}};
    app.server_online = true;
    app.server_status_text = L"Kalandra kész";
    app.remote_version_text = L"2.1.0";
    app.website_url = L"https://example.invalid/";
    app.discord_url = L"https://example.invalid/discord";
    app.register_url = L"https://example.invalid/register";
}

inline void downloading(WindowState& app) {
    with_feeds(app);
    app.patch_running = true;
    app.progress.stage = PatchStage::Downloading;
    app.progress.title = L"Fájlok letöltése";
    app.progress.detail = L"Hiányzó és eltérő fájlok letöltése (3 / 9)";
    app.progress.current_file = L"data/pack/terrain_north.bin";
    app.progress.bytes_done = 1572864;
    app.progress.bytes_total = 12582912;
    app.progress.files_total = 9;
    app.progress.files_done = 3;
    app.progress.speed = 870707.2;
    app.progress.eta = 13;
    app.progress.percent = 41;
}

inline void ready_to_play(WindowState& app) {
    with_feeds(app);
    app.play_ready = true;
    app.client_count = 2;
    app.progress.stage = PatchStage::Done;
    app.progress.title = L"A kliens naprakész";
    app.progress.detail = L"Minden fájl ellenőrizve.";
    app.progress.files_total = 340;
    app.progress.files_done = 340;
    app.progress.percent = 100;
}

inline void failed(WindowState& app) {
    with_feeds(app);
    app.server_online = false;
    app.server_status_text = L"A szerverállapot nem érhető el";
    app.progress.stage = PatchStage::Failed;
    app.progress.title = L"Frissítési hiba";
    app.progress.detail = L"HTTP 404: https://patch.example.invalid/patch/version.json";
    app.progress.percent = 12;
}

}  // namespace korvel::test
