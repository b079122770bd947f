// Game-file downloads inside a patch run: retries, verification, replacement failures,
// and the progress figures.

#include "tests/patcher/engine_fixture.h"

#include "patcher/file_downloads.h"
#include "patcher/hash_cache.h"
#include "platform/keep_awake.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "tests/support/unwritable_folder.h"

#include <windows.h>

#include <algorithm>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;
using korvel::test::read_file;
using korvel::test::write_file;

namespace {

// The attempt numbers shown in the detail line, in the order they appeared.
std::vector<int> attempts_shown(std::vector<PatchProgress> const& reports) {
    std::vector<int> attempts;
    for (auto const& r : reports) {
        auto const at = r.detail.find(L"(próba ");
        if (at == std::wstring::npos) continue;
        int const n = r.detail[at + 7] - L'0';
        EXPECT_EQ(r.detail.substr(at + 8), L"/3)");
        if (attempts.empty() || attempts.back() != n) attempts.push_back(n);
    }
    return attempts;
}

}  // namespace

TEST_F(EngineTest, WrongFileTwiceThenRight) {
    publish({{"data/x.bin", {"the right bytes"}}});
    Fault wrong;
    wrong.body = "the WRONG bytes";
    server.set_attempts("files/data/x.bin", {wrong, wrong});

    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("data/x.bin"), "the right bytes");
    EXPECT_EQ(server.requests("files/data/x.bin").size(), 3u);
    EXPECT_EQ(attempts_shown(reports), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
}

TEST_F(EngineTest, RightOnTheSecondAttempt) {
    publish({{"x.bin", {"right"}}});
    Fault reset;
    reset.reset_after = 2;
    server.set_attempts("files/x.bin", {reset});
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("x.bin"), "right");
    EXPECT_EQ(server.requests("files/x.bin").size(), 2u);
    // A reset may come before any byte of the first attempt reaches the file, so that
    // attempt need not show; the second one must.
    std::vector<int> const shown = attempts_shown(reports);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 2);
}

TEST_F(EngineTest, AlwaysWrongFailsAfterThreeAttemptsAndKeepsTheOldFile) {
    publish({{"a.bin", {"aaaa"}}, {"b.bin", {"bbbb"}}, {"c.bin", {"cccc"}}});
    put_game_file("b.bin", "old b");
    write_file(config().version_file, "1.0");
    Fault wrong;
    wrong.body = "xxxx";
    server.set_fault("files/b.bin", wrong);

    EXPECT_EQ(run_failing(), "SHA-256 eltérés: b.bin");
    EXPECT_EQ(server.requests("files/b.bin").size(), 3u);
    EXPECT_EQ(attempts_shown(reports_of(PatchStage::Downloading)), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(reports.back().stage, PatchStage::Failed);
    EXPECT_EQ(reports.back().detail, L"SHA-256 eltérés: b.bin");

    EXPECT_EQ(game_file("a.bin"), "aaaa");   // placed beside the failure, stays
    EXPECT_EQ(game_file("c.bin"), "cccc");
    EXPECT_EQ(game_file("b.bin"), "old b");  // never half-replaced
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    EXPECT_EQ(read_file(config().version_file), "1.0");
    EXPECT_FALSE(fs::exists(config().hash_cache_file));
}

// A verified download is kept while its target is held: only the move is tried again,
// and the file is not fetched a second time.
TEST_F(EngineTest, TargetHeldOpenByAnotherProgram) {
    struct Case {
        bool released_during_the_pause;
        bool ok;
    };
    for (Case const c : {Case{true, true}, Case{false, false}}) {
        publish({{"locked.bin", {"new content"}}});
        put_game_file("locked.bin", "old content");
        server.clear_fault("files/locked.bin");  // counts requests afresh
        std::size_t const asked_before = server.requests("files/locked.bin").size();
        UniqueFile holder(::CreateFileW(game("locked.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        reports.clear();
        auto const record = [&](PatchProgress const& p) {
            reports.push_back(p);
            if (c.released_during_the_pause && p.detail.find(L"(próba 2/3)") != std::wstring::npos) holder.reset();
        };
        std::string text;
        try {
            EXPECT_EQ(PatcherEngine::run(config(), false, record).ok, c.ok);
        } catch (std::exception const& e) {
            text = e.what();
        }
        holder.reset();
        EXPECT_EQ(server.requests("files/locked.bin").size() - asked_before, 1u);
        EXPECT_EQ(game_file("locked.bin"), c.ok ? "new content" : "old content");
        if (!c.ok)
            EXPECT_EQ(text, "A fájlt egy másik program használja (a játék bezárása után próbálja újra): " +
                                game("locked.bin").string());
        EXPECT_TRUE(leftovers(L".korvel.part").empty());
    }
}

TEST_F(EngineTest, FolderWhereAFileShouldBe) {
    publish({{"data/thing", {"a file"}}});
    put_game_file("data/thing/inside.txt", "the player's");
    std::string const text = run_failing();
    EXPECT_TRUE(text.starts_with("Cannot replace file (close the game and try again): " + game("data/thing").string()))
        << text;
    EXPECT_EQ(game_file("data/thing/inside.txt"), "the player's");
    EXPECT_EQ(server.requests("files/data/thing").size(), 1u);  // no attempt can move a folder
}

// A game installed where the player cannot write (under Program Files, say): a current
// client is verified and playable without a byte written; a needed file is refused once,
// naming the folder in the player's language.
TEST_F(EngineTest, GameAndStateFoldersThatCannotBeWritten) {
    publish({{"a.bin", {"aaa"}}});
    put_game_file("a.bin", "aaa");
    write_file(config().version_file, "1.0");
    {
        korvel::test::UnwritableFolder const state(config().hash_cache_file.parent_path());
        korvel::test::UnwritableFolder const game_folder(dir / "game");
        ASSERT_TRUE(state.ok() && game_folder.ok());
        ASSERT_TRUE(run().ok);
        EXPECT_EQ(reports.back().stage, PatchStage::Done);
        EXPECT_EQ(read_file(config().version_file), "1.0");

        publish({{"a.bin", {"aaa"}}, {"b.bin", {"bbb"}}});
        EXPECT_EQ(run_failing(), "A játék mappája nem írható: " + (dir / "game").string());
        EXPECT_EQ(server.requests("files/b.bin").size(), 1u);
        EXPECT_EQ(reports_of(PatchStage::Failed).size(), 1u);
    }
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("b.bin"), "bbb");
}

// A name of 244 to 255 characters cannot take the part suffix (Linux refuses such a
// name as Windows does): its part gets a short name beside it.
TEST_F(EngineTest, LongNameGetsAPartNameThatFits) {
    std::string const name = "data/" + std::string(242, 'n') + ".pak";  // 246 characters
    std::string const bytes = korvel::test::random_bytes(3 << 20, 7);
    publish({{name, {bytes}}});
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file(name), bytes);
    EXPECT_EQ(server.requests("files/" + name).size(), 1u);
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    fs::path const part = part_path_for(game(name));
    EXPECT_EQ(part.parent_path(), game("data"));
    EXPECT_EQ(part.filename().native().size(), 32u + 12u);
}

// The system is kept awake while a run works, and let go however it ends.
TEST_F(EngineTest, KeepsTheSystemAwakeOnlyWhileItRuns) {
    for (bool const fails : {false, true}) {
        publish({{"a.bin", {"a"}}}, {}, fails ? "" : "1.2.3");
        std::vector<int> held;
        try {
            PatcherEngine::run(config(), false, [&](PatchProgress const&) { held.push_back(keep_awake_requests()); });
        } catch (std::exception const&) {
        }
        ASSERT_FALSE(held.empty());
        EXPECT_EQ(*std::min_element(held.begin(), held.end()), 1) << fails;
        EXPECT_EQ(keep_awake_requests(), 0) << fails;
    }
}

TEST_F(EngineTest, ListedSizeIsTheDownloadLimitEvenWhenZero) {
    // The manifest's size is the truth for a game file: an entry of size 0 accepts no
    // body byte, whether the server gives no length or sends without end.
    // (One failing file per run: files travel in parallel, and the first to fail names the run.)
    publish({{"empty.bin", {""}}, {"endless.bin", {""}}});
    put_game_file("empty.bin", "was not empty");
    put_game_file("endless.bin", "old");
    server.set_fault("files/endless.bin", {.endless = true, .limit_bytes = 64ull << 20});

    EXPECT_EQ(run_failing(), "Download larger than 0 bytes: " + game("endless.bin.korvel.part").string());
    EXPECT_EQ(game_file("empty.bin"), "");
    EXPECT_EQ(game_file("endless.bin"), "old");
    EXPECT_EQ(server.requests("files/endless.bin").size(), 3u);
    EXPECT_TRUE(leftovers(L".korvel.part").empty());

    server.clear_fault("files/endless.bin");
    publish({{"empty.bin", {""}}, {"endless.bin", {""}}, {"nolength.bin", {std::string(200000, 'z'), 0, std::nullopt}}});
    server.set_fault("files/nolength.bin", {.no_content_length = true});
    EXPECT_EQ(run_failing(), "Download larger than 0 bytes: " + game("nolength.bin.korvel.part").string());
    EXPECT_EQ(game_file("endless.bin"), "");
    EXPECT_FALSE(fs::exists(game("nolength.bin")));
}

TEST_F(EngineTest, SizeMismatchIsRetriedThenReported) {
    publish({{"short.bin", {"0123456789"}}});
    Fault shorter;
    shorter.body = "01234";
    server.set_fault("files/short.bin", shorter);
    std::string const text = run_failing();
    EXPECT_EQ(text, "Downloaded size mismatch: " + game("short.bin.korvel.part").string() + " expected=10 got=5");
    EXPECT_FALSE(fs::exists(game("short.bin")));
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
}

TEST_F(EngineTest, NonAsciiPathsAreEncodedOnTheWireAndShownAsText) {
    publish({{"ok/\xC3\xA1rv\xC3\xADz t\xC5\xB1r\xC5\x91.bin", {"unicode"}}});
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("ok/\xC3\xA1rv\xC3\xADz t\xC5\xB1r\xC5\x91.bin"), "unicode");
    EXPECT_EQ(reports_of(PatchStage::Verifying)[1].current_file, L"ok/\u00e1rv\u00edz t\u0171r\u0151.bin");
    // Bytes that are not UTF-8 are still shown, one unit each.
    EXPECT_EQ(utf8_or_bytes_to_wide("a\xE1" "b"), std::wstring(L"a") + wchar_t(0xFFE1) + L"b");
}
