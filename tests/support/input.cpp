#include "tests/support/input.h"

#include <algorithm>

namespace korvel::test {

bool wait_until(std::function<bool()> const& done, DWORD timeout_ms, DWORD every_ms) {
    for (ULONGLONG const deadline = ::GetTickCount64() + timeout_ms; ::GetTickCount64() < deadline; ::Sleep(every_ms))
        if (done()) return true;
    return done();
}

void click_at(POINT at) {
    ::SetCursorPos(at.x, at.y);
    wait_until(
        [&] {
            POINT now{};
            return ::GetCursorPos(&now) && now.x == at.x && now.y == at.y;
        },
        10000);
    INPUT buttons[2]{};
    for (DWORD flag : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
        INPUT& input = buttons[flag == MOUSEEVENTF_LEFTUP];
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flag;
    }
    ::SendInput(2, buttons, sizeof(INPUT));
}

void drag(POINT from, POINT to) {
    INPUT steps[10]{};  // down at `from`, eight moves, up at `to`; absolute: 0..65535 across the screen
    for (int i = 0; i < 10; ++i) {
        int const k = std::clamp(i, 0, 8);
        steps[i].type = INPUT_MOUSE;
        steps[i].mi.dx = ::MulDiv(from.x + (to.x - from.x) * k / 8, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
        steps[i].mi.dy = ::MulDiv(from.y + (to.y - from.y) * k / 8, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
        steps[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE |
                              (i == 0 ? MOUSEEVENTF_LEFTDOWN : i == 9 ? MOUSEEVENTF_LEFTUP : 0);
    }
    ::SendInput(10, steps, sizeof(INPUT));
}

void press_keys(std::vector<WORD> const& keys) {
    std::vector<INPUT> inputs(keys.size() * 2);
    for (size_t i = 0; i < keys.size(); ++i) {
        INPUT& down = inputs[i];
        INPUT& up = inputs[inputs.size() - 1 - i];
        down.type = up.type = INPUT_KEYBOARD;
        down.ki.wVk = up.ki.wVk = keys[i];
        up.ki.dwFlags = KEYEVENTF_KEYUP;
    }
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace korvel::test
