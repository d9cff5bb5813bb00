# shellcheck shell=sh
# The deferred copy on Linux, run by /bin/sh -c once Orvane has ended, with
# "orvane-update" as $0, by which a later update knows it runs.
# Arguments: $1 the program to restart, $2 the directory to restart it in,
# $3 the error file, $4 the pass's other errors (CR LF between them), $5 the
# editor (an absolute path; empty: the system's), $6 the update's record
# (empty: none), $7 the beginning of the temporary files' names (the
# program's, for every chain), then source, target and "not copied" message
# of every copy.
# No path is ever part of this text, so no file name can bring in shell
# syntax.
#
# Descriptor 9, when Orvane hands it on, holds a lock on the record: while
# it is open, no other update changes the installation. The chain removes the
# record once its outcome is known (every copy made, or the failure
# reported), and no program it starts gets the descriptor.
#
# Each new version is copied beside its target, given its permissions,
# flushed, renamed over the target in one step and its directory flushed: the
# target holds its complete old or new content at every instant. The
# temporary file gets the permissions of the file it replaces, or for a new
# file the new version's, without the group's write bit where the directory
# does not grant it; its owner may read, write and run it, nobody else may
# write it, and it has no set-user-ID, set-group-ID or sticky bits, as in the
# replacement pass, whatever the umask. The chain holds the lock of its
# temporary file (flock) for as long as it uses it, which tells every machine
# that shares the directory that the file is no leftover; it writes into the
# file only once it holds that lock. "-T" makes a directory in the target's place a
# failure instead of a destination. Whether a target's directory takes a new
# name is asked when its copy is due, not tried: a failed step ends the
# chain, never leads to another way of writing the target. What a failed tool
# writes to its error channel becomes the reason in the error file.

restart=$1 start=$2 report=$3 earlier=$4 editor=$5 record=$6 temporary=$7
shift 7
nl='
'
crlf=$(printf '\r\n_')
crlf=${crlf%_}

# A write beyond the file-size limit fails ("File too large") and is
# reported, instead of ending the tool that writes.
trap '' XFSZ

# The tools come from the system's standard path, whatever PATH holds.
c() { command -p "$@"; }

# Appends one line to the error file's text.
put() {
    text=$text$sep$1
    sep=$crlf
}

# Removes the update's record, for good: its directory is flushed too. Where
# that fails, the next start finds nothing left to do and removes it.
forget() {
    if [ -n "$record" ]; then
        c rm -f -- "$record" && c sync -- "${record%/*}/"
    fi
}

# Puts the text in the error file and removes the record. Written beside it
# and renamed over it: whatever had the name (a link, a FIFO) is replaced,
# never written through or waited for.
keep() {
    trap - XFSZ
    new=$(c mktemp -- "$report.XXXXXX") || {
        forget
        return 1
    }
    if printf '%s' "$text" >"$new" && c mv -f -T -- "$new" "$report"; then
        forget
    else
        c rm -f -- "$new"
        forget
        return 1
    fi
}

# Opens the error file in the editor.
open_report() {
    if [ -n "$editor" ]; then "$editor" "$report" 9>&-; else c xdg-open "$report" 9>&-; fi
}

# fail REASON COPY...: reports the other errors, then every copy not made,
# the first with the reason's first line, opens the report and ends the
# chain without the restart.
fail() {
    why=${1%%"$nl"*}
    shift
    text='' sep=''
    if [ -n "$earlier" ]; then put "$earlier"; fi
    while [ "$#" -ge 3 ]; do
        put "$3$why"
        why=
        shift 3
    done
    keep && open_report
    exit 1
}

# perms TEMPORARY TARGET DIR SOURCE: gives the temporary file its permissions.
perms() {
    if [ -f "$2" ] && [ ! -L "$2" ]; then
        c chmod --reference="$2" -- "$1" || return
    else
        c chmod --reference="$4" -- "$1" || return
        dirmode=$(c stat -L -c %a -- "$3") || return
        if [ $((0$dirmode & 020)) -eq 0 ]; then
            c chmod g-w -- "$1" || return
        fi
    fi
    c chmod u+rwx,o-w,a-st -- "$1"
}

# Takes the lock of the temporary file open as descriptor 8. Where the file
# system keeps no locks, the file is not taken for a leftover either: the
# copy goes on without; a lock somebody else holds ends it.
lock() {
    c flock -E 75 -w 10 8 || [ "$?" -ne 75 ]
}

# Time for the program to end and release its files.
c sleep 2 9>&- || exit

while [ "$#" -ge 3 ]; do
    case $2 in
    */*)
        dir=${2%/*}
        dir=${dir:-/}
        ;;
    *) dir=. ;;
    esac
    # Rewritten in place only where nothing else can work: a regular file,
    # not a link (whose target may lie anywhere), in a directory that takes
    # no new name. Anything else takes the way of the new name, which then
    # fails with the system's reason where the directory refuses it.
    if [ -w "$dir" ] || [ -L "$2" ] || [ ! -f "$2" ]; then
        why=$({
            tmp=$(c mktemp -- "$dir/$temporary$$-XXXXXX") &&
                {
                    {
                        lock && c cp -- "$1" "$tmp" && perms "$tmp" "$2" "$dir" "$1" &&
                            c sync -- "$tmp" && c mv -f -T -- "$tmp" "$2"
                    } 8<>"$tmp" ||
                        {
                            c rm -f -- "$tmp"
                            false
                        }
                } && c sync -- "$dir"
        } 2>&1 >/dev/null) || fail "$why" "$@"
    else
        why=$({ c cp -f -T -- "$1" "$2" && c sync -- "$2"; } 2>&1 >/dev/null) || fail "$why" "$@"
    fi
    shift 3
done

# Every copy is made: the other errors are shown, and the program restarts.
trap - XFSZ
if [ -n "$earlier" ]; then
    text='' sep=''
    put "$earlier"
    if keep; then open_report 9>&- & fi
else
    forget
fi
exec 9>&-
# The directory the program was started in, or, should it be gone by now (a
# download directory cleaned up), the installation.
cd -- "$start" 2>/dev/null || cd -- "${restart%/*}/" || exit
exec "$restart"
