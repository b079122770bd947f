#include "patcher/transfer_retry.h"

#include "platform/file_error.h"
#include "platform/http.h"
#include "platform/win32_error.h"

#include <windows.h>
#include <winhttp.h>

#include <random>

namespace korvel {

namespace {

// WinHTTP's codes, and the socket codes Wine's WinHTTP reports in their place. A name
// that does not resolve is no overload: a player without a network, or a mistyped
// address, is told at once rather than after the retry budget (another host is still
// tried).
FailureKind kind_of_winhttp_error(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:
            return FailureKind::timed_out;
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case WSAECONNREFUSED:
            return FailureKind::refused;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        case ERROR_WINHTTP_OPERATION_CANCELLED:
        case ERROR_WINHTTP_SECURE_FAILURE:
            return FailureKind::reset;
        default:
            return FailureKind::other;
    }
}

}  // namespace

TransferFailure classify_failure(std::exception_ptr const& failure, WallTime now) {
    TransferFailure out;
    try {
        std::rethrow_exception(failure);
    } catch (HttpStatusError const& e) {
        out = {FailureKind::status, static_cast<int>(e.status()), parse_retry_after(e.retry_after(), now), e.what()};
    } catch (HttpTransferBroken const& e) {
        out = {FailureKind::reset, 0, std::nullopt, e.what()};
    } catch (HostTooSlow const& e) {
        out = {FailureKind::slow, 0, std::nullopt, e.what()};
    } catch (FileError const& e) {
        out = {e.lasting() ? FailureKind::fatal : FailureKind::local, 0, std::nullopt, e.what()};
    } catch (Win32Error const& e) {
        out = {kind_of_winhttp_error(e.code()), 0, std::nullopt, e.what()};
    } catch (std::exception const& e) {
        out = {FailureKind::other, 0, std::nullopt, e.what()};
    } catch (...) {
        out = {FailureKind::other, 0, std::nullopt, "Ismeretlen hiba történt a frissítés közben."};
    }
    return out;
}

WallTime wall_now() {
    return std::chrono::system_clock::now();
}

double random_fraction() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

std::wstring waiting_text(bool busy, long long seconds_left) {
    return std::wstring(busy ? L"A szerver túlterhelt" : L"A kapcsolat megszakadt") + L", újrapróbálás " +
           std::to_wstring(seconds_left) + L" mp múlva";
}

long long seconds_until(WallTime at, WallTime now) {
    if (at <= now) return 0;
    auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count();
    return (ms + 999) / 1000;
}

}  // namespace korvel
