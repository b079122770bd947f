// The launcher folder's mutex name: one name for every spelling Windows takes for the
// same folder, another for any other folder.

#include "launcher/single_instance.h"

#include <gtest/gtest.h>

TEST(SingleInstance, OneMutexNamePerFolderWhateverItsSpelling) {
    std::wstring const name = korvel::instance_mutex_name(L"C:\\Games\\Korvel Játék");
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos) << "no backslash after the namespace";
    for (wchar_t const* same : {L"c:\\games\\KORVEL JÁTÉK", L"C:/Games/Korvel Játék/", L"C:\\Games\\Korvel Játék\\\\",
                                L"C:\\Games\\.\\old\\..\\Korvel Játék"})
        EXPECT_EQ(korvel::instance_mutex_name(same), name) << same;
    for (wchar_t const* other : {L"C:\\Games\\Korvel Játék2", L"D:\\Games\\Korvel Játék", L"C:\\Games",
                                 L"C:\\Games\\Korvel Jatek"})
        EXPECT_NE(korvel::instance_mutex_name(other), name) << other;
    // A drive's root keeps its backslash.
    EXPECT_EQ(korvel::instance_mutex_name(L"c:/"), korvel::instance_mutex_name(L"C:\\"));
}
