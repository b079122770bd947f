#!/usr/bin/env bash
# Authenticode-signs Windows programs (davari.exe and Swapnik.exe) with osslsigncode, in
# place, then checks each signature. Run it on the built programs before
# `korvel-publish build --launcher davari.exe`, so that the launcher offered to players is
# the signed file (the version document names its SHA-256, which signing changes).
#
# Usage:
#   scripts/sign_exe.sh (--pkcs12 FILE.p12 | --cert CERT.pem --key KEY.pem)
#                       [--pass-file FILE] [--timestamp URL] [--ca CA.pem] EXE...
#
#   --pkcs12 / --cert --key  the code-signing certificate (RSA) and its private key
#   --pass-file              a file holding the key's password (never on the command line)
#   --timestamp URL          an RFC 3161 time-stamping server (your certificate vendor's);
#                            a timestamped signature stays valid after the certificate expires
#   --ca CA.pem              the root that verify trusts (a throwaway certificate's own file;
#                            by default the system's roots)
set -euo pipefail

usage() { sed -n '7,17p' "$0" >&2; exit 2; }
pkcs12="" cert="" key="" pass_file="" timestamp="" ca=""
while [ $# -gt 0 ]; do
    case $1 in
        --pkcs12) pkcs12=$2; shift 2 ;;
        --cert) cert=$2; shift 2 ;;
        --key) key=$2; shift 2 ;;
        --pass-file) pass_file=$2; shift 2 ;;
        --timestamp) timestamp=$2; shift 2 ;;
        --ca) ca=$2; shift 2 ;;
        --help|-h) usage ;;
        --*) echo "sign_exe.sh: unknown option $1" >&2; usage ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || usage
if [ -n "$pkcs12" ]; then
    credentials=(-pkcs12 "$pkcs12")
elif [ -n "$cert" ] && [ -n "$key" ]; then
    credentials=(-certs "$cert" -key "$key")
else
    usage
fi
[ -z "$pass_file" ] || credentials+=(-readpass "$pass_file")
stamp=()
[ -z "$timestamp" ] || stamp=(-ts "$timestamp")
trust=()
[ -z "$ca" ] || trust=(-CAfile "$ca")

for exe in "$@"; do
    signed="$exe.signing.$$"  # osslsigncode writes only a file that does not exist yet
    rm -f "$signed"
    # SHA-256 digests; the description and URL show in Windows' consent and SmartScreen boxes.
    if ! osslsigncode sign "${credentials[@]}" "${stamp[@]}" -h sha256 -n "Korvel2 Launcher" \
        -in "$exe" -out "$signed" >/dev/null; then
        rm -f "$signed"
        echo "sign_exe.sh: cannot sign $exe" >&2
        exit 1
    fi
    # Checked before it replaces the program, so a failure leaves the program as it was.
    if ! osslsigncode verify "${trust[@]}" -in "$signed" >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        echo "sign_exe.sh: the signature of $exe does not verify" >&2
        exit 1
    fi
    rm -f "$signed.log"
    mv -f "$signed" "$exe"
    echo "signed and verified: $exe"
done
