#pragma once
// Waiting on a condition, and input as a player gives it: through the system's input
// queue, so it reaches whatever window lies under the pointer or has the focus. (Wine
// cannot start xdotool, a Linux program, from a Windows test.)

#include <windows.h>

#include <functional>
#include <vector>

namespace korvel::test {

// Asks `done` every `every_ms` until it says true or `timeout_ms` has passed; its last
// answer.
bool wait_until(std::function<bool()> const& done, DWORD timeout_ms, DWORD every_ms = 20);

// Moves the cursor to `at` (screen pixels), waits until it is there, and clicks the left
// button.
void click_at(POINT at);

// Presses the left button at `from`, moves the pointer to `to` in a few steps and
// releases it there (screen pixels): a drag.
void drag(POINT from, POINT to);

// Presses the keys in order and releases them in reverse: {VK_MENU, VK_F4} is Alt+F4.
void press_keys(std::vector<WORD> const& keys);

}  // namespace korvel::test
