#pragma once
// The hosts that failed, remembered for a few minutes across launcher starts: a launcher
// started again right after a mirror died does not begin on it, and one reopened while a
// server's Retry-After runs sends that server nothing before its time either. Kept in the
// launcher's state folder as
//   {"https://host:port": unix seconds until which it is avoided, ...,
//    "retry_after": {"https://host:port": unix seconds before which it is not asked, ...}}
// (the "retry_after" member came later: a file without it loads as before, and a launcher
// that does not know it skips it, as it skips every member that is not a number).

#include "patcher/patch_records.h"
#include "patcher/transfer_policy.h"

#include <filesystem>

namespace korvel {

std::filesystem::path host_notes_file(PatchConfig const& config);

// Gives `policy` the notes still in force; a missing or unreadable file gives none. A
// note lasts at most as long as the policy would make it now (a failed host
// remember_for, a Retry-After retry_after_cap), whatever a clock set back or a planted
// file says.
void load_host_notes(std::filesystem::path const& file, TransferPolicy& policy, WallTime now);

// Writes the policy's notes still in force at `now`, or removes the file when there are
// none. Never throws: losing the notes only costs a later start one failed attempt.
void save_host_notes(std::filesystem::path const& file, TransferPolicy const& policy, WallTime now) noexcept;

}  // namespace korvel
