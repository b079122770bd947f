#pragma once
// A game folder in a temporary directory, a launcher folder beside it and a patch
// server folder of the test's own, with helpers that publish a client and run the
// engine while recording every progress report.

#include "core/chunker.h"
#include "core/launcher_offer.h"
#include "patcher/patcher_engine.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel::test {

struct PublishedFile {
    PublishedFile(std::string content) : bytes(std::move(content)) {}
    PublishedFile(std::string content, std::uint64_t listed_size, std::optional<std::string> listed_sha256)
        : bytes(std::move(content)), size(listed_size), sha256(std::move(listed_sha256)) {}

    std::string bytes;
    // The manifest's size and hash; by default those of `bytes`.
    std::optional<std::uint64_t> size;
    std::optional<std::string> sha256;
};

class EngineTest : public ::testing::Test {
protected:
    EngineTest();

    // Publishes version.json ("1.2.3" unless given, offering `launcher` when given) and a
    // manifest listing `files` (served below files/) and `deletes`.
    void publish(std::map<std::string, PublishedFile> const& files, std::vector<std::string> const& deletes = {},
                 std::string const& client_version = "1.2.3",
                 std::optional<LauncherUpdate> const& launcher = std::nullopt);

    PatchConfig config() const;
    // Moves the game and launcher folders of config() below a folder whose path is longer
    // than 260 characters (before anything is put there).
    void go_deep();

    // Runs the engine; the reports land in `reports`.
    PatchResult run(bool full_repair = false);
    // Runs it expecting a failure; returns the exception's text.
    std::string run_failing(bool full_repair = false);

    std::filesystem::path game(std::string_view relative) const;
    void put_game_file(std::string_view relative, std::string_view bytes) const;
    std::string game_file(std::string_view relative) const;
    // Files below the game folder whose names end in `suffix`.
    std::vector<std::filesystem::path> leftovers(std::wstring_view suffix) const;

    std::vector<PatchStage> stages() const;
    std::vector<PatchProgress> reports_of(PatchStage stage) const;

    // With mirrors = N (1 or 2), publish() serves the release's files, chunk indexes and
    // manifest again below m1/, m2/ on other hosts of the test server (http://localhost:PORT, then
    // https://localhost:PORT) and lists them in the manifest and version.json.
    int mirrors = 0;
    std::string mirror_url(int k, std::string_view relative) const;
    // Notes mirror 1 as failed by an earlier start, a minute ago: the run begins on the
    // first host and reaches the mirror only when that fails.
    void avoid_mirror_at_start() const;
    // A served path through http://localhost:PORT, another host than server.url()'s.
    std::string localhost_url(std::string_view relative) const;

    std::string release_key;  // PatchConfig::release_public_key of config()
    // When set, publish() gives every file from 64 KiB a chunk index made with these
    // parameters, served at chunks/<path>.idx and named relative to the base URL.
    std::optional<ChunkerParams> chunk_params;
    ServedFolder server{"engine"};
    TempDir dir{"engine"};
    std::filesystem::path base = dir.path();  // holds "game" and "launcher"
    std::vector<PatchProgress> reports;
};

}  // namespace korvel::test
