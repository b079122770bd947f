#!/usr/bin/env bash
# Makes the README's pictures of the launcher window: the window's real drawing code
# renders its states (start-up, a download under way, ready, failed, the keyboard's focus
# ring, a contrast theme) off-screen into
# docs/screenshots/window-*.png, and a real window painted through WM_PAINT is captured
# from a virtual screen into docs/screenshots/screen-paint.png.
# Usage: scripts/screenshots.sh   (after scripts/build.sh; BUILD_DIR as there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$root/docs/screenshots
cmake --build "$build" --target render_shots >/dev/null

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1

work=$(mktemp -d)
# The test environment shares the build's prefix: its wineserver stays when it is up.
env_up=$([ -f "$build/test-env/display" ] && echo 1 || echo 0)
cleanup() {
    [ -n "${shots:-}" ] && kill "$shots" 2>/dev/null || true
    [ "$env_up" = 1 ] || wineserver -k 2>/dev/null || true
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# GDI+ draws text only with a display; a white root shows the window's outline.
Xvfb -displayfd 3 -screen 0 1280x840x24 -wr -nolisten tcp 3>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '\n' <"$work/display")"

mkdir -p "$out"
wine "$build/bin/render_shots.exe" "$(winepath -w "$work")" </dev/null >"$work/render.log" 2>&1 \
    || { cat "$work/render.log" >&2; exit 1; }
cat "$work/render.log"  # frame times

wine "$build/bin/render_shots.exe" --window 20 </dev/null >"$work/window.log" 2>&1 &
shots=$!
for _ in $(seq 1 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Korvel2 Launcher (paint_window)"'; then
        sleep 1  # the first WM_PAINT
        import -window root "$work/screen-paint.png"
        break
    fi
    kill -0 "$shots" 2>/dev/null || { cat "$work/window.log" >&2; exit 1; }
    sleep 0.1
done
[ -f "$work/screen-paint.png" ] || { echo "The window did not appear within 30 s" >&2; exit 1; }

# Full colour (a palette bands the gradients); the flat dark areas keep them small.
for png in "$work"/*.png; do
    convert "$png" -strip -define png:compression-level=9 "PNG24:$out/$(basename "$png")"
done
ls -l "$out"
