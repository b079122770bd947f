#!/usr/bin/env bash
# The project's demo: the launcher patching a game folder from a real, local patch server.
#   1. builds everything;
#   2. generates a small demo release (a few files in folders, one of 4 MiB, the stand-in
#      game client) and publishes it signed with the native korvel-publish, with a banner,
#      news and status; the key is the build's throwaway release key (build/test-keys/),
#      whose public half the test-key launcher build
#      (build/test-keys/davari_test_key_NOT_FOR_PLAYERS.exe) has built in;
#   3. serves it over HTTPS on localhost with the project's test patch server, its
#      throwaway certificate authority trusted only in the demo's own Wine prefix;
#   4. Authenticode-signs that launcher and Swapnik.exe with a throwaway certificate
#      (scripts/sign_exe.sh, osslsigncode) and checks both signatures;
#   5. writes a demo game folder (that launcher as davari.exe, so that the launcher
#      checks the release's signature; Swapnik.exe, the stand-in bat.exe and a
#      launcher.ini pointing at that server) and starts the launcher.
# With a display, use the window (Play starts the stand-in client); the demo ends when
# the launcher and the client have closed. Without one, it runs on a virtual display and
# saves screenshots of the start-up, the download and the ready window, then stops.
# Either way it leaves no process behind. Everything lives below build/demo-run/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
demo=$build/demo-run
version=1.0.0

say() { printf '==> %s\n' "$*"; }

say "Building (the first build takes several minutes)..."
build_log=$(mktemp /tmp/korvel-demo-build.XXXXXX)
"$root/scripts/build.sh" >"$build_log" 2>&1 || { cat "$build_log" >&2; rm -f "$build_log"; exit 1; }
rm -f "$build_log"

export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
launcher="" server="" xvfb=""
cleanup() {
    set +e
    [ -n "$launcher" ] && kill "$launcher" 2>/dev/null
    wineserver -k 2>/dev/null  # this prefix only: the launcher, the client, Wine's services
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$demo"
wineserver -k 2>/dev/null || true  # what an interrupted earlier demo left in this prefix
headless=false
if [ -z "${DISPLAY:-}" ]; then
    headless=true
    say "No display: starting a virtual one (Xvfb)"
    rm -f "$demo/display"
    # A white root, so that the window stands out in the screenshots.
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -wr -nolisten tcp 3>"$demo/display" </dev/null >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 1 100); do [ -s "$demo/display" ] && break; sleep 0.1; done
    [ -s "$demo/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(tr -d '\n' <"$demo/display")"
fi
# The display must be set before the prefix's first program: Wine's desktop process
# keeps the display it started with, and without one the launcher's window cannot be made.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the demo's Wine prefix ($WINEPREFIX, about a minute the first time)"
    wineboot --init </dev/null >/dev/null 2>&1
    wineserver -w
fi

say "Making a throwaway certificate authority for https://localhost, trusted only in that prefix"
pki=$demo/pki
rm -rf "$pki"; mkdir -p "$pki"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvel Demo CA" \
    -keyout "$pki/ca.key" -out "$pki/ca.crt" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$pki/server.key" -out "$pki/server.csr" >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$pki/ext.cnf"
openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial -days 2 \
    -extfile "$pki/ext.cnf" -out "$pki/server.crt" >/dev/null 2>&1
openssl x509 -in "$pki/ca.crt" -outform DER -out "$pki/ca.der"
wine "$build/bin/trust_ca.exe" "$(winepath -w "$pki/ca.der" 2>/dev/null)" </dev/null >"$demo/trust_ca.log" 2>&1 \
    || { cat "$demo/trust_ca.log" >&2; exit 1; }

say "Starting the patch server (tests/support/patch_server.py) on localhost"
www=$demo/www
rm -rf "$www" "$demo/server.json"; mkdir -p "$www"
python3 "$root/tests/support/patch_server.py" --root "$www" --cert "$pki/server.crt" --key "$pki/server.key" \
    --ready "$demo/server.json" </dev/null >"$demo/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do [ -s "$demo/server.json" ] && break; sleep 0.1; done
[ -s "$demo/server.json" ] || { cat "$demo/server.log" >&2; exit 1; }
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["https_port"])' "$demo/server.json")
base=https://localhost:$port
requests=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["request_log"])' "$demo/server.json")

say "Generating demo release $version in $demo/release"
release=$demo/release
rm -rf "$release"; mkdir -p "$release/data/maps" "$release/data/lang"
cp "$build/bin/demo_client.exe" "$release/bat.exe"
head -c $((4 << 20)) /dev/urandom >"$release/data/world.pak"
for map in erdo varos kikoto; do head -c 20000 /dev/urandom >"$release/data/maps/$map.map"; done
printf 'start=Kalandra fel!\nquit=Kilépés\n' >"$release/data/lang/hu.txt"
printf 'Korvel2 demo release %s\n' "$version" >"$release/readme.txt"

say "Publishing it signed with the native korvel-publish into the server's folder"
sign_key=$build/test-keys/release.pem
public_key=$("$build/native/bin/korvel-publish" public-key "$sign_key")
# The server's folder is new on every run: this is the first signed release it holds.
"$build/native/bin/korvel-publish" build "$release" "$www" --client-version "$version" --base-url "$base" \
    --sign-key "$sign_key" --first-signed-release </dev/null >"$demo/publish.log" 2>&1 \
    || { cat "$demo/publish.log" >&2; exit 1; }
tr '\r' '\n' <"$demo/publish.log" | grep -v '^ *$' | sed 's/^/    /'
# The Windows build checks, under Wine: its prefix trusts the demo's CA, and its CNG is
# what the launcher verifies the signature with.
say "Checking the served release and its signature with korvel-publish verify --public-key"
wine "$build/bin/korvel-publish.exe" verify "$base/patch/version.json" --public-key "$public_key" </dev/null \
    >"$demo/verify.log" 2>&1 || { cat "$demo/verify.log" >&2; exit 1; }
tr '\r' '\n' <"$demo/verify.log" | grep -v '^ *$' | sed 's/^/    /'

# Banner, news and server status: what the window shows beside the patch.
# The window writes its own titles over the banner: only a small mark in a corner. The
# picture has the banner area's shape (777 x 372, here twice that), so that scaling to
# fill the area crops nothing and the mark stays whole.
convert -size 1554x744 gradient:'#24364f-#8a4b1c' -font DejaVu-Sans-Bold -pointsize 44 -fill '#ffffffa0' \
    -gravity southeast -annotate +56+40 'bemutató szerver' "$www/patch/banner.jpg" 2>/dev/null \
    || convert -size 1554x744 gradient:'#24364f-#8a4b1c' "$www/patch/banner.jpg"
cat >"$www/patch/news.json" <<'JSON'
{"items": [
  {"tag": "HÍR", "title": "Elindult a bemutató szerver", "date": "ma", "url": ""},
  {"tag": "UPDATE", "title": "1.0.0: új térképek és világ-csomag", "date": "ma", "url": ""},
  {"tag": "EVENT", "title": "Hétvégi kettőzött tapasztalat", "date": "szombat", "url": ""}
]}
JSON
printf '{"online": true, "label": "Kalandra kész"}\n' >"$www/patch/status.json"
# The 4 MiB file is served slowly (64 KiB every 150 ms), so that the download can be seen.
printf '{"pace_ms": 150}\n' >"$www/releases/$version/files/data/world.pak.fault.json"

# Authenticode: the programs players download are signed, as an operator signs them with
# the code-signing certificate they bought (scripts/sign_exe.sh); here a throwaway RSA
# certificate made for this run, which only this run's check trusts.
say "Authenticode-signing davari.exe and Swapnik.exe with a throwaway certificate (osslsigncode)"
signed=$demo/signed
rm -rf "$signed"; mkdir -p "$signed"
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Korvel2 demo code signing (throwaway)" \
    -keyout "$signed/code.key" -out "$signed/code.crt" -addext extendedKeyUsage=codeSigning \
    -addext keyUsage=critical,digitalSignature >/dev/null 2>&1
cp "$build/test-keys/davari_test_key_NOT_FOR_PLAYERS.exe" "$signed/davari.exe"
cp "$build/bin/Swapnik.exe" "$signed/Swapnik.exe"
"$root/scripts/sign_exe.sh" --cert "$signed/code.crt" --key "$signed/code.key" --ca "$signed/code.crt" \
    "$signed/davari.exe" "$signed/Swapnik.exe" | sed 's/^/    /'

say "Writing the demo game folder $demo/game"
game=$demo/game
rm -rf "$game"; mkdir -p "$game/assets"
cp "$signed/davari.exe" "$game/davari.exe"
cp "$signed/Swapnik.exe" "$game/"
cp "$build/bin/demo_client.exe" "$game/bat.exe"
cp "$www/patch/banner.jpg" "$game/assets/banner.jpg"
cat >"$game/launcher.ini" <<INI
[server]
name=Korvel2 bemutató
[patch]
version_url=$base/patch/version.json
[remote]
news_url=$base/patch/news.json
status_url=$base/patch/status.json
banner_url=$base/patch/banner.jpg
[client]
root=.
game=bat.exe
INI

if ! $headless; then
    say "Starting the launcher on $DISPLAY. Play starts the stand-in client; close both to end the demo."
    (cd "$game" && wine davari.exe </dev/null >"$demo/launcher.log" 2>&1) || true
    wineserver -w  # until the stand-in client is closed too
    say "Demo over; everything stopped."
    exit 0
fi

shots=$demo/screenshots
rm -rf "$shots"; mkdir -p "$shots"
# Only what the launcher asks from here on counts (verify above asked for every file too).
seen=$(wc -l <"$requests")
(cd "$game" && exec wine davari.exe </dev/null >"$demo/launcher.log" 2>&1) &
launcher=$!
shot() { import -window root "$shots/$1.png"; echo "    saved $shots/$1.png"; }
# Polls `condition` for up to `seconds`; false when it never held.
wait_until() {
    local seconds=$1; shift
    for _ in $(seq 1 $((seconds * 10))); do
        "$@" && return 0
        kill -0 "$launcher" 2>/dev/null || { echo "The launcher exited early:" >&2; cat "$demo/launcher.log" >&2; exit 1; }
        sleep 0.1
    done
    return 1
}
window_shown() { xwininfo -root -tree 2>/dev/null | grep -q '"Korvel2 Launcher"'; }
asked_for() { tail -n +"$((seen + 1))" "$requests" | grep -q "$1\""; }
client_ready() { [ -s "$game/.korvel/client.version" ]; }

say "Starting the launcher on the virtual display $DISPLAY"
wait_until 60 window_shown || { echo "The launcher window did not appear within 60 s" >&2; exit 1; }
shot 1-start-up
if ! wait_until 20 asked_for /patch/version.json; then
    # Builds without the patch job (it lands with the window controller) only show the window.
    echo "    this launcher build did not check for updates within 20 s; no download to show"
    shot 2-window
elif ! wait_until 60 asked_for /data/world.pak; then
    echo "    the launcher did not ask for data/world.pak within 60 s; screenshot of what it shows:"
    shot 2-no-download
else
    sleep 2  # a few paced chunks into the 4 MiB file
    shot 2-downloading
    if wait_until 120 client_ready; then
        sleep 1  # the last progress report and the repaint
        shot 3-ready
        say "The launcher patched $game to version $(cat "$game/.korvel/client.version")," \
            "checking the release's signature (sequence $(cat "$game/.korvel/release.sequence"))."
    else
        echo "    the patch did not finish within 120 s; screenshot of what the launcher shows:"
        shot 3-not-ready
    fi
fi
say "Screenshots are in $shots. Stopping the launcher, the server and the display."
