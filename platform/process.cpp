#include "platform/process.h"

#include "platform/unique_handle.h"
#include "platform/win32_error.h"

namespace korvel {

DWORD start_process(std::filesystem::path const& program, std::wstring command_line,
                    std::filesystem::path const& folder) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &started))
        return last_error_of_failure();
    UniqueKernelHandle const process(started.hProcess);
    UniqueKernelHandle const thread(started.hThread);
    return ERROR_SUCCESS;
}

}  // namespace korvel
