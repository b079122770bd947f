// Stand-in for the game client in the demo: the launcher's Play button starts it like
// the real client, and it only says that it was started, with what, and where.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring text = L"A Korvel2 játékkliens helyett ez a bemutató program indult el.\n\nParancssor: ";
    text += command_line && *command_line ? command_line : L"(üres)";
    text += L"\nMunkamappa: ";
    text += folder;
    ::MessageBoxW(nullptr, text.c_str(), L"bat.exe (bemutató kliens)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
