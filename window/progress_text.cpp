#include "window/progress_text.h"

#include "core/format_bytes.h"
#include "core/patch_progress.h"
#include "platform/text.h"

namespace korvel {

namespace {

constexpr wchar_t bullet[] = L"  \u2022  ";

}  // namespace

std::wstring format_eta(double eta) {
    // Written so that NaN lands here too: it would otherwise reach the integer cast.
    if (!(eta >= 0 && eta <= 864000)) return L"--";
    auto const s = static_cast<std::int64_t>(eta + 0.5);
    std::int64_t const m = (s / 60) % 60;
    if (s >= 3600) return std::to_wstring(s / 3600) + L" ó " + std::to_wstring(m) + L" p";
    if (m >= 1) return std::to_wstring(m) + L" p " + std::to_wstring(s % 60) + L" mp";
    return std::to_wstring(s % 60) + L" mp";
}

std::wstring download_line(PatchProgress const& progress) {
    std::wstring line;
    if (!progress.current_file.empty()) line = progress.current_file + bullet;
    line += utf8_to_wide(format_bytes(static_cast<double>(progress.bytes_done))) + L" / " +
            utf8_to_wide(format_bytes(static_cast<double>(progress.bytes_total)));
    line += bullet;
    line += progress.speed > 0 ? utf8_to_wide(format_bytes(progress.speed)) + L"/s" : std::wstring(L"-");
    line += bullet;
    line += format_eta(progress.eta);
    return line;
}

std::wstring counter_line(PatchProgress const& progress) {
    if (progress.stage == PatchStage::Downloading) return download_line(progress);
    if (progress.files_total != 0)
        return std::to_wstring(progress.files_done) + L" / " + std::to_wstring(progress.files_total) + L" fájl";
    return {};
}

}  // namespace korvel
