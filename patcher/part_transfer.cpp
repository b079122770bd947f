#include "patcher/part_transfer.h"

#include "core/json_document.h"
#include "core/json_number.h"
#include "core/read_file.h"
#include "core/sha256.h"
#include "core/protected_path.h"
#include "patcher/transfer_policy.h"
#include "patcher/transfer_retry.h"
#include "platform/dir_listing.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace korvel {

namespace {

using nlohmann::json;

// Below this size a break costs little to repeat, and writing a record before every
// small file would cost more than it saves; such a part is recorded only when its
// transfer breaks.
constexpr std::uint64_t record_on_answer_from = 1 << 20;

std::optional<PartRecord> read_record(fs::path const& file) {
    try {
        std::optional<std::string> const text = read_whole_file(win32_path(file));
        if (!text) return std::nullopt;
        json const doc = parse_json_document(*text);
        PartRecord record;
        record.path = doc.at("path").get<std::string>();
        record.size = json_to_u64(doc.at("size"));
        record.sha256 = doc.at("sha256").get<std::string>();
        record.url = doc.at("url").get<std::string>();
        record.validator = doc.at("validator").get<std::string>();
        record.part = fs::path(utf8_to_wide(doc.at("part").get<std::string>()));
        return record;
    } catch (std::exception const&) {
        return std::nullopt;
    }
}

// A validator goes back to the server in a header line: a record holding a line break
// or another control character (a damaged or planted file) could add headers of its own.
bool fits_a_header(std::string const& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}

// Whether the part, given relative to the game folder, lies where the patch never writes.
bool in_protected_place(fs::path const& relative) {
    try {
        return is_protected_path(wide_to_utf8(relative.generic_wstring()));
    } catch (std::exception const&) {
        return true;  // a name no manifest path can give
    }
}

// The files in `folder`; none when it cannot be listed.
std::vector<fs::path> files_in(fs::path const& folder) {
    std::vector<fs::path> files;
    list_folder(folder, [&](ListedEntry const& entry) {
        if (!entry.directory) files.push_back(folder / entry.name);
    });
    return files;
}

bool is_record_file(fs::path const& file) { return file.extension() == L".json"; }

}  // namespace

PartRecords::PartRecords(fs::path folder, fs::path game_dir)
    : folder_(std::move(folder)), game_dir_(std::move(game_dir).lexically_normal()) {
    for (fs::path const& file : files_in(folder_))
        if (std::optional<PartRecord> record = is_record_file(file) ? read(file) : std::nullopt)
            found_[record->path] = std::move(*record);
}

// A record is trusted only with a part file below the game folder, outside the places
// the patch never touches (the player's UserData above all).
std::optional<PartRecord> PartRecords::read(fs::path const& file) const {
    std::optional<PartRecord> record = read_record(file);
    if (!record || !record->part.native().ends_with(L".part")) return std::nullopt;
    fs::path const relative = record->part.lexically_normal().lexically_relative(game_dir_);
    if (relative.empty() || relative.is_absolute() || *relative.begin() == L"..") return std::nullopt;
    if (in_protected_place(relative)) return std::nullopt;
    return record;
}

std::optional<PartRecord> PartRecords::find(std::string const& path) const {
    auto const it = found_.find(path);
    if (it == found_.end()) return std::nullopt;
    return it->second;
}

fs::path PartRecords::file_for(std::string const& path) const {
    return folder_ / (sha256_hex(path).substr(0, 32) + ".json");
}

void PartRecords::save(PartRecord const& record) {
    json const doc = {{"path", record.path},           {"size", record.size},
                      {"sha256", record.sha256},       {"url", record.url},
                      {"validator", record.validator}, {"part", wide_to_utf8(record.part.native())}};
    std::lock_guard const lock(mutex_);
    try {
        if (!folder_made_) {
            ensure_parent_dir(file_for(record.path));
            folder_made_ = true;
        }
        write_file_replacing(file_for(record.path), doc.dump());
    } catch (std::exception const&) {
    }
}

void PartRecords::remove(std::string const& path) {
    std::lock_guard const lock(mutex_);
    remove_file(file_for(path));
}

void PartRecords::remove_all() {
    std::lock_guard const lock(mutex_);
    for (fs::path const& file : files_in(folder_)) {
        if (std::optional<PartRecord> const record = is_record_file(file) ? read(file) : std::nullopt)
            remove_file(record->part);
        remove_file(file);
    }
    remove_empty_folder(folder_);
    found_.clear();
    folder_made_ = false;
}

PartTransfer::PartTransfer(Target target, PartRecords& records) : target_(std::move(target)), records_(records) {
    std::optional<PartRecord> const record = records_.find(target_.path);
    if (!record) return;
    recorded_ = true;  // whatever it says, it is replaced or removed later
    if (record->size != target_.size || record->sha256 != target_.sha256 || record->part != target_.part ||
        record->validator.empty() || !fits_a_header(record->validator) || listed_empty())
        return;
    std::uint64_t kept = 0;
    try {
        kept = korvel::file_size(target_.part);
    } catch (std::exception const&) {
    }
    if (kept > 0 && (target_.size == 0 || kept < target_.size)) resume_ = ResumeFrom{kept, record->validator};
    other_host_ = record->url != target_.url;
}

void PartTransfer::move_to(std::string url) {
    if (url == target_.url) return;
    target_.url = std::move(url);
    other_host_ = true;
}

PartTransfer::Fetched PartTransfer::attempt(HttpSession& http, DownloadProgressFn const& progress,
                                            std::vector<char>* buffer, DownloadCancel const* cancel) {
    AttemptState state{false, kept_bytes(), resume_ ? resume_->validator : std::string()};
    Sha256 hash;

    DownloadOptions options;
    options.expected_size = target_.size;
    options.size_limit = target_.size_limit;
    options.resume = resume_;
    if (resume_ && other_host_) options.resume->validator.clear();
    options.hash = &hash;
    options.make_parent = false;
    options.flush = true;
    options.buffer = buffer;
    options.cancel = cancel;
    options.on_answer = [&](DownloadAnswer const& answer) { record_answer(answer, state); };
    options.on_progress = [&](std::uint64_t done, std::uint64_t total) {
        state.part_size = done;
        if (progress) progress(done, total);
    };

    DownloadResult result;
    try {
        result = http_download(http, target_.url, target_.part, options);
    } catch (...) {
        settle_failed_part(state);
        throw;
    }
    resume_.reset();
    return Fetched{to_hex(hash.finalize()), result.size};
}

void PartTransfer::record_answer(DownloadAnswer const& answer, AttemptState& state) {
    state.answered = true;
    // From here on the part holds, or continues, bytes of this host's answer.
    bool const same_record = answer.resumed && resume_ && answer.validator == resume_->validator && recorded_ &&
                             !other_host_;
    other_host_ = false;
    state.validator = answer.validator;
    if (!answer.resumed) state.part_size = 0;
    if (state.validator.empty()) {
        if (recorded_) records_.remove(target_.path);
        recorded_ = false;
    } else if (!listed_empty() && (target_.size == 0 || target_.size >= record_on_answer_from)) {
        if (!same_record)
            records_.save({target_.path, target_.size, target_.sha256, target_.url, state.validator, target_.part});
        recorded_ = true;
    } else if (recorded_ && !answer.resumed) {
        records_.remove(target_.path);
        recorded_ = false;
    }
}

void PartTransfer::settle_failed_part(AttemptState const& state) {
    try {
        throw;
    } catch (HttpTransferBroken const&) {
        keep_or_discard(state.part_size, state.validator);
    } catch (TransferStopped const&) {
        keep_or_discard(state.part_size, state.validator);
    } catch (HostTooSlow const&) {
        keep_or_discard(state.part_size, state.validator);
    } catch (HttpCancelled const&) {
        keep_or_discard(state.part_size, state.validator);
    } catch (HttpUnusableRange const&) {
        discard();
    } catch (HttpStatusError const& e) {
        // An overloaded server (429, 502, 503, 504) said nothing of the part: it stays
        // for the next attempt. A server or a cache between that answers a range with
        // another error (400, 403, 501 ...) would answer the next one alike: the next
        // attempt asks for the whole file.
        if (is_transient({FailureKind::status, static_cast<int>(e.status()), std::nullopt, e.what()}))
            keep_or_discard(kept_bytes(), resume_ ? resume_->validator : std::string());
        else
            discard();
    } catch (...) {
        // Before any answer (no connection, a time-out) the part is untouched and stays
        // what it was; after one, whatever went wrong makes its bytes worthless.
        if (state.answered)
            discard();
        else
            keep_or_discard(kept_bytes(), resume_ ? resume_->validator : std::string());
    }
}

bool PartTransfer::listed_empty() const {
    return target_.size == 0 && target_.size_limit == std::uint64_t{0};
}

void PartTransfer::keep_or_discard(std::uint64_t part_size, std::string const& validator) {
    if (part_size == 0 || validator.empty()) {
        discard();
        return;
    }
    resume_ = ResumeFrom{part_size, validator};
    if (!recorded_) {
        records_.save({target_.path, target_.size, target_.sha256, target_.url, validator, target_.part});
        recorded_ = true;
    }
}

void PartTransfer::discard() {
    remove_file(target_.part);
    if (recorded_) records_.remove(target_.path);
    recorded_ = false;
    resume_.reset();
}

void PartTransfer::placed() {
    if (recorded_) records_.remove(target_.path);
    recorded_ = false;
    resume_.reset();
}

}  // namespace korvel
