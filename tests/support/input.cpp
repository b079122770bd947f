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
