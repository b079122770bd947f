#include "patcher/host_notes.h"

#include "core/json_document.h"
#include "core/read_file.h"
#include "platform/files.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <system_error>

namespace korvel {

namespace {

using std::chrono::seconds;

std::int64_t unix_seconds(WallTime t) {
    return std::chrono::duration_cast<seconds>(t.time_since_epoch()).count();
}

}  // namespace

std::filesystem::path host_notes_file(PatchConfig const& config) {
    return config.hash_cache_file.parent_path() / "hosts.json";
}

void load_host_notes(std::filesystem::path const& file, TransferPolicy& policy, WallTime now) {
    try {
        std::optional<std::string> const text = read_whole_file(file);
        if (!text) return;
        nlohmann::json const notes = parse_json_document(*text);
        // A clock set back, or a planted file, must not ban a host for longer than a note lasts.
        WallTime const latest = now + policy.settings().remember_for;
        for (auto const& [host, until] : notes.items())
            if (until.is_number_integer())
                policy.remember(host, std::min(latest, WallTime(std::chrono::duration_cast<WallTime::duration>(
                                                           seconds(until.get<std::int64_t>())))));
    } catch (std::exception const&) {
    }
}

void save_host_notes(std::filesystem::path const& file, TransferPolicy const& policy, WallTime now) noexcept {
    try {
        nlohmann::json notes = nlohmann::json::object();
        for (auto const& [host, until] : policy.remembered())
            if (until > now) notes[host] = unix_seconds(until);
        if (notes.empty()) {
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
            return;
        }
        ensure_parent_dir(file);
        write_file_replacing(file, notes.dump());
    } catch (std::exception const&) {
    }
}

}  // namespace korvel
