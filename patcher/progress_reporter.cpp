#include "patcher/progress_reporter.h"

#include "platform/text.h"

namespace korvel {

std::wstring widen_for_display(std::string_view text) {
    try {
        return utf8_to_wide(text);
    } catch (std::exception const&) {
        std::wstring wide;
        wide.reserve(text.size());
        for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<signed char>(c)));
        return wide;
    }
}

}  // namespace korvel
