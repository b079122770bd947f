#include "core/protected_path.h"

#include "core/manifest.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/error_text.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace test = korvel::test;

// Whatever spelling a manifest uses, a name the file system resolves to one of the
// protected files must be skipped or rejected, never handed on for patching or deletion.
TEST(ProtectedPath, NoSpellingTheFileSystemResolvesSlipsThrough) {
    test::TempDir dir("protected");
    for (char const* name : {"davari.exe", "zivur2.cfg", "mouse.cfg", "UserData/launcher_settings.ini"})
        test::write_file(dir / name, "keep");

    std::vector<std::string> names = {"davari.exe", "zivur2.cfg", "mouse.cfg", "userdata",
                                      "userdata/launcher_settings.ini"};
    std::vector<std::string> spellings;
    for (std::string const& name : names) {
        std::string upper = name, mixed = name;
        for (size_t i = 0; i < name.size(); ++i) {
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
            if (i % 2 == 0) mixed[i] = upper[i];
        }
        std::string dotless = name;
        if (auto i = dotless.find('i'); i != std::string::npos) dotless.replace(i, 1, "\xC4\xB1");
        for (std::string const& cased : {name, upper, mixed, dotless}) {
            for (char const* separator : {"/", "\\", "//", "\\\\", "/./", "\\.\\", "/ /"}) {
                std::string spelled = cased;
                for (size_t at = spelled.find('/'); at != std::string::npos;
                     at = spelled.find('/', at + std::string(separator).size()))
                    spelled.replace(at, 1, separator);
                for (char const* prefix : {"", "./", ".\\", "/", "\\"})
                    for (char const* suffix : {"", ".", " ", ". .", "/", "\\", "::$DATA"})
                        spellings.push_back(prefix + spelled + suffix);
            }
        }
    }

    size_t resolved = 0;
    for (std::string const& spelling : spellings) {
        std::wstring const full = dir.path().native() + L"\\" + korvel::utf8_to_wide(spelling);
        if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        ++resolved;
        nlohmann::json manifest = {{"base_url", "https://h/"},
                                   {"files", {{{"path", spelling}, {"size", 4}, {"sha256", std::string(64, '0')}}}}};
        std::string const as_file = test::error_text([&] {
            EXPECT_TRUE(korvel::read_manifest(manifest.dump()).files.empty()) << testing::PrintToString(spelling);
        });
        EXPECT_TRUE(as_file == "(no exception)" || as_file == "Érvénytelen manifest bejegyzés: " + spelling) << as_file;

        manifest["files"] = nlohmann::json::array();
        manifest["delete"] = spelling;
        std::string const as_delete = test::error_text([&] {
            EXPECT_TRUE(korvel::read_manifest(manifest.dump()).deletes.empty()) << testing::PrintToString(spelling);
        });
        EXPECT_TRUE(as_delete == "(no exception)" || as_delete == "Érvénytelen törlési útvonal: " + spelling)
            << as_delete;
    }
    // The file system must actually have been fooled by many of them for this to mean anything.
    EXPECT_GT(resolved, spellings.size() / 3) << resolved << " of " << spellings.size();
}
