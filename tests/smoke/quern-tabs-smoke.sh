#!/usr/bin/env bash
# quern-tabs-smoke.sh QUERN QUERN_REG MAKE_EMPTY_HIVE HELP_FILE PREFIX_DIR: registries in tabs, driven
# in the built Quern under a virtual X server with real key presses. Ctrl+O lists the prefixes of a
# home with a Steam game; the filter and Enter open the game's prefix in a second tab, and Browse
# folder opens a third; a key deleted in the game's tab leaves the other prefixes byte for byte as
# they were; Ctrl+Tab moves between tabs, and the title names each; after a restart the tabs come
# back, Ctrl+W closes one, and quern HIVE_FILE opens a hive alone, then found again in File >
# Recent registries. It checks the files: the three prefixes and preferences.ini.
# Exit 0: all held; 1: a check failed; 77: no Xvfb, xdotool or ImageMagick here (the test is skipped).
set -u
exe=$(realpath "$1")
reg=$(realpath "$2")
make_hive=$(realpath "$3")
help=$(realpath "$4")
prefix=$(realpath "$5")
smoke_name="tabs smoke"
source "$(dirname "${BASH_SOURCE[0]}")/smoke-lib.sh"
needs_tools Xvfb xdotool import

lay_out_program "$exe" "$help" "$prefix" other
steam="$work/home/.local/share/Steam"
game="$steam/steamapps/compatdata/220/pfx"
mkdir -p "$game" "$work/before"
cp "$prefix"/*.reg "$game/"
cp "$prefix"/*.reg "$work/other/"
printf '"AppState"\n{\n\t"appid"\t"220"\n\t"name"\t"Half-Life 2"\n}\n' >"$steam/steamapps/appmanifest_220.acf"
printf '"libraryfolders"\n{\n\t"0"\n\t{\n\t\t"path"\t"%s"\n\t}\n}\n' "$steam" >"$steam/steamapps/libraryfolders.vdf"
hive="$work/SOFTWARE.hiv"
"$make_hive" "$hive" || fail "no empty hive"
HOME="$work/home" XDG_DATA_HOME="$work/data" "$reg" /hive "SOFTWARE=$hive" add 'HKLM\SOFTWARE\Tabs' /v Seen \
    /t REG_SZ /d yes /f >/dev/null || fail "quern-reg could not fill the hive"
rm -f "$hive.quern-orig"
cp "$hive" "$work/before/hive"
for place in pfx other; do
    mkdir -p "$work/before/$place" && cp "$work/$place"/*.reg "$work/before/$place/"
done
preferences="$work/bin/preferences.ini"
title='Quern - THE registry editor & backupper'
start_xvfb

expect_title() {
    local now
    for _ in $(seq 1 20); do
        now=$(xdotool getwindowname "$main")
        [ "$now" = "$1" ] && return 0
        sleep 0.1
    done
    fail "$2: the title is '$now', not '$1'"
}
open_dialog() {
    focus "$main"
    keys ctrl+o
    dialog=$(window_named '^Open registry$') || fail "Ctrl+O showed no list of registries"
    focus "$dialog"
}
same_files() { # FOLDER BEFORE WHAT
    for file in system.reg user.reg userdef.reg; do
        cmp -s "$1/$file" "$2/$file" || fail "$3: $file changed"
    done
}

start_quern
expect_title "$title" "with one registry"
# The list: the environment's prefix and the game. The filter narrows it to the game; Enter opens it.
open_dialog
type_text 'half' # the filter has the keyboard as the list opens
keys Return
wait_gone '^Open registry$' || fail "Enter in the filter did not open the game's prefix"
focus "$main" # no window manager gives the window the keyboard back
expect_title "Half-Life 2 - $title" "the game's tab"
# Browse folder: a prefix the list does not know, typed into the folder dialog.
open_folder_in_tab "$work/other"
# Back to the game's tab, where a key is deleted.
keys ctrl+shift+Tab
expect_title "Half-Life 2 - $title" "Ctrl+Shift+Tab"
go_to_typed 'HKCU\Control Panel\Sound'
keys Delete
question=$(window_named '^Confirm') || fail "Delete did not ask"
focus "$question"
keys alt+y
wait_gone '^Confirm' || fail "the question stayed"
focus "$main"
sleep 0.5
grep -q '^\[Control Panel\\\\Sound\]' "$game/user.reg" && fail "the key deleted in the game's tab is still in its user.reg"
same_files "$work/pfx" "$work/before/pfx" "a delete in the game's tab"
same_files "$work/other" "$work/before/other" "a delete in the game's tab"
# Ctrl+Tab twice: the browsed prefix, then round to the first tab, named as ever.
keys ctrl+Tab
expect_title "$work/other - $title" "Ctrl+Tab"
keys ctrl+Tab
expect_title "$title" "Ctrl+Tab round to the first tab"
quit_quern
[ "$(grep -c '^OpenRegistries\.' "$preferences")" = 3 ] || fail "preferences.ini keeps $(grep -c '^OpenRegistries\.' "$preferences") open tabs, not 3"

# The next start: the three tabs again, the environment's in front; Ctrl+W closes the game's.
start_quern
expect_title "$title" "after a restart"
keys ctrl+Tab
expect_title "Half-Life 2 - $title" "the game's tab after a restart"
keys ctrl+w
expect_title "$work/other - $title" "the tab after the closed one"
quit_quern
grep -q "^OpenRegistries\..*compatdata" "$preferences" && fail "the closed tab came back in preferences.ini"
[ "$(grep -c '^OpenRegistries\.' "$preferences")" = 2 ] || fail "preferences.ini does not keep the two tabs left"

# quern HIVE_FILE: the hive alone, in front of the tabs; then File > Recent registries finds it again.
start_quern "$hive"
expect_title "SOFTWARE.hiv - $title" "quern HIVE_FILE"
keys ctrl+w ctrl+w ctrl+w # the hive's tab, then the others; the last Ctrl+W would close the window
for _ in $(seq 1 30); do alive || break; sleep 0.1; done
alive && fail "Ctrl+W on the last tab did not close the window"
pid=""
start_quern
keys alt+f g 1
expect_title "SOFTWARE.hiv - $title" "File > Recent registries > 1"
quit_quern
cmp -s "$hive" "$work/before/hive" || fail "opening the hive changed it"
same_files "$work/pfx" "$work/before/pfx" "the whole drive"
same_files "$work/other" "$work/before/other" "the whole drive"
echo "tabs smoke: passed"
