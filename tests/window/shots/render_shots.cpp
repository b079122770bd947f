// Renders the launcher window in the states the README shows, with the real drawing
// code, and saves each frame as a PNG:   render_shots.exe OUTPUT_FOLDER
// With --window SECONDS it instead shows the "ready" state in a real borderless window
// painted by paint_window (window/render.h) for that long, for a screenshot of the screen.

#include "tests/window/contrast_themes.h"
#include "tests/window/gdiplus_support.h"
#include "window/layout.h"
#include "window/render.h"
#include "window/window_state.h"

#include <cstdio>
#include <filesystem>
#include <cwchar>
#include <functional>
#include <string>

namespace {

using korvel::WindowState;

void with_feeds(WindowState& app) {
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

void ready_to_play(WindowState& app) {
    with_feeds(app);
    app.play_ready = true;
    app.client_count = 2;
    app.progress.stage = korvel::PatchStage::Done;
    app.progress.title = L"A kliens naprakész";
    app.progress.detail = L"Minden fájl ellenőrizve.";
    app.progress.files_total = 340;
    app.progress.files_done = 340;
    app.progress.percent = 100;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    auto* const app = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT:
        if (app) korvel::paint_window(hwnd, *app);
        else ::ValidateRect(hwnd, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the frame covers every pixel
    case WM_TIMER:
        ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, w, l);
}

int show_window(WindowState& app, UINT seconds) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvelRenderShots";
    ::RegisterClassW(&wc);
    HWND const hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"Korvel2 Launcher (paint_window)", WS_POPUP, 40, 40,
                                        korvel::layout::window_width, korvel::layout::window_height, nullptr, nullptr,
                                        wc.hInstance, nullptr);
    if (!hwnd) return 1;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&app));
    ::ShowWindow(hwnd, SW_SHOW);
    ::UpdateWindow(hwnd);
    ::SetTimer(hwnd, 1, seconds * 1000, nullptr);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}

struct Shot {
    char const* name;
    std::function<void(WindowState&)> state;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool const window = argc == 3 && std::wstring(argv[1]) == L"--window";
    if (argc != 2 && !window) {
        std::fputs("usage: render_shots OUTPUT_FOLDER | --window SECONDS\n", stderr);
        return 2;
    }
    korvel::test::ensure_gdiplus();
    Shot const shots[] = {
        {"startup", [](WindowState&) {}},
        {"downloading",
         [](WindowState& app) {
             with_feeds(app);
             app.patch_running = true;
             app.progress.stage = korvel::PatchStage::Downloading;
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
         }},
        {"ready",
         [](WindowState& app) {
             ready_to_play(app);
             app.hover_id = korvel::ButtonId::Play;
         }},
        {"ready-150", [](WindowState& app) { ready_to_play(app), app.scale.dpi = 144; }},  // on a display at 150 %
        {"failed",
         [](WindowState& app) {
             with_feeds(app);
             app.server_online = false;
             app.server_status_text = L"A szerverállapot nem érhető el";
             app.progress.stage = korvel::PatchStage::Failed;
             app.progress.title = L"Frissítési hiba";
             app.progress.detail = L"HTTP 404: https://patch.example.invalid/patch/version.json";
             app.progress.percent = 12;
         }},
        // The keyboard in use: the focus ring around Play, where the focus starts.
        {"focus", [](WindowState& app) { ready_to_play(app), app.focus_visible = true; }},
        // A contrast theme on ("High Contrast Black"), the keyboard on the client count.
        {"contrast",
         [](WindowState& app) {
             ready_to_play(app);
             app.contrast = korvel::test::contrast_black;
             app.focus_visible = true, app.focus_id = korvel::ButtonId::Count2;
         }},
    };
    if (window) {
        WindowState app;
        shots[2].state(app);  // "ready"
        return show_window(app, static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)));
    }
    std::filesystem::path const out = argv[1];
    int failures = 0;
    for (Shot const& shot : shots) {
        WindowState app;
        shot.state(app);
        // The frame time, as a hover change costs it: one warm-up, then the mean of 20.
        korvel::render_window(app);
        LARGE_INTEGER frequency{}, start{}, end{};
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        for (int i = 0; i < 20; ++i) korvel::render_window(app);
        ::QueryPerformanceCounter(&end);
        std::printf("%-12s %.1f ms per frame\n", shot.name,
                    1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / 20);
        korvel::UniqueGdipBitmap const frame = korvel::render_window(app);
        std::filesystem::path const file = out / (std::string("window-") + shot.name + ".png");
        if (!frame || !korvel::test::save_png(frame.get(), file)) {
            std::fprintf(stderr, "cannot save %s\n", file.string().c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
