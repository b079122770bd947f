#include "patcher/host_notes.h"

#include "core/json_document.h"
#include "core/read_file.h"
#include "platform/files.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace korvel {

namespace {

using std::chrono::seconds;

constexpr char const* retry_after_key = "retry_after";

std::int64_t unix_seconds(WallTime t) {
    return std::chrono::duration_cast<seconds>(t.time_since_epoch()).count();
}

// The times of `notes` (host: unix seconds), each at most `latest`.
std::vector<std::pair<std::string, WallTime>> read_times(nlohmann::json const& notes, WallTime latest) {
    std::vector<std::pair<std::string, WallTime>> times;
    for (auto const& [host, at] : notes.items())
        if (at.is_number_integer())
            times.emplace_back(host, std::min(latest, WallTime(std::chrono::duration_cast<WallTime::duration>(
                                                          seconds(at.get<std::int64_t>())))));
    return times;
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
        for (auto const& [host, until] : read_times(notes, now + policy.settings().remember_for))
            policy.remember(host, {until, {}});
        if (auto const waits = notes.find(retry_after_key); waits != notes.end() && waits->is_object())
            for (auto const& [host, at] : read_times(*waits, now + policy.settings().retry_after_cap))
                policy.remember(host, {{}, at});
    } catch (std::exception const&) {
    }
}

void save_host_notes(std::filesystem::path const& file, TransferPolicy const& policy, WallTime now) noexcept {
    try {
        nlohmann::json notes = nlohmann::json::object();
        for (auto const& [host, note] : policy.remembered()) {
            if (note.avoid_until > now) notes[host] = unix_seconds(note.avoid_until);
            // Rounded up: a Retry-After kept to the second must not come due early.
            if (note.not_before > now)
                notes[retry_after_key][host] = std::chrono::ceil<seconds>(note.not_before.time_since_epoch()).count();
        }
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
