// Reads the built programs back as Windows sees them: PE subsystem, icon group,
// version block, application manifest, and the launchers' release-key record, which
// Windows' loader and the publisher's own reader must find alike.

#include "core/pe_resource.h"
#include "core/release_keys_resource.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
namespace test = korvel::test;

namespace {

struct Program {
    wchar_t const* file;
    wchar_t const* description;
    char const* assembly_name;
    char const* assembly_description;
    bool common_controls_6;  // the settings dialog's themed controls (the helper shows only boxes)
};

Program const programs[] = {
    {L"davari.exe", L"Korvel2 Official Game Launcher", "Korvel.Launcher", "Korvel2 Launcher", true},
    {L"Swapnik.exe", L"Korvel2 Swapnik", "Korvel.Swapnik", "Korvel2 Swapnik", false},
};

std::wstring version_string(std::vector<char> const& block, wchar_t const* name) {
    struct Translation {
        WORD language;
        WORD code_page;
    }* translations = nullptr;
    UINT size = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                          &size) ||
        size < sizeof(Translation))
        return L"(no translation)";
    wchar_t key[128];
    swprintf(key, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language, translations[0].code_page,
             name);
    wchar_t* value = nullptr;
    if (!::VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&value), &size)) return L"(missing)";
    return std::wstring(value);
}

// A resource's bytes as Windows' own loader finds them; empty when it finds none.
std::string resource_of(HMODULE module, WORD id, wchar_t const* type) {
    HRSRC const resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) return {};
    HGLOBAL const loaded = ::LoadResource(module, resource);
    auto const* bytes = static_cast<char const*>(::LockResource(loaded));
    return std::string(bytes, ::SizeofResource(module, resource));
}

}  // namespace

TEST(Resources, ProgramsAreGuiExecutables) {
    for (auto const& program : programs) {
        SCOPED_TRACE(korvel::wide_to_utf8(program.file));
        std::string const image = test::read_file(test::bin_dir() / program.file);
        ASSERT_GT(image.size(), 0x200u);
        ASSERT_EQ(image.substr(0, 2), "MZ");
        auto const pe_offset = *reinterpret_cast<LONG const*>(image.data() + 0x3c);
        auto const* headers = reinterpret_cast<IMAGE_NT_HEADERS64 const*>(image.data() + pe_offset);
        ASSERT_EQ(headers->Signature, IMAGE_NT_SIGNATURE);
        EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
        EXPECT_EQ(headers->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    }
}

TEST(Resources, VersionBlocks) {
    for (auto const& program : programs) {
        SCOPED_TRACE(korvel::wide_to_utf8(program.file));
        fs::path const path = test::bin_dir() / program.file;
        DWORD handle = 0;
        DWORD const size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
        ASSERT_GT(size, 0u);
        std::vector<char> block(size);
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixed_size = 0;
        ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size));
        EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 2));  // 2.1
        EXPECT_EQ(fixed->dwFileVersionLS, 0u);               // .0.0
        EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 2));

        EXPECT_EQ(version_string(block, L"ProductName"), L"Korvel2 Launcher");
        EXPECT_EQ(version_string(block, L"FileVersion"), L"2.1.0");
        EXPECT_EQ(version_string(block, L"ProductVersion"), L"2.1.0");
        EXPECT_EQ(version_string(block, L"FileDescription"), program.description);
        EXPECT_EQ(version_string(block, L"InternalName"), program.file);
        EXPECT_EQ(version_string(block, L"OriginalFilename"), program.file);
        EXPECT_NE(version_string(block, L"LegalCopyright"), L"(missing)");
    }
}

TEST(Resources, IconGroupAndManifest) {
    for (auto const& program : programs) {
        SCOPED_TRACE(korvel::wide_to_utf8(program.file));
        fs::path const path = test::bin_dir() / program.file;
        HMODULE const module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        EXPECT_NE(::FindResourceW(module, MAKEINTRESOURCEW(101), RT_GROUP_ICON), nullptr);
        HICON const icon = static_cast<HICON>(
            ::LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        EXPECT_NE(icon, nullptr);
        if (icon) ::DestroyIcon(icon);

        std::string const manifest = resource_of(module, 1, RT_MANIFEST);
        ::FreeLibrary(module);
        ASSERT_FALSE(manifest.empty());
        auto contains = [&](std::string const& text) { return manifest.find(text) != std::string::npos; };
        EXPECT_TRUE(contains("name=\"" + std::string(program.assembly_name) + "\"")) << manifest;
        EXPECT_TRUE(contains("version=\"2.1.0.0\""));
        EXPECT_TRUE(contains("<description>" + std::string(program.assembly_description) + "</description>"));
        EXPECT_TRUE(contains("level=\"asInvoker\""));
        EXPECT_FALSE(contains("requireAdministrator"));
        EXPECT_TRUE(contains("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>"));
        EXPECT_TRUE(contains("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"));
        EXPECT_TRUE(contains("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"));  // Windows 10
        EXPECT_EQ(contains("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), program.common_controls_6);
    }
}

TEST(Resources, ReleaseKeyRecordAsWindowsFindsIt) {
    fs::path const keys = test::build_dir() / "test-keys";
    for (fs::path const& path : {test::bin_dir() / "davari.exe", keys / "davari_test_key_NOT_FOR_PLAYERS.exe",
                                 keys / "davari_other_key_NOT_FOR_PLAYERS.exe"}) {
        SCOPED_TRACE(path.string());
        HMODULE const module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        std::string const windows = resource_of(module, KORVEL_RELEASE_KEYS_RESOURCE, RT_RCDATA);
        ::FreeLibrary(module);
        EXPECT_TRUE(windows.starts_with("korvel-release-keys 1\n")) << windows;
        std::string const image = test::read_file(path);
        std::optional<std::string_view> const ours = korvel::find_pe_resource(image, 10, KORVEL_RELEASE_KEYS_RESOURCE);
        ASSERT_TRUE(ours);
        EXPECT_EQ(*ours, windows);
    }
}
