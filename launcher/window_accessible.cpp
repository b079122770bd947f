#include "launcher/window_accessible.h"

#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "platform/msaa.h"
#include "window/window_state.h"

#include <algorithm>
#include <new>
#include <string>

namespace korvel {

namespace {

LONG role_of(ItemRole role) {
    switch (role) {
        case ItemRole::PushButton: return ROLE_SYSTEM_PUSHBUTTON;
        case ItemRole::Link: return ROLE_SYSTEM_LINK;
        case ItemRole::RadioButton: return ROLE_SYSTEM_RADIOBUTTON;
        case ItemRole::ProgressBar: return ROLE_SYSTEM_PROGRESSBAR;
        case ItemRole::StaticText: return ROLE_SYSTEM_STATICTEXT;
        case ItemRole::Alert: return ROLE_SYSTEM_ALERT;
    }
    return ROLE_SYSTEM_STATICTEXT;
}

wchar_t const* default_action_of(ItemRole role) {
    switch (role) {
        case ItemRole::PushButton: return L"Megnyomás";
        case ItemRole::Link: return L"Megnyitás";
        case ItemRole::RadioButton: return L"Kiválasztás";
        default: return nullptr;
    }
}

// The item's state flags; `focused`: it holds the focus of a window that has it.
LONG state_of(AccessibleItem const& item, bool focused, bool hovered) {
    LONG state = 0;
    if (!item.enabled) state |= STATE_SYSTEM_UNAVAILABLE;
    if (item.focusable && item.enabled) state |= STATE_SYSTEM_FOCUSABLE;
    if (focused) state |= STATE_SYSTEM_FOCUSED;
    if (item.checked) state |= STATE_SYSTEM_CHECKED;
    if (hovered) state |= STATE_SYSTEM_HOTTRACKED;
    if (item.role == ItemRole::Link) state |= STATE_SYSTEM_LINKED;
    if (!item.focusable) state |= STATE_SYSTEM_READONLY;
    return state;
}

HRESULT string_out(std::wstring const& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// The client area's accessible object. It reads the window's state on every call, so it
// is never stale; after the window is gone every call answers RPC_E_DISCONNECTED.
class WindowAccessible final : public IAccessible {
public:
    WindowAccessible(LauncherApp& app, HWND hwnd) : app_(&app), hwnd_(hwnd) {}

    void disconnect() noexcept { app_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == k_iid_accessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG const left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: not offered; readers use the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!app_) return RPC_E_DISCONNECTED;
        return ::CreateStdAccessibleObject(hwnd_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (!count) return E_POINTER;
        if (!app_) return RPC_E_DISCONNECTED;
        *count = static_cast<LONG>(items().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!app_) return RPC_E_DISCONNECTED;
        // The items are simple elements: the reader asks this object about them.
        return item_of(child) ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return about(child, name, [&](AccessibleItem const& item) { return item.name; }, [&] { return window_title(); });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return about(child, value, [](AccessibleItem const& item) { return item.value; }, [] { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return about(child, description, [](AccessibleItem const& item) { return item.description; },
                     [] { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return number_about(child, role, [] { return LONG{ROLE_SYSTEM_CLIENT}; },
                            [](AccessibleItem const& item) { return role_of(item.role); });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return number_about(
            child, state, [&] { return STATE_SYSTEM_FOCUSABLE | (has_focus() ? STATE_SYSTEM_FOCUSED : 0); },
            [&](AccessibleItem const& item) {
                bool const focused = has_focus() && item.button != ButtonId::None && item.button == focused_item();
                bool const hovered = item.button != ButtonId::None && item.button == app_->window.hover_id;
                return state_of(item, focused, hovered);
            });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override { return string_out({}, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
        if (topic) *topic = 0;
        return string_out({}, file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* shortcut) override {
        return string_out({}, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        ::VariantInit(focus);
        if (!app_) return RPC_E_DISCONNECTED;
        if (!has_focus()) return S_FALSE;
        ButtonId const focused = focused_item();
        *focus = long_variant(focused == ButtonId::None ? CHILDID_SELF : static_cast<LONG>(focused));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        ::VariantInit(selection);
        return app_ ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return about(child, action, [](AccessibleItem const& item) {
            wchar_t const* const text = default_action_of(item.role);
            return std::wstring(text ? text : L"");
        }, [] { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        if (!app_) return RPC_E_DISCONNECTED;
        std::optional<AccessibleItem> const item = item_of(child);
        if (!item) return E_INVALIDARG;
        if (flags != SELFLAG_TAKEFOCUS || !item->focusable || !item->enabled) return S_FALSE;
        ::SetFocus(hwnd_);
        app_->window.focus_id = item->button;
        app_->window.focus_visible = true;
        ::InvalidateRect(hwnd_, nullptr, FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        if (!app_) return RPC_E_DISCONNECTED;
        RECT area{};
        if (is_self(child)) {
            ::GetClientRect(hwnd_, &area);
        } else {
            std::optional<AccessibleItem> const item = item_of(child);
            if (!item) return E_INVALIDARG;
            area = app_->window.scale.px(item->rect);
        }
        ::MapWindowPoints(hwnd_, nullptr, reinterpret_cast<POINT*>(&area), 2);
        *left = area.left;
        *top = area.top;
        *width = area.right - area.left;
        *height = area.bottom - area.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        ::VariantInit(end);
        if (!app_) return RPC_E_DISCONNECTED;
        std::vector<AccessibleItem> const all = items();
        if (all.empty()) return S_FALSE;
        if (is_self(start)) {
            if (direction == NAVDIR_FIRSTCHILD) *end = long_variant(all.front().id);
            else if (direction == NAVDIR_LASTCHILD) *end = long_variant(all.back().id);
            else return S_FALSE;  // the window's siblings are its parent's to tell
            return S_OK;
        }
        std::optional<AccessibleItem> const item = item_of(start);
        if (!item) return E_INVALIDARG;
        auto const at = std::find_if(all.begin(), all.end(), [&](auto const& i) { return i.id == item->id; });
        if (direction == NAVDIR_NEXT && at + 1 != all.end()) *end = long_variant((at + 1)->id);
        else if (direction == NAVDIR_PREVIOUS && at != all.begin()) *end = long_variant((at - 1)->id);
        else return S_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
        if (!hit) return E_POINTER;
        ::VariantInit(hit);
        if (!app_) return RPC_E_DISCONNECTED;
        POINT point{x, y};
        ::ScreenToClient(hwnd_, &point);
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        if (!::PtInRect(&client, point)) return S_FALSE;
        for (AccessibleItem const& item : items()) {
            RECT const area = app_->window.scale.px(item.rect);
            if (::PtInRect(&area, point)) {
                *hit = long_variant(item.id);
                return S_OK;
            }
        }
        *hit = long_variant(CHILDID_SELF);
        return S_OK;
    }
    // Refused on an unavailable item; otherwise the press is posted, so that what it
    // opens (a dialog, a message box) or closes (the window, after Play) runs in the
    // window's own loop, not inside the reader's call, and it runs the click's code with
    // the click's guards.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!app_) return RPC_E_DISCONNECTED;
        std::optional<AccessibleItem> const item = item_of(child);
        if (!item) return is_self(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
        if (item->button == ButtonId::None) return DISP_E_MEMBERNOTFOUND;
        if (!item->enabled) return E_FAIL;
        return ::PostMessageW(hwnd_, WM_ACCESSIBLE_PRESS, static_cast<WPARAM>(item->button), 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~WindowAccessible() = default;

    std::vector<AccessibleItem> items() const { return accessible_items(app_->window); }
    ButtonId focused_item() const { return focused_button(app_->window, items()); }
    bool has_focus() const { return ::GetFocus() == hwnd_; }

    static bool is_self(VARIANT const& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
    std::optional<AccessibleItem> item_of(VARIANT const& child) const {
        if (child.vt != VT_I4 || child.lVal == CHILDID_SELF) return std::nullopt;
        return find_item(items(), child.lVal);
    }
    std::wstring window_title() const {
        std::wstring title(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd_)) + 1, L'\0');
        title.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd_, title.data(), static_cast<int>(title.size()))));
        return title;
    }

    // A text of the window (CHILDID_SELF) or of one item.
    template <typename OfItem, typename OfSelf>
    HRESULT about(VARIANT const& child, BSTR* out, OfItem const& of_item, OfSelf const& of_self) const {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!app_) return RPC_E_DISCONNECTED;
        if (is_self(child)) return string_out(of_self(), out);
        std::optional<AccessibleItem> const item = item_of(child);
        if (!item) return E_INVALIDARG;
        return string_out(of_item(*item), out);
    }

    // A role or state flags of the window (CHILDID_SELF) or of one item.
    template <typename OfSelf, typename OfItem>
    HRESULT number_about(VARIANT const& child, VARIANT* out, OfSelf const& of_self, OfItem const& of_item) const {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        if (!app_) return RPC_E_DISCONNECTED;
        if (is_self(child)) {
            *out = long_variant(of_self());
            return S_OK;
        }
        std::optional<AccessibleItem> const item = item_of(child);
        if (!item) return E_INVALIDARG;
        *out = long_variant(of_item(*item));
        return S_OK;
    }

    LauncherApp* app_;
    HWND hwnd_;
    ULONG references_ = 1;
};

WindowAccessibility::~WindowAccessibility() {
    disconnect();
}

void WindowAccessibility::disconnect() noexcept {
    if (!object_) return;
    object_->disconnect();
    // Proxies in readers' processes are told now rather than when they next call.
    ::CoDisconnectObject(static_cast<IAccessible*>(object_), 0);
    object_->Release();
    object_ = nullptr;
}

LRESULT WindowAccessibility::on_get_object(LauncherApp& app, HWND hwnd, WPARAM wparam, LPARAM lparam) {
    if (static_cast<LONG>(lparam) != OBJID_CLIENT) return ::DefWindowProcW(hwnd, WM_GETOBJECT, wparam, lparam);
    if (!object_) object_ = new (std::nothrow) WindowAccessible(app, hwnd);
    if (!object_) return 0;
    return ::LresultFromObject(k_iid_accessible, wparam, static_cast<IAccessible*>(object_));
}

void WindowAccessibility::announce_changes(HWND hwnd, WindowState const& state) {
    std::vector<AccessibleItem> items = accessible_items(state);
    auto const raise = [&](DWORD event, LONG id) { ::NotifyWinEvent(event, hwnd, OBJID_CLIENT, id); };
    bool reordered = items.size() != announced_.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        AccessibleItem const& now = items[i];
        std::optional<AccessibleItem> const before = find_item(announced_, now.id);
        reordered = reordered || announced_[i].id != now.id;
        bool const new_alert = now.role == ItemRole::Alert &&
                               (!before || before->role != ItemRole::Alert || before->name != now.name);
        if (new_alert) raise(EVENT_SYSTEM_ALERT, now.id);
        if (!before) continue;
        if (before->name != now.name) raise(EVENT_OBJECT_NAMECHANGE, now.id);
        if (before->value != now.value) raise(EVENT_OBJECT_VALUECHANGE, now.id);
        if (before->description != now.description) raise(EVENT_OBJECT_DESCRIPTIONCHANGE, now.id);
        if (before->enabled != now.enabled || before->checked != now.checked) raise(EVENT_OBJECT_STATECHANGE, now.id);
    }
    if (reordered) raise(EVENT_OBJECT_REORDER, CHILDID_SELF);
    ButtonId const focus = focused_button(state, items);
    if (focus != announced_focus_ && focus != ButtonId::None && ::GetFocus() == hwnd)
        raise(EVENT_OBJECT_FOCUS, static_cast<LONG>(focus));
    announced_focus_ = focus;
    announced_ = std::move(items);
}

void WindowAccessibility::on_focus_gained(HWND hwnd, WindowState const& state) {
    ButtonId const focus = focused_button(state, accessible_items(state));
    if (focus != ButtonId::None) ::NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd, OBJID_CLIENT, static_cast<LONG>(focus));
}

}  // namespace korvel
