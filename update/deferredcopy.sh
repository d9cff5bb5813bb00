# shellcheck shell=sh
# The deferred copy on Linux, run by /bin/sh -c once Orvane has ended.
# Arguments: $1 the program to restart, $2 the directory to restart it in,
# $3 the error file, $4 the pass's other errors (CR LF between them), then
# source, target and "not copied" message of every copy. No path is ever
# part of this text, so no file name can bring in shell syntax.
#
# Each new version is copied beside its target, given its permissions,
# flushed, renamed over the target in one step and its directory flushed: the
# target holds its complete old or new content at every instant. The
# temporary file gets the new version's permissions, and its owner may read,
# write and run it, without set-user-ID, set-group-ID or sticky bits, as in
# the replacement pass. "-T" makes a directory in the target's place a
# failure instead of a destination. Whether a target's directory takes a new
# name is asked when its copy is due, not tried: a failed step ends the
# chain, never leads to another way of writing the target. What a failed tool
# writes to its error channel becomes the reason in the error file.

restart=$1 start=$2 report=$3 earlier=$4
shift 4
nl='
'
crlf=$(printf '\r\n_')
crlf=${crlf%_}

# The tools come from the system's standard path, whatever PATH holds.
c() { command -p "$@"; }

# Appends one line of the error file.
put() {
    printf '%s%s' "$sep" "$1"
    sep=$crlf
}

# The desktop's opener, from PATH or else the standard path.
edit() {
    if command -v xdg-open >/dev/null; then
        xdg-open "$report"
    else
        c xdg-open "$report"
    fi
}

# fail REASON COPY...: reports the other errors, then every copy not made,
# the first with the reason's first line, opens the report and ends the
# chain without the restart.
fail() {
    why=${1%%"$nl"*}
    shift
    sep=
    {
        if [ -n "$earlier" ]; then put "$earlier"; fi
        while [ "$#" -ge 3 ]; do
            put "$3$why"
            why=
            shift 3
        done
    } >"$report" && edit
    exit 1
}

# Time for the program to end and release its files.
c sleep 2 || exit

while [ "$#" -ge 3 ]; do
    case $2 in
    */*)
        dir=${2%/*}
        dir=${dir:-/}
        ;;
    *) dir=. ;;
    esac
    if [ -w "$dir" ]; then
        why=$({
            tmp=$(c mktemp -- "$dir/.Orvane-deferred-XXXXXX") &&
                {
                    c cp -- "$1" "$tmp" && c chmod --reference="$1" -- "$tmp" &&
                        c chmod u+rwx,a-st -- "$tmp" && c sync -- "$tmp" &&
                        c mv -f -T -- "$tmp" "$2" ||
                        {
                            c rm -f -- "$tmp"
                            false
                        }
                } && c sync -- "$dir"
        } 2>&1 >/dev/null) || fail "$why" "$@"
    else
        # A writable file in a directory that takes no new name can only be
        # rewritten in place.
        why=$({ c cp -f -T -- "$1" "$2" && c sync -- "$2"; } 2>&1 >/dev/null) || fail "$why" "$@"
    fi
    shift 3
done

# Every copy is made: the other errors are shown, and the program restarts.
if [ -n "$earlier" ]; then
    {
        sep=
        put "$earlier" >"$report" && edit
    } &
fi
cd -- "$start" || exit
exec "$restart"
