#pragma once
// A screen reader's view of another process's window, through Microsoft Active
// Accessibility (AccessibleObjectFromWindow on its client area), and the WinEvents it
// raises. The calling thread must be in a single-threaded COM apartment.

#include <windows.h>
#include <oleacc.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvel::test {

struct AccessibleChild {
    LONG id = 0;
    std::wstring name, value, description, default_action;
    LONG role = 0;
    LONG state = 0;
    RECT location{};  // screen pixels
};

class AccessibleReader {
public:
    // Throws std::runtime_error when the window answers with no client object.
    explicit AccessibleReader(HWND window);
    ~AccessibleReader();
    AccessibleReader(AccessibleReader const&) = delete;
    AccessibleReader& operator=(AccessibleReader const&) = delete;

    std::wstring name() const;                    // the client object's own
    std::vector<AccessibleChild> children() const;  // from accChildCount and accNavigate
    std::optional<AccessibleChild> child(LONG id) const;
    // accFocus: the focused child's id, CHILDID_SELF, or nothing while the window has no
    // focus.
    std::optional<LONG> focus() const;
    // accHitTest at a screen point: the child's id, CHILDID_SELF, or nothing outside.
    std::optional<LONG> hit(POINT at) const;
    HRESULT do_default_action(LONG id) const;

private:
    IAccessible* object_ = nullptr;
};

// Records the WinEvents a process raises on its windows' client objects while it lives
// (an out-of-context hook); pump() delivers what is waiting.
class WinEventLog {
public:
    explicit WinEventLog(DWORD pid);
    ~WinEventLog();
    WinEventLog(WinEventLog const&) = delete;
    WinEventLog& operator=(WinEventLog const&) = delete;

    // Delivers the waiting events, then whether one of `event` on `child` arrived.
    bool seen(DWORD event, LONG child) const;

private:
    HWINEVENTHOOK hook_ = nullptr;
};

// Polls `done` every 50 ms for up to `timeout_ms`, delivering this thread's messages (and
// so the WinEvents) meanwhile; its last answer.
bool pump_until(std::function<bool()> const& done, DWORD timeout_ms);

}  // namespace korvel::test
