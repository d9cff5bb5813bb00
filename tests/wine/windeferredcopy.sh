#!/usr/bin/env bash
# The deferred copy on Windows, checked under Wine: the Qt-free unit that
# starts the hidden interpreter is built by the Windows build into a small
# driver, which starts a command line built by Orvane's own code (written by
# the host-side helper). The real cmd.exe must wait, copy every file over its
# target and start the program again. The Qt-free replacement is checked the
# same way where no Orvane.exe can make it fail: the old file gets its name
# back when its new version cannot take it. Outside CI a missing tool skips the
# check (exit code 77); in CI it fails. A program of the Windows build that is
# missing fails it everywhere. For the 32-bit programs ORVANE_WINE names the
# 32-bit loader "wine" and WINEARCH is win32, or the 64-bit loader and win64.
# Usage: windeferredcopy.sh COMMANDLINEFILE-HELPER DRIVER RENAMEBACK MARKER
#        (the last three: driver_win.exe, renameback_win.exe and marker_win.exe
#        of a Windows build)
set -euo pipefail
helper=$1
driver=$2
renameback=$3
marker=$4

missing() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $1 not found"
        exit 1
    fi
    echo "SKIP: $1 not found"
    exit 77
}
loader=${ORVANE_WINE:-wine64}
wine=$(command -v "$loader" || true)
[ -n "$wine" ] || [ ! -x "/usr/lib/wine/$loader" ] || wine=/usr/lib/wine/$loader
[ -n "$wine" ] || missing "$loader"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || missing wineserver
for program in "$driver" "$renameback" "$marker"; do
    if [ ! -f "$program" ]; then
        echo "FAIL: $program not found (scripts/build-windows builds it)"
        exit 1
    fi
done

# A private Wine prefix; console programs only, so no display is needed, and
# no Mono or Gecko installer is offered on the first start.
work=$(mktemp -d /tmp/orvane-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Directory names that cmd.exe would read as syntax if they were part of its
# command line: "&", "^" and "!", and percent signs.
odd="R^D & Co !x!"
percent="Обновление %OS% 100%"
mkdir -p "$work/app/sub dir" "$work/app/$odd" "$work/app/$percent" "$work/workdir/sub dir" \
    "$work/workdir/$odd" "$work/workdir/$percent" "$work/start $odd"
cp "$driver" "$work/driver.exe"
cp "$renameback" "$work/renameback.exe"
# Stands in for the restarted program: records its command line and its
# current directory.
cp "$marker" "$work/app/Orvane.exe"

printf 'old a' >"$work/app/a.dll"
printf 'old b' >"$work/app/sub dir/b 1.dll"
printf 'old c' >"$work/app/новый.dll"
printf 'old d' >"$work/app/$odd/d.dll"
printf 'old e' >"$work/app/$percent/e.dll"
printf 'new a' >"$work/workdir/a.dll_"
printf 'new b' >"$work/workdir/sub dir/b 1.dll_"
printf 'new c' >"$work/workdir/новый.dll_"
printf 'new d' >"$work/workdir/$odd/d.dll_"
printf 'new e' >"$work/workdir/$percent/e.dll_"

# Runs the driver on the command line in FILE (and the variables in the
# optional second file) from the working directory, as Orvane would be;
# prints the driver's exit code. The interpreter inherits the driver's
# output, so that goes to a file: a pipe would stay open, and the caller
# wait, until the interpreter ends.
start() {
    local code=0 files=("Z:$1")
    [ -z "${2:-}" ] || files+=("Z:$2")
    (cd "$work/workdir" && "$wine" "$work/driver.exe" "${files[@]}") >>"$work/driver.log" 2>&1 \
        || code=$?
    echo "$code"
}

failed=0
check() {
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1: expected [$3], got [$2]"
        failed=1
    fi
}

# The first start creates the prefix, which takes a while; the timing checks
# below want it done.
"$wine" "$work/driver.exe" >/dev/null 2>&1 || true

# Real cmd.exe expands a variable reference once and does not read the value
# again; the cmd.exe of some Wine versions does, which turns a "%OS%" inside
# a path into "Windows_NT" and pairs a lone "%" with the next reference.
# There the directory with percent signs cannot be checked.
printf 'cmd.exe /v:off /c echo "%%ORVANE_PROBE%%" > "Z:%s/probe.out"' "$work" \
    | iconv -f UTF-8 -t UTF-16LE >"$work/probe.txt"
printf 'ORVANE_PROBE=%%OS%%\0\0' | iconv -f UTF-8 -t UTF-16LE >"$work/probevariables.txt"
start "$work/probe.txt" "$work/probevariables.txt" >/dev/null
for _ in $(seq 100); do
    [ -s "$work/probe.out" ] && break
    sleep 0.1
done
rescans=no
grep -q '%OS%' "$work/probe.out" 2>/dev/null || rescans=yes

z=Z:$work
"$helper" "$work/line.txt" "$work/variables.txt" "$z/app/Orvane.exe" "$z/start $odd" \
    "$z/workdir/Orvane.err" 'C:\windows\system32' 'C:\windows' \
    "$z/app/a.dll" "$z/workdir/a.dll_" \
    "$z/app/sub dir/b 1.dll" "$z/workdir/sub dir/b 1.dll_" \
    "$z/app/новый.dll" "$z/workdir/новый.dll_" \
    "$z/app/$percent/e.dll" "$z/workdir/$percent/e.dll_" \
    "$z/app/$odd/d.dll" "$z/workdir/$odd/d.dll_" >/dev/null
check "the interpreter starts" "$(start "$work/line.txt" "$work/variables.txt")" 0
# The driver has ended at once; the interpreter still waits (about 2 s).
check "nothing copied before the wait" "$(cat "$work/app/a.dll")" "old a"
for _ in $(seq 600); do
    [ -f "$work/app/restarted.txt" ] && break
    sleep 0.2
done
# The marker writes non-ASCII characters as "?"; the interpreter may leave a
# blank after the program's name, which "start" hands over with backslashes.
check "the program is started again, without arguments, in the start directory" \
    "$(sed 's/ *|/|/' "$work/app/restarted.txt" 2>/dev/null)" \
    "\"${z//\//\\}\\app\\Orvane.exe\"|${z//\//\\}\\start $odd"
check "first file copied" "$(cat "$work/app/a.dll")" "new a"
check "file with blanks copied" "$(cat "$work/app/sub dir/b 1.dll")" "new b"
check "file with a Cyrillic name copied" "$(cat "$work/app/новый.dll")" "new c"
check "file in a directory named with & ^ ! copied" "$(cat "$work/app/$odd/d.dll")" "new d"
if [ $rescans = no ]; then
    check "file in a directory named with %OS% and 100% copied" \
        "$(cat "$work/app/$percent/e.dll")" "new e"
else
    echo "skip: file in a directory named with %OS% and 100%: this Wine's cmd.exe expands" \
        "variable values again"
fi
check "sources kept" "$(cat "$work/workdir/a.dll_")" "new a"
check "no temporary file left" \
    "$(find "$work/app" -name '.Orvane-deferred-*' | wc -l)" 0
check "no report left, no error file" \
    "$(find "$work/workdir" -name '.Orvane-report-*' -o -name Orvane.err | wc -l)" 0

mkdir "$work/renameback"
if "$wine" "$work/renameback.exe" "Z:$work/renameback" | tr -d '\r'; then
    echo "ok: a failed second rename gives the old file its name back"
else
    echo "FAIL: a failed second rename gives the old file its name back"
    failed=1
fi

# The buffer's boundary: 999 code units and the NUL fit, 1000 are refused.
for length in 999 1000; do
    printf "cmd.exe /c rem %0$((length - 15))d" 0 | iconv -f UTF-8 -t UTF-16LE \
        >"$work/line$length.txt"
    check "command line of $length units" "$(($(stat -c %s "$work/line$length.txt") / 2))" \
        "$length"
done
check "999 units are started" "$(start "$work/line999.txt")" 0
check "1000 units are refused" "$(start "$work/line1000.txt")" 1
exit $failed
