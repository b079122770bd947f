#!/usr/bin/env bash
# Builds the launcher and starts it under Wine. Without a display it runs on a virtual
# one (Xvfb), saves a screenshot of the window to build/launcher-screenshot.png and
# closes it again; with a display it stays open until you close it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || { echo "Creating the Wine prefix..."; wineboot --init >/dev/null 2>&1; }

if [ -n "${DISPLAY:-}" ]; then
    exec wine "$build/bin/davari.exe"
fi

shot=$build/launcher-screenshot.png
work=$(mktemp -d)
cleanup() {
    [ -n "${launcher:-}" ] && kill "$launcher" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A white root, so that the window stands out in the screenshot.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -wr -nolisten tcp 3>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '\n' <"$work/display")"

wine "$build/bin/davari.exe" </dev/null >"$work/launcher.log" 2>&1 &
launcher=$!
echo "Waiting for the launcher window on $DISPLAY..."
for _ in $(seq 1 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Korvel2 Launcher"'; then
        sleep 2  # let the first paint and the first progress reports land
        import -window root "$shot"
        echo "Screenshot of the launcher: $shot"
        exit 0
    fi
    kill -0 "$launcher" 2>/dev/null || { echo "The launcher exited early:"; cat "$work/launcher.log"; exit 1; }
    sleep 0.1
done
echo "The launcher window did not appear within 30 s" >&2
exit 1
