# smoke-lib.sh: what the smoke drives share, sourced by each after it sets smoke_name (the word its
# messages begin with): a scratch folder removed at exit (kept with SMOKE_KEEP=1 or after a
# failure), a virtual X server of its own, and the helpers that find, focus and type into the
# program's windows. The drive sets pid to the program's process once it starts it.
work=$(mktemp -d)
xvfb_pid=""
pid=""
smoke_cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    if [ -n "${SMOKE_KEEP:-}" ]; then echo "$smoke_name: kept $work"; else rm -rf "$work"; fi
}
trap smoke_cleanup EXIT

fail() {
    echo "$smoke_name: FAILED: $*"
    import -window root "$work/failed.png" 2>/dev/null && echo "$smoke_name: screenshot $work/failed.png" && SMOKE_KEEP=1
    echo "--- program output"; cat "$work/log" 2>/dev/null
    exit 1
}

# Starts Xvfb on a display it picks itself, so that drives running at once never share one.
start_xvfb() {
    exec {display_fd}<> <(:)
    # -noreset: a drive may start the program twice, and the server outlives the first run.
    Xvfb -displayfd "$display_fd" -screen 0 1280x900x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    read -r -t 10 display <&"$display_fd" || { echo "$smoke_name: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    export DISPLAY=":$display"
}

# Ends the drive as skipped (77) unless every tool named is here.
needs_tools() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$smoke_name: needs $tool"; exit 77; }
    done
}
# Lays the program out as an install does, in a folder of its own: bin/quern with its help beside
# it, a copy of the prefix's .reg files in pfx/, an empty home, and any further folders named.
lay_out_program() {
    local exe=$1 help=$2 prefix=$3
    shift 3
    mkdir -p "$work/bin" "$work/pfx" "$work/home" "${@/#/$work/}"
    cp "$exe" "$work/bin/quern"
    cp "$help" "$work/bin/"
    cp "$prefix"/*.reg "$work/pfx/"
}

alive() { kill -0 "$pid" 2>/dev/null; }
# Waits for a visible window of the program whose title matches, and prints its id.
window_named() {
    local id
    for _ in $(seq 1 100); do
        id=$(xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        alive || return 1
        sleep 0.1
    done
    return 1
}
wait_gone() {
    for _ in $(seq 1 50); do
        [ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    return 1
}
focus() { xdotool windowfocus --sync "$1" 2>/dev/null; sleep 0.2; }
keys() { xdotool key --delay 60 "$@"; sleep 0.4; }
type_text() { xdotool type --delay 15 -- "$1"; sleep 0.3; }

# Starts the program from the work folder on the prefix pfx, with a home of its own and the
# arguments given; sets pid and main (the main window, which gets the keyboard). The title may
# begin with a registry's name, so the pattern is not anchored.
start_quern() {
    ( cd "$work" && WINEPREFIX="$work/pfx" HOME="$work/home" XDG_RUNTIME_DIR="$work" exec "$work/bin/quern" "$@" ) \
        >>"$work/log" 2>&1 &
    pid=$!
    main=$(window_named 'Quern - THE registry editor') || fail "the main window did not show"
    focus "$main"
}
# Esc closes the main window, and the program ends.
quit_quern() {
    focus "$main"
    keys Escape
    for _ in $(seq 1 50); do alive || break; sleep 0.1; done
    alive && fail "Esc did not close the window"
    pid=""
}
# Edit > Go to path (Ctrl+G) with the path typed; the main window has the keyboard again after it.
go_to_typed() {
    focus "$main"
    keys ctrl+g
    dialog=$(window_named '^Go to path') || fail "Ctrl+G showed no dialog"
    focus "$dialog"
    keys ctrl+a
    type_text "$1"
    keys Return
    wait_gone '^Go to path' || fail "the Go to path dialog stayed open"
    focus "$main"
}
# File > Open registry (Ctrl+O), Browse folder, the folder typed: that prefix opens in a tab.
open_folder_in_tab() {
    focus "$main"
    keys ctrl+o
    dialog=$(window_named '^Open registry$') || fail "Ctrl+O showed no list of registries"
    focus "$dialog"
    keys alt+f
    browse=$(window_named "^Open a Wine prefix's folder") || fail "Browse folder showed no folder dialog"
    focus "$browse"
    type_text "$1"
    keys Return
    wait_gone '^Open registry$' || fail "the folder chosen was not opened"
    focus "$main" # no window manager gives the window the keyboard back
}
