#include "patcher/progress_reporter.h"

#include "platform/text.h"

namespace korvel {

std::wstring widen_for_display(std::string_view text) {
    return utf8_or_bytes_to_wide(text);
}

}  // namespace korvel
