#include "platform/message_box.h"

#include <utility>

namespace korvel {

namespace {

MessageBoxHook& installed_hook() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

void set_message_box_hook(MessageBoxHook hook) {
    installed_hook() = std::move(hook);
}

int show_message_box(HWND owner, std::wstring const& text, std::wstring const& title, UINT flags) {
    if (auto const& hook = installed_hook()) return hook(owner, text, title, flags);
    return ::MessageBoxW(owner, text.c_str(), title.c_str(), flags);
}

}  // namespace korvel
