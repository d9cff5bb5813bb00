#!/usr/bin/env bash
# Compiles the Windows resource script with MinGW-w64's windres and checks
# that the compiled resources carry the icon, the version record and the
# manifest. A missing windres is a failure: the check must run everywhere.
set -euo pipefail
resources=$1
windres=${WINDRES:-x86_64-w64-mingw32-windres}
command -v "$windres" >/dev/null || { echo "FAIL: $windres not found"; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$resources" && "$windres" -i orvane.rc -O res -o "$out/orvane.res")
"$windres" -i "$out/orvane.res" -O rc -o "$out/decompiled.rc"

failed=0
expect() {
    if grep -qF -- "$1" "$out/decompiled.rc"; then
        echo "ok: $1"
    else
        echo "FAIL: missing $1"
        failed=1
    fi
}
expect '"IDI_ICON1" 14 /* RT_GROUP_ICON */'
expect '"\060\060\000\000", 1, 32'
expect 'LANGUAGE 25, 1'
expect 'FILEVERSION 1, 3, 0, 0'
expect 'BLOCK "041904e3"'
expect 'VALUE "FileDescription", "Orvane"'
expect 'VALUE "InternalName", "Orvane"'
expect 'VALUE "OriginalFilename", "Orvane.exe"'
expect 'VALUE "ProductVersion", "1,3"'
expect 'VALUE "Translation", 0x419, 1251'
expect '1 24 /* RT_MANIFEST */'
expect 'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""'
expect '<ws2:longPathAware>true</ws2:longPathAware>'
exit $failed
