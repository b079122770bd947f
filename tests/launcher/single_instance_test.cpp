// The launcher folder's mutex name: one name for every path that reaches the same folder,
// another for any other folder.

#include "launcher/single_instance.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace test = korvel::test;

TEST(SingleInstance, OneMutexNamePerFolderWhateverPathReachesIt) {
    test::TempDir const dir("instance");
    fs::path const folder = dir / "Korvel Játék Mappa";
    fs::create_directories(folder / "old");
    fs::create_directories(dir / "Korvel Játék Mappa2");
    wchar_t short_name[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameW(folder.c_str(), short_name, MAX_PATH), 0u);
    ASSERT_NE(fs::path(short_name).filename(), folder.filename());

    std::wstring const name = korvel::instance_mutex_name(folder);
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos) << "no backslash after the namespace";
    std::wstring upper = folder.native();
    ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    for (fs::path const& same : {fs::path(upper), fs::path(folder.generic_wstring() + L"/"), folder / "old" / "..",
                                 fs::path(short_name), test::on_second_drive(folder)})
        EXPECT_EQ(korvel::instance_mutex_name(same), name) << same;
    for (fs::path const& other : {dir / "Korvel Játék Mappa2", dir.path(), folder / "old"})
        EXPECT_NE(korvel::instance_mutex_name(other), name) << other;
}

// A folder that cannot be opened still has one name per spelling of its path.
TEST(SingleInstance, AFolderThatCannotBeOpenedIsKnownByItsPath) {
    std::wstring const name = korvel::instance_mutex_name(L"C:\\Nincs\\Korvel Játék");
    for (wchar_t const* same : {L"c:\\nincs\\KORVEL JÁTÉK", L"C:/Nincs/Korvel Játék/", L"C:\\Nincs\\Korvel Játék\\\\",
                                L"C:\\Nincs\\.\\old\\..\\Korvel Játék"})
        EXPECT_EQ(korvel::instance_mutex_name(same), name) << same;
    for (wchar_t const* other : {L"C:\\Nincs\\Korvel Játék2", L"D:\\Nincs\\Korvel Játék", L"C:\\Nincs"})
        EXPECT_NE(korvel::instance_mutex_name(other), name) << other;
}
