#!/usr/bin/env bash
# Power cuts for real: runs the update inside a small virtual machine (QEMU's
# software emulation), kills the machine at a random instant during the run
# or the writeback after it, and looks at what its disk holds. Every name
# must hold its complete old or its complete new version.
#
# The guest is Debian's newest cloud kernel (fetched once with apt-get and
# kept in BUILD-DIR/powercut/), a BusyBox initramfs whose /init is guest-init
# beside this script, a read-only disk with Orvane's libraries and the tools
# at their host paths, and an ext4 test disk holding an installation of 150
# files of 4 KiB to 1 MiB in a few directories with their new versions in
# workdir/. The test disk is written with cache=none: what the guest's kernel
# has written is in the image file, what is still in its page cache dies with
# the machine. The machine is booted once and saved before it mounts the test
# disk; each trial restores it on a fresh copy of the test disk.
#
# Cases, each run uncut once first (every name must then be new; that run
# also measures how long the run takes), then cut at a random instant of the
# run (odd trials) or of the writeback after it (even trials):
#   update    Orvane -r on every name, the test disk mounted with ext4's
#             defaults and with the harsh options (no auto_da_alloc, a
#             journal commit every second)
#   deferred  the same, but one target is held by a bind mount, so the
#             deferred copy (/bin/sh) copies it after Orvane has ended; the
#             cuts are counted from the target's release
#   control   a naive in-place "cp NEW TARGET" with the harsh options: it must
#             leave broken files in this run, or the cuts are too weak to
#             prove anything and the stage fails
# After a cut: e2fsck -fy on the image (journal recovery, orphans and free
# counts are expected, nothing else), then debugfs reads the files, and each
# name is complete old, complete new, or broken (missing, empty, short,
# mixed). Then, but for the control, the start after the cut: the saved
# machine once more, on the checked image, starts Orvane once without
# arguments in its installation (it finishes an interrupted update and hands
# over to the installer) and unmounts the disk cleanly; the files are read
# again, and every name must now hold the new version, or every name the
# old one. It needs no root. docs/testing.md tells the rest.
#
# Usage: tests/powercut/powercut.sh BUILD-DIR [UPDATE CONTROL DEFERRED]
#   the numbers of cut trials per mount option of the update, of the control,
#   and per mount option of the deferred copy (default 16 10 6)
# Environment: ORVANE_POWERCUT_SEED (the random seed, printed),
#   ORVANE_POWERCUT_JOBS (machines at once, default: one more than the
#   cores; a machine mostly waits for the cut),
#   ORVANE_POWERCUT_NICE (niceness of the machines, default 10),
#   ORVANE_POWERCUT_FAULT=noflush (checks the stage itself: Orvane and the
#   deferred copy run with noflush.c preloaded, which turns every flush into
#   nothing; the stage must then fail with broken files).
# Exit code 77: a tool is missing (outside CI only; in CI that fails).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../scripts/common.sh disable=SC1091
source "$here/../../scripts/common.sh"
build=$(cd "${1:?usage: powercut.sh BUILD-DIR [UPDATE CONTROL DEFERRED]}" && pwd)
update_trials=${2:-16}
control_trials=${3:-10}
deferred_trials=${4:-6}
seed=${ORVANE_POWERCUT_SEED:-$((($(date +%s) * 7919 + $$) % 32768))}
jobs=${ORVANE_POWERCUT_JOBS:-$(($(nproc) + 1))}
niceness=${ORVANE_POWERCUT_NICE:-10}
# now_ms: the host's clock in milliseconds.
now_ms() {
    local t=${EPOCHREALTIME/./}
    echo $((t / 1000))
}
stage_start=$(now_ms)

# The test disk's two mount options: ext4's defaults, and the harsh one:
# no rescue of data written over a file (noauto_da_alloc) and a journal that
# commits every second instead of every 5 s, so a changed name is on the disk
# long before data that nobody flushed.
harsh=noauto_da_alloc,commit=1
# The writeback window after a run (ms), for the defaults and the harsh
# options: the guest writes data out once it is 8 s old, looked for every
# second, and the journal commits what that allocated within 5 s (1 s); the
# cuts reach this far past the run's end.
writeback_ms=15000 harsh_writeback_ms=12000
# Files and their directories; the deferred case holds BUSY of them.
layout=(bin:20 lib:50 plugins/sqldrivers:30 share/translations:30 data:20)
busy=(lib/file07.so)
# The update's record, in the working directory: a start must not leave it.
record_name=Orvane.journal

missing() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: power-cut stage: $1"
        exit 1
    fi
    echo "SKIP: power-cut stage: $1"
    exit 77
}
die() {
    echo "FAIL: power-cut stage: $*"
    exit 1
}

for tool in qemu-system-x86_64 cpio mkfs.ext4 e2fsck debugfs dpkg-deb apt-get apt-cache \
    sha256sum ldd; do
    command -v "$tool" >/dev/null || missing "$tool not found"
done
orvane=$build/app/Orvane
[ -x "$orvane" ] || die "$orvane not built"
busybox=$(command -v busybox || true)
# A static BusyBox: ldd finds nothing to load in it.
if [ -z "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
    missing "no static busybox (package busybox-static)"
fi

cache=$build/powercut
mkdir -p "$cache"
run=$(mktemp -d "$cache/run.XXXXXX")
cleanup() {
    local pidfile pid
    # The machines first: each trial wrote its machine's process id.
    for pidfile in "$run"/*/qemu.pid; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        kill -9 "$pid" 2>/dev/null || true
    done
    # Then the trials, and what each of them waits in (a sleep, a grep).
    for pid in $(jobs -p); do
        pkill -P "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the guest's kernel: the newest cloud kernel Debian offers ------------
newest_kernel() {
    apt-cache search --names-only '^linux-image-[0-9].*-cloud-amd64$' 2>/dev/null \
        | sed -nE 's/^linux-image-([0-9]+\.[0-9]+\.[0-9]+[^ ]*)-cloud-amd64 .*/\1/p' \
        | sort -V | tail -n 1
}
abi=$(newest_kernel)
if [ -z "$abi" ]; then
    as_root apt-get update >/dev/null 2>&1 || true
    abi=$(newest_kernel)
fi
[ -n "$abi" ] || missing "no linux-image-*-cloud-amd64 package known to apt"
abi=$abi-cloud-amd64
kernel_dir=$cache/kernel-$abi
if [ ! -f "$kernel_dir/vmlinuz" ]; then
    echo "power-cut stage: fetching the guest kernel linux-image-$abi"
    download=$run/download
    mkdir -p "$download"
    sandbox=()
    [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
    (cd "$download" && apt-get download -q "${sandbox[@]}" "linux-image-$abi" >/dev/null) \
        || missing "cannot download linux-image-$abi"
    dpkg-deb -x "$download"/linux-image-*.deb "$download/root"
    rm -rf "$kernel_dir.new"
    mkdir -p "$kernel_dir.new"
    cp "$download/root/boot/vmlinuz-$abi" "$kernel_dir.new/vmlinuz"
    cp -r "$download/root/lib/modules/$abi" "$kernel_dir.new/modules"
    # One kernel is kept: the one in use.
    rm -rf "$download" "$cache"/kernel-*-cloud-amd64
    mv "$kernel_dir.new" "$kernel_dir"
fi

# ---- the initramfs: BusyBox, the modules the disks need, guest-init -------
initramfs=$run/initramfs
mkdir -p "$initramfs"/{bb,modules,proc,sys,dev,run,tmp,ro,test}
cp "$busybox" "$initramfs/bb/busybox"
for applet in $("$busybox" --list); do
    [ "$applet" = busybox ] || ln -s busybox "$initramfs/bb/$applet"
done
cp "$here/guest-init" "$initramfs/init"
chmod 755 "$initramfs/init"
# add_module NAME: the module and, first, what it depends on; nothing for
# one built into the kernel.
add_module() {
    local name=${1//-/_} file dependency
    grep -q "^$name$" "$initramfs/modules/order" 2>/dev/null && return 0
    sed 's|.*/||; s|\.ko$||; s|-|_|g' "$kernel_dir/modules/modules.builtin" | grep -qx "$name" \
        && return 0
    file=$(find "$kernel_dir/modules/kernel" -name "${name//_/[-_]}.ko*" | head -n 1)
    [ -n "$file" ] || die "kernel module $name not found in linux-image-$abi"
    case $file in
    *.xz) "$busybox" xz -dc "$file" >"$initramfs/modules/$name.ko" ;;
    *.gz) "$busybox" zcat "$file" >"$initramfs/modules/$name.ko" ;;
    *.ko) cp "$file" "$initramfs/modules/$name.ko" ;;
    *) die "cannot unpack $file" ;;
    esac
    for dependency in $(tr '\0' '\n' <"$initramfs/modules/$name.ko" \
        | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$dependency"
    done
    echo "$name" >>"$initramfs/modules/order"
}
: >"$initramfs/modules/order"
for module in virtio_pci virtio_blk ext4; do
    add_module "$module"
done

# ---- the tools disk: Orvane's libraries and the tools, at their host paths
tools=$run/tools
# add_file PATH: the file (followed if a link) under the name the loader or
# the shell looks it up by, in its directory's real path.
add_file() {
    local directory
    directory=$(readlink -f "$(dirname "$1")")
    mkdir -p "$tools$directory"
    cp -L "$1" "$tools$directory/${1##*/}"
}
add_with_libraries() {
    local file library
    add_file "$1"
    for library in $(ldd "$1" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
        add_file "$library"
    done
}
if ldd "$orvane" | grep -q libQt6Core; then
    qmake=$(command -v qmake6 || echo /usr/lib/qt6/bin/qmake)
else
    qmake=$(command -v qmake || echo /usr/lib/qt5/bin/qmake)
fi
plugins=$("$qmake" -query QT_INSTALL_PLUGINS 2>/dev/null) || die "no $qmake to find Qt's plugins"
[ -f "$plugins/platforms/libqminimal.so" ] || die "no minimal platform plugin in $plugins"
add_with_libraries "$orvane"
add_with_libraries "$plugins/platforms/libqminimal.so"
# The deferred copy's interpreter and the GNU tools it takes from the
# system's standard path.
for tool in dash cp mv mktemp chmod sync sleep rm; do
    add_with_libraries "$(command -v "$tool")"
done
dash_dir=$(readlink -f "$(dirname "$(command -v dash)")")
ln -s dash "$tools$dash_dir/sh"
# The stage's own check: a fault that must make it fail.
case ${ORVANE_POWERCUT_FAULT:-} in
'') ;;
noflush)
    command -v cc >/dev/null || die "no cc for ORVANE_POWERCUT_FAULT=noflush"
    mkdir -p "$tools/usr/lib"
    cc -shared -fPIC -O2 -o "$tools/usr/lib/orvane-noflush.so" "$here/noflush.c"
    echo "power-cut stage: with the fault noflush: nothing is flushed, broken files are due"
    ;;
*) die "unknown fault ${ORVANE_POWERCUT_FAULT}" ;;
esac
# The guest's top directories: those on the tools disk, and the host's
# links between them (/bin -> usr/bin on a merged /usr).
for top in "$tools"/*; do
    ln -s "/ro/${top##*/}" "$initramfs/${top##*/}"
done
for top in bin sbin lib lib32 lib64 libx32; do
    if [ -L "/$top" ] && [ ! -e "$initramfs/$top" ] && [ ! -L "$initramfs/$top" ]; then
        ln -s "$(readlink "/$top")" "$initramfs/$top"
    fi
done
[ -e "$initramfs/bin" ] || [ -L "$initramfs/bin" ] || die "no /bin for the guest"
(cd "$initramfs" && find . | cpio -o -H newc --quiet) >"$run/initramfs.cpio"
tools_img=$run/tools.img
mkfs.ext4 -q -F -L orvane-tools -d "$tools" "$tools_img" "$(($(du -sm "$tools" | cut -f1) + 32))M" \
    >/dev/null
rm -rf "$tools" "$initramfs"

# ---- the test disk: the installation, the new versions, the names ---------
RANDOM=$seed
disk=$run/disk
inst=$disk/inst
mkdir -p "$inst/workdir"
cp "$orvane" "$inst/Orvane"
printf '#!/bin/sh\necho started >/run/hultrex-started\n' >"$inst/Hultrex"
chmod 755 "$inst/Hultrex"
: >"$disk/names"
random_size() { echo $((4096 + (RANDOM * 32768 + RANDOM) % (1048576 - 4096 + 1))); }
for entry in "${layout[@]}"; do
    directory=${entry%:*}
    mkdir -p "$inst/$directory" "$inst/workdir/$directory"
    for ((n = 1; n <= ${entry#*:}; n++)); do
        case $directory in
        lib | plugins/*) suffix=so ;;
        bin) suffix=bin ;;
        share/*) suffix=qm ;;
        *) suffix=dat ;;
        esac
        name=$directory/file$(printf %02d "$n").$suffix
        head -c "$(random_size)" /dev/urandom >"$inst/$name"
        head -c "$(random_size)" /dev/urandom >"$inst/workdir/${name}_"
        echo "$name" >>"$disk/names"
        mkdir -p "$disk/naive/$directory"
        ln -s "/test/inst/workdir/${name}_" "$disk/naive/$name"
    done
done
printf '%s\n' "${busy[@]}" >"$disk/busy"
mapfile -t names <"$disk/names"
# expected: name, old hash, old size, new hash, new size.
(cd "$inst" && for name in "${names[@]}"; do
    printf '%s %s %s %s %s\n' "$name" "$(sha256sum <"$name" | cut -c1-64)" "$(stat -c %s "$name")" \
        "$(sha256sum <"workdir/${name}_" | cut -c1-64)" "$(stat -c %s "workdir/${name}_")"
done) >"$run/expected"
base_img=$run/base.img
mkfs.ext4 -q -F -L orvane-test -E lazy_itable_init=0 -d "$disk" "$base_img" \
    "$(($(du -sm "$disk" | cut -f1) * 3 / 2 + 64))M" >/dev/null
tops=$(printf '%s\n' "${names[@]}" | cut -d/ -f1 | sort -u | sed 's|^|/inst/|' | tr '\n' ' ')

# ---- the machine, booted once and saved ---------------------------------
# The machine: one CPU, 512 MiB, the tools disk and the test disk of a trial
# (TEST_DRIVE) written straight to its image file (cache=none).
# shellcheck disable=SC2054 # the commas belong to QEMU's options
machine=(nice -n "$niceness" qemu-system-x86_64 -M pc -accel tcg -m 512 -smp 1
    -nodefaults -no-user-config -display none -no-reboot
    -kernel "$kernel_dir/vmlinuz" -initrd "$run/initramfs.cpio"
    -append "console=ttyS0 quiet panic=-1"
    -drive "file=${tools_img//,/,,},format=raw,if=none,id=tools,readonly=on"
    -device virtio-blk-pci,drive=tools -device virtio-blk-pci,drive=test)
test_drive() {
    echo "file=${1//,/,,},format=raw,if=none,id=test,cache=none,aio=native"
}
state=$run/machine.state
case $state in *\'* | *\"*) die "no quotes in $state, please" ;; esac
boot=$run/boot
mkdir -p "$boot"
cp --reflink=auto --sparse=always "$base_img" "$boot/disk.img"
mkfifo "$boot/monitor.in" "$boot/monitor.out"
"${machine[@]}" -drive "$(test_drive "$boot/disk.img")" -serial "file:$boot/console" \
    -monitor "pipe:$boot/monitor" >"$boot/qemu.log" 2>&1 &
echo $! >"$boot/qemu.pid"
# Opened for reading and writing, so that neither open waits for QEMU.
exec {monitor_in}<>"$boot/monitor.in" {monitor_out}<>"$boot/monitor.out"
boot_failed() {
    die "the guest did not boot: $1
$(tr -d '\r' <"$boot/console" 2>/dev/null | tail -n 15)
$(cat "$boot/qemu.log")"
}
limit=$(($(now_ms) + 120000))
until grep -q '^orvane-ready' "$boot/console" 2>/dev/null; do
    ! grep -q '^orvane-fail' "$boot/console" 2>/dev/null || boot_failed "it failed"
    kill -0 "$(cat "$boot/qemu.pid")" 2>/dev/null || boot_failed "QEMU ended"
    [ "$(now_ms)" -lt "$limit" ] || boot_failed "no word in 120 s"
    sleep 0.05
done
echo "migrate \"exec:cat >'$state'\"" >&"$monitor_in"
limit=$(($(now_ms) + 120000))
saved=
until [ -n "$saved" ]; do
    [ "$(now_ms)" -lt "$limit" ] || boot_failed "not saved in 120 s"
    sleep 0.2
    echo "info migrate" >&"$monitor_in"
    while read -r -t 0.3 line <&"$monitor_out"; do
        case $line in
        *"Migration status: completed"*) saved=yes ;;
        *"Migration status: failed"*) boot_failed "saving it failed" ;;
        esac
    done
done
kill -9 "$(cat "$boot/qemu.pid")"
wait "$(cat "$boot/qemu.pid")" 2>/dev/null || true
exec {monitor_in}>&- {monitor_out}<&-
rm -rf "$boot"
echo "power-cut stage: guest linux-image-$abi, seed $seed, $jobs machines at once," \
    "prepared in $((($(now_ms) - stage_start + 500) / 1000)) s"

# ---- one trial ----------------------------------------------------------
# trial ID CASE OPTIONS EVENT DELAY-MS: restores the saved machine on a copy
# of the test disk, runs the case, cuts DELAY-MS after the guest reported
# EVENT ("-": no cut, the guest ends by itself), checks the disk. Then, but
# for the control, it restores the machine once more on the checked disk for
# the start after the cut (one plain start of Orvane, then a clean unmount)
# and judges the whole set. Writes ID.result:
#   CASE OPTIONS STATE OLD NEW BROKEN LEFTOVER RUN-MS CUT-MS AFTER-THE-RUN
#   SET START-OLD START-NEW START-BROKEN START-LEFTOVER RECORD START-MS
# (RUN-MS: uncut, from EVENT to the run's end; CUT-MS: after EVENT; SET:
# new, old or mixed after the start, the rest of that line as after the
# cut; RECORD: whether the update's record was left; START-MS: the second
# machine's life; "-" for the control), ID.broken (one broken name a line,
# after the cut or after the start) and ID.mixed (the names that differ from
# the others after the start), and prints a line.
trial() {
    local id=$1 case_=$2 options=$3 event=$4 delay=$5
    local t=$run/$id cut=1 qemu_pid event_ms run_ms=- cut_ms=- after=-
    [ "$delay" != - ] || cut=0
    mkdir -p "$t"
    cp --reflink=auto --sparse=always "$base_img" "$t/disk.img"
    # start_machine COMMAND: restores the saved machine on the trial's disk
    # and gives it the command.
    start_machine() {
        # What reaches the serial port before the machine is restored is
        # lost: empty lines first.
        { printf '\n%.0s' {1..64}; echo "$1"; } >"$t/command"
        "${machine[@]}" -drive "$(test_drive "$t/disk.img")" -serial stdio \
            -incoming "exec:cat '$state'" <"$t/command" >"$t/console" 2>"$t/qemu.log" &
        qemu_pid=$!
        echo "$qemu_pid" >"$t/qemu.pid"
    }
    # seen EVENT: whether the guest has reported it.
    seen() { grep -q "^orvane-$1" "$t/console" 2>/dev/null; }
    # wait_event EVENT SECONDS: polls for it; notes when it came.
    wait_event() {
        local limit=$(($(now_ms) + $2 * 1000))
        while ! seen "$1"; do
            if seen fail || ! kill -0 "$qemu_pid" 2>/dev/null || [ "$(now_ms)" -gt "$limit" ]; then
                return 1
            fi
            sleep 0.02
        done
    }
    result() {
        echo "$case_ $options $*" >"$t.result"
    }
    error() {
        local crashed=
        kill -9 "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
        # The emulated machine's own kernel failing is no state of the disk
        # to judge; the caller tries such a trial once more.
        if grep -q -E 'Kernel panic|Oops|BUG:|general protection' "$t/console" 2>/dev/null; then
            crashed=": the guest's kernel crashed"
        fi
        {
            echo "trial $id ($case_, $options): $*$crashed"
            echo "  guest's console:"
            tr -d '\r' <"$t/console" 2>/dev/null | tail -n 40 | sed 's/^/    /'
            sed 's/^/    qemu: /' "$t/qemu.log"
        } >"$t.error"
        rm -f "$t/qemu.pid" "$t/disk.img"
        if [ -n "$crashed" ]; then
            result crash
        else
            result error
        fi
        cat "$t.error"
    }
    # judge: reads the installation out of the image and sorts each name
    # into complete old, complete new or broken; sets new, old, broken
    # (appended to ID.broken, with the words "after the start" once it ran),
    # leftover and record. Fails when Orvane reported an error.
    local new old broken leftover record
    judge() {
        local name state size old_size new_size
        rm -rf "$t/out" "$t/Orvane.err"
        mkdir -p "$t/out"
        # shellcheck disable=SC2086 # the top directories, without blanks
        debugfs -R "rdump $tops \"$t/out\"" "$t/disk.img" >"$t/debugfs" 2>&1
        debugfs -R "dump /inst/workdir/Orvane.err \"$t/Orvane.err\"" "$t/disk.img" >/dev/null 2>&1 \
            || true
        if [ -s "$t/Orvane.err" ]; then
            error "Orvane reported$1: $(tr -d '\r' <"$t/Orvane.err")"
            return 1
        fi
        # Each name: complete old, complete new, or broken; the hashes in one go.
        (cd "$t/out" && find . -type f -printf '%P %s\n') >"$t/sizes"
        (cd "$t/out" && find . -type f -exec sha256sum -- {} + | sed 's|  \./| |') >"$t/hashes"
        awk 'FILENAME == ARGV[1] { size[$1] = $2; next }
             FILENAME == ARGV[2] { hash[$2] = $1; next }
             { state = !($1 in size) ? "missing" : size[$1] == 0 ? "empty" : \
                   hash[$1] == $4 && size[$1] == $5 ? "new" : hash[$1] == $2 && size[$1] == $3 ? "old" : \
                   "other"
               print $1, state, size[$1] + 0, $3, $5 }' "$t/sizes" "$t/hashes" "$run/expected" >"$t/states"
        broken=0
        while read -r name state size old_size new_size; do
            case $state in
            new | old) continue ;;
            other)
                # A beginning of either version, or something else.
                if { [ "$size" -lt "$new_size" ] && cmp -s -n "$size" "$t/out/$name" "$inst/workdir/${name}_"; } \
                    || { [ "$size" -lt "$old_size" ] && cmp -s -n "$size" "$t/out/$name" "$inst/$name"; }; then
                    state=short
                else
                    state=mixed
                fi
                ;;
            esac
            echo "$name $state ($size bytes; old $old_size, new $new_size)$1" >>"$t.broken"
            broken=$((broken + 1))
        done <"$t/states"
        new=$(grep -c ' new ' "$t/states" || true)
        old=$(grep -c ' old ' "$t/states" || true)
        leftover=$(find "$t/out" \( -name '.*.orvane-new-*' -o -name '.Orvane-deferred-*' \) | wc -l)
        record=no
        ! debugfs -R "ls -p /inst/workdir" "$t/disk.img" 2>/dev/null | grep -q "/$record_name/" \
            || record=yes
    }
    # counts: the line's words for the counts judge set.
    counts() {
        local words="$new new, $old old, $broken broken"
        if [ "$broken" != 0 ]; then
            words+=" ($(grep "$1\$" "$t.broken" | cut -d' ' -f2 | sort | uniq -c \
                | awk '{printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2}'))"
        fi
        [ "$leftover" = 0 ] || words+=", $leftover staged files left"
        echo "$words"
    }

    start_machine "run $case_ $options $cut"
    if ! wait_event go 60; then
        error "the guest did not start the run"
        return 0
    fi
    if [ "$event" != go ] && ! wait_event "$event" 180; then
        error "the guest did not report $event"
        return 0
    fi
    event_ms=$(now_ms)
    if [ "$cut" = 1 ]; then
        sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
        kill -9 "$qemu_pid"
        cut_ms=$(($(now_ms) - event_ms))
        wait "$qemu_pid" 2>/dev/null || true
        if seen fail; then
            error "the guest failed"
            return 0
        fi
        ! seen finished || after=yes
    else
        if ! wait_event finished 240; then
            error "the run did not end"
            return 0
        fi
        run_ms=$(($(now_ms) - event_ms))
        if ! wait_event clean 60; then
            error "the guest did not end cleanly"
            return 0
        fi
        wait "$qemu_pid" 2>/dev/null || true
    fi
    rm -f "$t/qemu.pid"
    # Journal recovery, orphans (the staged files, a truncated target) and
    # the free counts are what every crash leaves; anything else is damage.
    local code=0
    e2fsck -fy "$t/disk.img" >"$t/fsck" 2>&1 || code=$?
    if [ "$code" -gt 1 ] || grep -v -E \
        '^(e2fsck [0-9]|orvane-test: recovering journal|Pass [1-5][A-Za-z]?:|Pass 3A: Optimizing directories|Clearing orphaned inode|Truncating orphaned inode|Free (blocks|inodes) count wrong|Fix\? yes|$|orvane-test: \*\*\*\*\* FILE SYSTEM WAS MODIFIED|orvane-test: [0-9]+/[0-9]+ files)' \
        "$t/fsck" >"$t/fsck.unexpected"; then
        error "e2fsck repaired more than a crash leaves (exit code $code):$(printf '\n%s' "$(cat "$t/fsck.unexpected")")"
        return 0
    fi
    : >"$t.broken"
    : >"$t.mixed"
    judge "" || return 0
    local line="trial $id ($case_, $options):"
    if [ "$cut" = 1 ]; then
        line+=" cut $(printf '%d.%02d' $((cut_ms / 1000)) $((cut_ms % 1000 / 10))) s after $event"
        [ "$after" = - ] || line+=" (after the run)"
    else
        line+=" uncut, $(printf '%d.%01d' $((run_ms / 1000)) $((run_ms % 1000 / 100))) s from $event to the end"
    fi
    line+=": $(counts "")"
    local cut_counts="$old $new $broken $leftover $run_ms $cut_ms $after"
    if [ "$case_" = control ]; then
        result ok "$cut_counts - - - - - - -"
        echo "$line"
        rm -rf "$t"
        return 0
    fi

    # The start after the cut, on the checked disk; it must leave it clean.
    local start_ms
    start_ms=$(now_ms)
    mv "$t/console" "$t/console.run"
    start_machine "run recover $options 0"
    if ! wait_event finished 180; then
        error "the start after the cut failed or did not end"
        return 0
    fi
    if ! wait_event clean 60; then
        error "the guest did not end cleanly after the start"
        return 0
    fi
    wait "$qemu_pid" 2>/dev/null || true
    rm -f "$t/qemu.pid"
    start_ms=$(($(now_ms) - start_ms))
    code=0
    e2fsck -fn "$t/disk.img" >"$t/fsck" 2>&1 || code=$?
    if [ "$code" != 0 ]; then
        error "the disk was not clean after the start (e2fsck's exit code $code):$(printf '\n%s' "$(cat "$t/fsck")")"
        return 0
    fi
    judge " after the start" || return 0
    # The whole set: every name new, or every name old.
    local set=mixed
    if [ "$new" = "${#names[@]}" ]; then
        set=new
    elif [ "$old" = "${#names[@]}" ]; then
        set=old
    else
        # The fewer of the two versions, and anything broken.
        local fewer=new
        [ "$old" -gt "$new" ] || fewer=old
        awk -v fewer="$fewer" '$2 == fewer || ($2 != "new" && $2 != "old") { print $1, $2 }' \
            "$t/states" >"$t.mixed"
    fi
    line+="; after a plain start: $(counts " after the start")"
    case $set in
    new) line+=" (all new)" ;;
    old) line+=" (all old)" ;;
    mixed) line+=" (a MIXED set)" ;;
    esac
    [ "$record" = no ] || line+=", the update's record LEFT"
    result ok "$cut_counts $set $old $new $broken $leftover $record $start_ms"
    echo "$line"
    rm -rf "$t"
}

# run_trials PLAN...: the trials ("ID CASE OPTIONS EVENT DELAY"), JOBS at a
# time; a trial in which the guest's kernel crashed runs once more.
run_trials() {
    local plans=("$@") plan round crashed words
    for round in 1 2; do
        for plan in "${plans[@]}"; do
            while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
                wait -n || true
            done
            # shellcheck disable=SC2086 # the plan's words
            trial $plan &
        done
        wait
        crashed=()
        for plan in "${plans[@]}"; do
            read -r -a words <<<"$plan"
            [ -f "$run/${words[0]}.result" ] || echo "${words[1]} ${words[2]} error" >"$run/${words[0]}.result"
            [ "$(cut -d' ' -f3 "$run/${words[0]}.result")" != crash ] || crashed+=("$plan")
        done
        if [ "${#crashed[@]}" = 0 ] || [ "$round" = 2 ]; then
            break
        fi
        echo "power-cut stage: the guest's kernel crashed in ${#crashed[@]} trials; once more"
        plans=("${crashed[@]}")
    done
}
field() { cut -d' ' -f"$2" "$run/$1.result"; }

# ---- uncut runs: everything new, and the length of each run --------------
run_trials "u0 update $harsh go -" "c0 control $harsh go -" "d0 deferred $harsh released -"
for id in u0 c0 d0; do
    [ "$(field "$id" 3)" = ok ] || die "the uncut run $id failed"
    [ "$(field "$id" 5)" = "${#names[@]}" ] || die "the uncut run $id did not replace every file:
$(cat "$run/$id.broken")"
    [ "$id" = c0 ] || [ "$(field "$id" 11)" = new ] || die "the start after the uncut run $id left:
$(cat "$run/$id.broken" "$run/$id.mixed")"
done
update_ms=$(field u0 8)
control_ms=$(field c0 8)
# The deferred copy's part: from the release of the targets to the end.
deferred_ms=$(field d0 8)

# ---- the cut trials ----------------------------------------------------------
# cut_at N RUN-MS WRITEBACK-MS: the N-th trial's cut (ms): a random instant
# of the run for odd N, of the writeback after it for even N.
cut_at() {
    local random=$((RANDOM * 32768 + RANDOM))
    if (($1 % 2)); then
        echo $((random % ($2 + 1)))
    else
        echo $(($2 + random % ($3 + 1)))
    fi
}
plans=()
for ((i = 1; i <= update_trials || i <= control_trials || i <= deferred_trials; i++)); do
    if [ "$i" -le "$update_trials" ]; then
        plans+=("u$i update defaults go $(cut_at "$i" "$update_ms" "$writeback_ms")")
        plans+=("n$i update $harsh go $(cut_at "$i" "$update_ms" "$harsh_writeback_ms")")
    fi
    if [ "$i" -le "$control_trials" ]; then
        plans+=("c$i control $harsh go $(cut_at "$i" "$control_ms" "$harsh_writeback_ms")")
    fi
    if [ "$i" -le "$deferred_trials" ]; then
        plans+=("d$i deferred defaults released $(cut_at "$i" "$deferred_ms" "$writeback_ms")")
        plans+=("e$i deferred $harsh released $(cut_at "$i" "$deferred_ms" "$harsh_writeback_ms")")
    fi
done
run_trials "${plans[@]}"

# ---- the verdict ---------------------------------------------------------
failed=0
# summary LABEL PATTERN: one line for the trials whose results match.
summary() {
    local label=$1 pattern=$2 files=0 trials=0 hit=0 errors=0 result fields
    local both=0 all_new=0 all_old=0 mixed=0 records=0 sets=0
    for result in "$run"/$pattern.result; do
        [ -f "$result" ] || continue
        trials=$((trials + 1))
        read -r -a fields <"$result"
        if [ "${fields[2]}" != ok ]; then
            errors=$((errors + 1))
            continue
        fi
        files=$((files + fields[5]))
        [ "${fields[5]}" = 0 ] || hit=$((hit + 1))
        [ "${fields[3]}" = 0 ] || [ "${fields[4]}" = 0 ] || both=$((both + 1))
        [ "${fields[10]}" = - ] || sets=$((sets + 1))
        case ${fields[10]} in
        new) all_new=$((all_new + 1)) ;;
        old) all_old=$((all_old + 1)) ;;
        mixed) mixed=$((mixed + 1)) ;;
        esac
        [ "${fields[15]}" != yes ] || records=$((records + 1))
    done
    printf '%s: %d trials, %d broken files' "$label" "$trials" "$files"
    [ "$hit" = 0 ] || printf ' (in %d trials)' "$hit"
    if [ "$sets" != 0 ]; then
        printf '; the cut left both versions in %d; after the start all new in %d, all old in %d, mixed in %d' \
            "$both" "$all_new" "$all_old" "$mixed"
        [ "$records" = 0 ] || printf ', the record left in %d' "$records"
    fi
    [ "$errors" = 0 ] || printf ', %d trials failed to run' "$errors"
    echo
    summary_files=$files summary_errors=$errors summary_mixed=$mixed summary_records=$records
}
echo "== power-cut stage: results (seed $seed)"
for plan in "update, default options:u[1-9]*" "update, $harsh:n[1-9]*" \
    "deferred copy, default options:d[1-9]*" "deferred copy, $harsh:e[1-9]*"; do
    summary "${plan%%:*}" "${plan#*:}"
    if [ "$summary_files" != 0 ] || [ "$summary_errors" != 0 ] || [ "$summary_mixed" != 0 ] \
        || [ "$summary_records" != 0 ]; then
        failed=1
    fi
done
for broken in "$run"/[unde]*.broken; do
    [ -s "$broken" ] || continue
    echo "FAIL: broken in trial $(basename "$broken" .broken):"
    sed 's/^/  /' "$broken"
done
for mixed in "$run"/[unde]*.mixed; do
    [ -s "$mixed" ] || continue
    echo "FAIL: a mixed set after the start in trial $(basename "$mixed" .mixed), these differ from the rest:"
    head -n 10 "$mixed" | sed 's/^/  /'
    [ "$(wc -l <"$mixed")" -le 10 ] || echo "  and $(($(wc -l <"$mixed") - 10)) more"
done
summary "control, naive cp, $harsh" "c[1-9]*"
if [ "$summary_errors" != 0 ]; then
    failed=1
elif [ "$summary_files" = 0 ]; then
    echo "FAIL: the control broke no file: these cuts are too weak to prove anything"
    failed=1
fi
# The cost of the starts after the cuts: each a second machine.
starts=0 start_total=0
for result in "$run"/*.result; do
    read -r -a fields <"$result"
    if [ "${fields[2]}" != ok ] || [ "${fields[16]:--}" = - ]; then
        continue
    fi
    starts=$((starts + 1)) start_total=$((start_total + fields[16]))
done
if [ "$starts" != 0 ]; then
    start_average=$((start_total / starts))
    echo "power-cut stage: $starts starts after the runs, $(printf '%d.%01d' $((start_average / 1000)) \
        $((start_average % 1000 / 100))) s each on average"
fi
echo "power-cut stage: $((($(now_ms) - stage_start + 500) / 1000)) s in all"
[ "$failed" = 0 ] || exit 1
echo "power-cut stage passed"
