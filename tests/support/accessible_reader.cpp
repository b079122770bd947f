#include "tests/support/accessible_reader.h"

#include "platform/msaa.h"

#include <stdexcept>
#include <utility>

namespace korvel::test {

namespace {

using korvel::k_iid_accessible;
using korvel::long_variant;

std::wstring take(BSTR text) {
    std::wstring out = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return out;
}

// One log at a time, on its thread: the hook's callback has no context pointer.
struct Recording {
    DWORD pid;
    std::vector<std::pair<DWORD, LONG>> events;
};
Recording* recording = nullptr;

void CALLBACK on_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (recording && object == OBJID_CLIENT && pid == recording->pid) recording->events.emplace_back(event, child);
}

}  // namespace

AccessibleReader::AccessibleReader(HWND window) {
    HRESULT const hr = ::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), k_iid_accessible,
                                                    reinterpret_cast<void**>(&object_));
    if (FAILED(hr) || !object_) throw std::runtime_error("AccessibleObjectFromWindow: " + std::to_string(hr));
}

AccessibleReader::~AccessibleReader() {
    if (object_) object_->Release();
}

std::wstring AccessibleReader::name() const {
    BSTR text = nullptr;
    object_->get_accName(long_variant(CHILDID_SELF), &text);
    return take(text);
}

std::optional<AccessibleChild> AccessibleReader::child(LONG id) const {
    VARIANT const v = long_variant(id);
    AccessibleChild c;
    c.id = id;
    BSTR text = nullptr;
    if (object_->get_accName(v, &text) == E_INVALIDARG) return std::nullopt;
    c.name = take(text);
    text = nullptr, object_->get_accValue(v, &text), c.value = take(text);
    text = nullptr, object_->get_accDescription(v, &text), c.description = take(text);
    text = nullptr, object_->get_accDefaultAction(v, &text), c.default_action = take(text);
    VARIANT out;
    ::VariantInit(&out);
    if (SUCCEEDED(object_->get_accRole(v, &out)) && out.vt == VT_I4) c.role = out.lVal;
    ::VariantInit(&out);
    if (SUCCEEDED(object_->get_accState(v, &out)) && out.vt == VT_I4) c.state = out.lVal;
    LONG x = 0, y = 0, w = 0, h = 0;
    if (SUCCEEDED(object_->accLocation(&x, &y, &w, &h, v))) c.location = {x, y, x + w, y + h};
    return c;
}

std::vector<AccessibleChild> AccessibleReader::children() const {
    LONG count = 0;
    object_->get_accChildCount(&count);
    std::vector<AccessibleChild> out;
    VARIANT at;
    ::VariantInit(&at);
    HRESULT hr = object_->accNavigate(NAVDIR_FIRSTCHILD, long_variant(CHILDID_SELF), &at);
    while (hr == S_OK && at.vt == VT_I4 && static_cast<LONG>(out.size()) < count) {
        if (auto c = child(at.lVal)) out.push_back(std::move(*c));
        LONG const id = at.lVal;
        ::VariantInit(&at);
        hr = object_->accNavigate(NAVDIR_NEXT, long_variant(id), &at);
    }
    if (static_cast<LONG>(out.size()) != count) throw std::runtime_error("accNavigate does not reach every child");
    return out;
}

std::optional<LONG> AccessibleReader::focus() const {
    VARIANT out;
    ::VariantInit(&out);
    if (object_->get_accFocus(&out) != S_OK || out.vt != VT_I4) return std::nullopt;
    return out.lVal;
}

std::optional<LONG> AccessibleReader::hit(POINT at) const {
    VARIANT out;
    ::VariantInit(&out);
    if (object_->accHitTest(at.x, at.y, &out) != S_OK || out.vt != VT_I4) return std::nullopt;
    return out.lVal;
}

HRESULT AccessibleReader::do_default_action(LONG id) const {
    return object_->accDoDefaultAction(long_variant(id));
}

WinEventLog::WinEventLog(DWORD pid) {
    recording = new Recording{pid, {}};
    // Every process's events, sorted by their window's process: Wine 8 delivers none to a
    // hook that names the process.
    hook_ = ::SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, on_event, 0, 0, WINEVENT_OUTOFCONTEXT);
}

WinEventLog::~WinEventLog() {
    if (hook_) ::UnhookWinEvent(hook_);
    delete std::exchange(recording, nullptr);
}

bool WinEventLog::seen(DWORD event, LONG child) const {
    pump_until([] { return true; }, 0);
    for (auto const& [e, c] : recording->events)
        if (e == event && c == child) return true;
    return false;
}

bool pump_until(std::function<bool()> const& done, DWORD timeout_ms) {
    for (ULONGLONG const deadline = ::GetTickCount64() + timeout_ms;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

}  // namespace korvel::test
