#include "tests/support/input.h"

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

namespace {

// The pointer moved to `at` through the input queue, as a mouse moves it.
INPUT pointer_at(POINT at, DWORD buttons = 0) {
    int const w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ::MulDiv(at.x, 65535, w > 1 ? w - 1 : 1);
    input.mi.dy = ::MulDiv(at.y, 65535, h > 1 ? h - 1 : 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    return input;
}

}  // namespace

void drag(POINT from, POINT to) {
    INPUT press = pointer_at(from, MOUSEEVENTF_LEFTDOWN);
    ::SendInput(1, &press, sizeof(INPUT));
    constexpr int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        INPUT move = pointer_at({from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
        ::SendInput(1, &move, sizeof(INPUT));
    }
    INPUT release = pointer_at(to, MOUSEEVENTF_LEFTUP);
    ::SendInput(1, &release, sizeof(INPUT));
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
