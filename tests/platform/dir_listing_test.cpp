// Folder listings against real folders, and the case keys of file names.

#include "platform/dir_listing.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <map>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::TempDir;
using korvel::test::write_file;

TEST(DirListing, EntriesCarryWhatTheQueriesByNameGive) {
    TempDir dir("listing");
    write_file(dir / "a.bin", "12345");
    write_file(dir / "sub" / "inner.txt", "x");
    std::map<std::wstring, ListedEntry> seen;
    EXPECT_EQ(list_folder(dir.path(), [&](ListedEntry const& e) { seen[std::wstring(e.name)] = e; }),
              ListingResult::Listed);
    ASSERT_EQ(seen.size(), 2u);  // neither "." nor "..", nothing from below "sub"
    EXPECT_FALSE(seen[L"a.bin"].directory);
    EXPECT_EQ(seen[L"a.bin"].size, korvel::file_size(dir / "a.bin"));
    EXPECT_EQ(seen[L"a.bin"].modified, file_mtime(dir / "a.bin"));
    EXPECT_TRUE(seen[L"sub"].directory);
}

TEST(DirListing, MissingFoldersAndFilesInTheirPlace) {
    TempDir dir("listing");
    write_file(dir / "file", "not a folder");
    for (fs::path const& folder : {dir / "none", dir / "none" / "deeper", dir / "file", dir / "file" / "below"}) {
        bool visited = false;
        EXPECT_EQ(list_folder(folder, [&](ListedEntry const&) { visited = true; }), ListingResult::Missing)
            << folder.string();
        EXPECT_FALSE(visited);
    }
}

TEST(DirListing, NameKeysFoldCaseOneUnitForOne) {
    struct Case {
        wchar_t const* name;
        wchar_t const* key;
    } const cases[] = {
        {L"data.BIN", L"DATA.BIN"}, {L"\u00e1rv\u00edz t\u0171r\u0151", L"\u00c1RV\u00cdZ T\u0170R\u0150"},
        {L"~1 [x]", L"~1 [X]"},     {L"\u00df", L"\u00df"},  // no one-unit upper case: stays
    };
    for (Case const& c : cases) EXPECT_EQ(file_name_key(c.name), c.key) << wide_to_utf8(c.name);
}
