#include "tests/support/screen.h"

namespace korvel::test {

std::vector<std::uint32_t> screen_capture(RECT const& area) {
    int const w = area.right - area.left, h = area.bottom - area.top;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(w) * h);
    HDC const screen = ::GetDC(nullptr);
    HDC const memory = ::CreateCompatibleDC(screen);
    HBITMAP const bitmap = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ const old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    ::SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    ::GetDIBits(memory, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    for (auto& p : pixels) p &= 0xffffff;
    return pixels;
}

std::vector<std::uint32_t> screen_capture(HWND window) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    return screen_capture(frame);
}

}  // namespace korvel::test
