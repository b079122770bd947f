#include "launcher/launcher_app.h"

#include "core/version.h"
#include "launcher/release_key.h"
#include "launcher/self_update.h"
#include "launcher/settings_dialog_host.h"
#include "launcher/workers.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "window/banner_image.h"
#include "window/layout.h"
#include "window/render.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace fs = std::filesystem;

namespace korvel {

LauncherApp::LauncherApp(HINSTANCE instance) : instance(instance) {}

LauncherApp::~LauncherApp() {
    // The bitmap is a GDI+ object: it must go before GDI+ itself. No worker thread uses
    // GDI+ (the banner worker checks its download with WIC, window/picture.h), so
    // GDI+ can go while a worker is still running, as at an early close.
    window.banner_bitmap.reset();
    if (gdiplus_token_ != 0) Gdiplus::GdiplusShutdown(gdiplus_token_);
}

bool LauncherApp::start_gdiplus(Gdiplus::GdiplusStartupInput const& input) {
    Gdiplus::Status const status = Gdiplus::GdiplusStartup(&gdiplus_token_, &input, nullptr);
    if (status == Gdiplus::Ok) return true;
    gdiplus_token_ = 0;
    // Without GDI+ the window would never draw: better no window and a reason.
    show_message_box(nullptr,
                     L"A launcher nem indítható: a GDI+ grafikus rendszer nem indult el.\nGDI+: " +
                         std::to_wstring(static_cast<int>(status)),
                     k_message_box_title, MB_OK | MB_ICONERROR);
    return false;
}

fs::path LauncherApp::resolve_path(fs::path const& path) const {
    return resolve_against(base_dir, path);
}

void LauncherApp::invalidate() const {
    if (hwnd) ::InvalidateRect(hwnd, nullptr, FALSE);
}

// ---- Settings ----------------------------------------------------------------------

void LauncherApp::load_settings() {
    IniFile ini;
    ini.load(base_dir / L"launcher.ini");  // without the file every key keeps its default
    settings = read_launcher_settings(ini, base_dir, window);
    window.client_count = read_client_count(user_data_dir(base_dir, settings.client), window.client_count);
}

void LauncherApp::save_client_count(int count) {
    window.client_count = std::min(count, k_max_clients);
    store_client_count(user_data_dir(base_dir, settings.client), window.client_count);
    invalidate();
}

void LauncherApp::open_settings_dialog() {
    // Marked open before the dialog's loop runs: a job asked for from now on waits.
    jobs_.dialog_opened();
    DialogEnd end = DialogEnd::NotOpened;
    try {
        end = run_settings_dialog(instance, hwnd, window.scale, resolve_path(settings.client.config));
    } catch (...) {
        jobs_.dialog_closed();
        throw;
    }
    if (std::optional<bool> const full_repair = jobs_.dialog_closed(); full_repair && end != DialogEnd::Quit)
        start_patch(*full_repair);
}

// ---- Play --------------------------------------------------------------------------

void LauncherApp::launch_clients() {
    launch_clients(start_client, [this](HWND owner, int count) {
        return restart_elevated(owner, exe_path(), base_dir, count);
    });
}

void LauncherApp::launch_clients(StartClientFn const& start, RestartElevatedFn const& restart) {
    if (clients_starting()) return;
    play_run_.reset();  // the window's timer and property belong to one run at a time
    play_run_ = std::make_unique<PlayRun>(hwnd, client_launch_of(settings.client, base_dir), window.client_count,
                                          start, restart);
    play_run_->begin();
}

bool LauncherApp::clients_starting() const {
    return play_run_ && play_run_->running();
}

// ---- Patch job ---------------------------------------------------------------------

PatchConfig LauncherApp::patch_config(bool full_repair) const {
    PatchConfig config;
    config.game_dir = resolve_path(settings.client.root);
    config.version_file = resolve_path(L".korvel/client.version");
    config.hash_cache_file = resolve_path(L".korvel/hash_cache.json");
    config.version_url = settings.version_url;
    config.launcher_version = KORVEL_VERSION_TEXT;
    config.release_public_key = release_public_key();
    // An offer whose replacement failed is left alone, so the game can be played; a
    // repair tries it again, once per start.
    if (!full_repair || hand_off_tried_) config.declined_launcher_sha256 = declined_launcher_sha256_;
    return config;
}

void LauncherApp::start_patch(bool full_repair) {
    std::optional<std::uint64_t> const job = jobs_.start(full_repair);
    if (!job) return;
    invalidate();
    if (!start_worker([config = patch_config(full_repair), full_repair, owner = hwnd, job = *job] {
            patch_worker(config, full_repair, owner, job);
        })) {
        // No thread, no job: show it like any failed job so that Repair can try again.
        jobs_.fail(L"Nem sikerült elindítani a frissítést.");
        invalidate();
    }
}

void LauncherApp::on_patch_progress(LPARAM lparam) {
    std::uint64_t job = 0;
    std::unique_ptr<PatchProgress> const progress = take_patch_progress(lparam, &job);
    if (progress && jobs_.report(job, *progress)) invalidate();
}

void LauncherApp::on_patch_done(LPARAM lparam) {
    std::uint64_t job = 0;
    std::unique_ptr<PatchOutcome> const outcome = take_patch_outcome(lparam, &job);
    if (!outcome) return;
    switch (jobs_.finish(job, *outcome)) {
        case PatchJobState::Next::Drop:
            return;
        case PatchJobState::Next::Redraw:
            invalidate();
            return;
        case PatchJobState::Next::HandOff:
            invalidate();  // drawn idle behind the hand-off's boxes, should it fail
            begin_self_update(*outcome->result.staged_launcher);
            return;
    }
}

// ---- Launcher replacement ------------------------------------------------------------

void LauncherApp::check_last_hand_off() {
    if (std::string declined = korvel::check_last_hand_off(base_dir, hwnd); !declined.empty())
        declined_launcher_sha256_ = std::move(declined);
}

void LauncherApp::begin_self_update(StagedLauncher const& update) {
    // Whatever happens below, this start does not hand this offer off again.
    hand_off_tried_ = true;
    declined_launcher_sha256_ = update.offer.sha256;
    if (hand_off_launcher(hwnd, base_dir, resolve_path(settings.client.updater), update))
        ::DestroyWindow(hwnd);  // no close question: the job is over
    else
        start_patch(false);
}

// ---- Drawing -----------------------------------------------------------------------

void LauncherApp::paint_window() {
    korvel::paint_window(hwnd, window);
}

bool LauncherApp::load_banner_image(fs::path const& path) {
    UniqueGdipBitmap bitmap = load_banner_bitmap(path, window.scale.px(layout::banner));
    if (!bitmap) return false;
    window.banner_bitmap = std::move(bitmap);
    banner_source_ = path;
    return true;
}

void LauncherApp::reload_banner() {
    if (!banner_source_.empty()) load_banner_image(banner_source_);
}

}  // namespace korvel
