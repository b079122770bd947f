// Game-file downloads inside a patch run: retries, verification, replacement failures,
// and the progress figures.

#include "tests/patcher/engine_fixture.h"

#include "patcher/file_downloads.h"
#include "patcher/hash_cache.h"
#include "platform/keep_awake.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "tests/support/error_text.h"
#include "tests/support/process.h"

#include <windows.h>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::error_text;
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
        EXPECT_EQ(r.detail.substr(at + 8), L")");
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

// The verified download is kept while only its move fails: one request, not three.
TEST_F(EngineTest, TargetHeldOpenByAnotherProgram) {
    publish({{"locked.bin", {"new content"}}});
    put_game_file("locked.bin", "old content");
    UniqueFile holder(::CreateFileW(game("locked.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    EXPECT_EQ(run_failing(), "A fájlt egy másik program használja (a játék bezárása után próbálja újra): " +
                                 game("locked.bin").string());
    EXPECT_EQ(server.requests("files/locked.bin").size(), 1u);
    holder.reset();
    EXPECT_EQ(game_file("locked.bin"), "old content");
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
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

// Folders the player cannot write (under Program Files, say): a current client is
// verified without a byte written (Play follows `ok`); a needed file is refused once,
// naming the folder in the player's language.
TEST_F(EngineTest, FoldersThatCannotBeWritten) {
    publish({{"a.bin", {"a"}}});
    put_game_file("a.bin", "a");
    write_file(config().version_file, "0.9");
    korvel::test::UnwritableFolder const state(config().version_file.parent_path()), game_folder(dir / "game");
    ASSERT_TRUE(state.ok() && game_folder.ok());
    EXPECT_TRUE(run().ok);
    EXPECT_EQ(read_file(config().version_file), "0.9");
    publish({{"a.bin", {"a"}}, {"b.bin", {"bbb"}}});
    EXPECT_EQ(run_failing(), "A játék mappája nem írható: " + (dir / "game").string());
    EXPECT_EQ(server.requests("files/b.bin").size(), 1u);
}

// A name of 244 to 255 characters cannot take the part suffix (Linux refuses it as
// Windows does): its part gets a short name beside it.
TEST_F(EngineTest, LongNameGetsAPartNameThatFits) {
    std::string const name = "data/" + std::string(242, 'n') + ".pak";  // 246 characters
    publish({{name, {"long"}}});
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file(name), "long");
    EXPECT_EQ(part_path_for(game(name)).filename().native().size(), 32u + 12u);
}

// The system is kept awake while a run works, and let go however it ends.
TEST_F(EngineTest, KeepsTheSystemAwakeOnlyWhileItRuns) {
    for (std::string const version : {"1.2.3", ""}) {  // a good run, a failing one
        publish({{"a.bin", {"a"}}}, {}, version);
        int least = 2;  // stays when nothing is reported
        auto const watch = [&](PatchProgress const&) { least = std::min(least, keep_awake_requests()); };
        error_text([&] { PatcherEngine::run(config(), false, watch); });
        EXPECT_EQ(least, 1);
        EXPECT_EQ(keep_awake_requests(), 0);
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
