// Renders the launcher window in the states the README shows, with the real drawing
// code, and saves each frame as a PNG:   render_shots.exe OUTPUT_FOLDER
// With --window SECONDS it instead shows the "ready" state in a real borderless window
// painted by paint_window (window/render.h) for that long, for a screenshot of the screen.

#include "tests/window/contrast_themes.h"
#include "tests/window/gdiplus_support.h"
#include "tests/window/readme_states.h"
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

using korvel::test::ready_to_play;

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
        {"downloading", korvel::test::downloading},
        {"waiting",
         [](WindowState& app) {
             korvel::test::downloading(app);
             app.progress.detail = L"A szerver túlterhelt, újrapróbálás 7 mp múlva";
             app.progress.speed = 0;
             app.progress.eta = -1;
         }},
        {"ready",
         [](WindowState& app) {
             ready_to_play(app);
             app.hover_id = korvel::ButtonId::Play;
         }},
        {"ready-150", [](WindowState& app) { ready_to_play(app), app.scale.dpi = 144; }},  // on a display at 150 %
        {"failed", korvel::test::failed},
        // The system's text size at its largest, 225 %.
        {"larger-text", [](WindowState& app) { ready_to_play(app), app.text_factor = 2.25f; }},
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
        shots[3].state(app);  // "ready"
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
