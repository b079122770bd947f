#pragma once
// The hosts that failed, remembered for a few minutes across launcher starts: a launcher
// started again right after a mirror died does not begin on it. Kept in the launcher's
// state folder as {"https://host:port": unix seconds until which it is avoided}.

#include "patcher/patch_records.h"
#include "patcher/transfer_policy.h"

#include <filesystem>

namespace korvel {

std::filesystem::path host_notes_file(PatchConfig const& config);

// Gives `policy` the notes still in force; a missing or unreadable file gives none.
void load_host_notes(std::filesystem::path const& file, TransferPolicy& policy, WallTime now);

// Writes the policy's notes still in force at `now`, or removes the file when there are
// none. Never throws: losing the notes only costs a later start one failed attempt.
void save_host_notes(std::filesystem::path const& file, TransferPolicy const& policy, WallTime now) noexcept;

}  // namespace korvel
