# Checks shared by the install and package tests; sourced, not run.
# Each takes the root of an installed tree (its bin/ and lib/ folders) and a private work folder.

# Fails the test with a message.
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The program folder of an installed tree: where bin/tolvex-cli leads.
program_folder() {
    dirname "$(readlink -f "$1/bin/tolvex-cli")"
}

# Every file of the program's folder is there, and both launchers are in bin/.
check_layout() {
    local prefix=$1 folder
    [ -x "$prefix/bin/tolvex" ] || fail "$prefix/bin/tolvex is missing or not executable"
    [ -L "$prefix/bin/tolvex-cli" ] || fail "$prefix/bin/tolvex-cli is not a link"
    case $(readlink "$prefix/bin/tolvex-cli") in
        /*) fail "bin/tolvex-cli points to an absolute path: the tree would not move" ;;
    esac
    folder=$(program_folder "$prefix")
    for f in tolvex tolvex-cli libHalvet_Tolvex.so libunlha32.so Tolvex.dat; do
        [ -f "$folder/$f" ] || fail "$f is not in the program's folder $folder"
    done
}

# Encrypts a file and a folder with the installed tolvex-cli, started from a folder of the
# user's far from the program, and restores both into output folders that do not exist yet.
cli_round_trip() {
    local prefix=$1 work=$2
    mkdir -p "$work/user/photos/2024"
    head -c 70001 /dev/urandom > "$work/user/notes.txt"
    head -c 3000 /dev/urandom > "$work/user/photos/2024/a.jpg"
    echo "beach" > "$work/user/photos/b.txt"
    (
        cd "$work/user"
        export TOLVEX_KEY=C0FFEE
        "$prefix/bin/tolvex-cli" --version | grep -Eq '^tolvex-cli [0-9]+\.[0-9]+\.[0-9]+$' ||
            fail "tolvex-cli --version"
        "$prefix/bin/tolvex-cli" encrypt --quiet --disguise png notes.txt
        "$prefix/bin/tolvex-cli" encrypt --quiet --compress --disguise zip photos/
        [ "$(head -c 4 notes.png | od -An -tx1 | tr -d ' ')" = 89504e47 ] ||
            fail "notes.png does not start as a PNG"
        "$prefix/bin/tolvex-cli" decrypt --quiet --output-dir restored/files notes.png
        "$prefix/bin/tolvex-cli" decrypt --quiet --extract --output-dir restored/folders photos.zip
        cmp notes.txt restored/files/notes.txt || fail "the file did not come back"
        diff -r photos restored/folders/photos || fail "the folder did not come back"
    ) || fail "round trip through $prefix/bin/tolvex-cli"
    echo "round trip through $prefix/bin/tolvex-cli: passed"
}

# Starts the program through its launcher on a virtual display, from a working directory that
# holds none of its files; waits for its window and closes it as its close box would.
# LAUNCHER defaults to PREFIX/bin/tolvex; a link to it elsewhere must work just as well.
launcher_start_up() {
    local prefix=$1 work=$2 xwin=$3 launcher=${4:-$1/bin/tolvex}
    mkdir -p "$work/elsewhere" "$work/tmp"
    (
        cd "$work/elsewhere"
        export TMPDIR="$work/tmp" QT_QPA_PLATFORM=xcb
        unset WAYLAND_DISPLAY
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
            "$1" &
            pid=$!
            "$2" "Tolvex v3.10" > /dev/null || { echo "no window"; kill $pid; exit 1; }
            # The menu entry names the window class the desktop groups the window under.
            xprop -name "Tolvex v3.10" WM_CLASS > "$3/wm_class"
            "$2" --close "Tolvex v3.10"
            for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
            if kill -0 $pid 2>/dev/null; then echo "the program did not end"; kill $pid; exit 1; fi
            wait $pid
        ' _ "$launcher" "$xwin" "$work"
    ) || fail "start-up through $launcher"
    local class
    class=$(sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/org.tolvex.Tolvex.desktop")
    grep -q ", \"$class\"\$" "$work/wm_class" ||
        fail "StartupWMClass=$class, but the window has $(cat "$work/wm_class")"
    # Started from elsewhere, it still ran in its folder and kept its settings there.
    [ -f "$(program_folder "$prefix")/Save.ini" ] || fail "no Save.ini beside the program"
    [ -z "$(ls -A "$work/elsewhere")" ] || fail "the program wrote into the caller's folder"
    echo "start-up through $launcher: passed"
}

# True once the process handles SIGTERM itself (bit 15 of its caught-signals mask).
catches_term() {
    local mask
    mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$mask" ] && (( (16#$mask >> 14) & 1 ))
}

# With a program folder nobody may write, the settings go to the user's XDG_CONFIG_HOME. Run
# as an ordinary user (65534 when the suite runs as root, since root writes anywhere).
read_only_settings() {
    local prefix=$1 work=$2 folder as_user=()
    folder=$(program_folder "$prefix")
    rm -f "$folder/Save.ini"
    chmod -R a-w "$folder"
    mkdir -p "$work/ro/config" "$work/ro/home" "$work/ro/tmp" "$work/ro/cwd"
    chmod 755 "$work" "$work/ro"
    if [ "$(id -u)" -eq 0 ]; then
        chown -R 65534:65534 "$work/ro/config" "$work/ro/home" "$work/ro/tmp" "$work/ro/cwd"
        as_user=(setpriv --reuid 65534 --regid 65534 --clear-groups)
    fi
    local status=0
    (
        cd "$work/ro/cwd"
        env HOME="$work/ro/home" XDG_CONFIG_HOME="$work/ro/config" TMPDIR="$work/ro/tmp" \
            QT_QPA_PLATFORM=offscreen "${as_user[@]}" "$prefix/bin/tolvex" &
        pid=$!
        # The first start writes the file at once; once the program has taken over SIGTERM
        # (its window is up), the system asks it to end, as at logout.
        for _ in $(seq 600); do
            [ -f "$work/ro/config/tolvex/Save.ini" ] && catches_term $pid && break
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
        done
        kill -TERM $pid 2>/dev/null || true
        wait $pid
    ) || status=$?
    chmod -R u+w "$folder"
    [ $status -eq 0 ] || fail "the program ended with $status"
    [ -f "$work/ro/config/tolvex/Save.ini" ] || fail "no Save.ini in XDG_CONFIG_HOME/tolvex"
    [ "$(stat -c %a "$work/ro/config/tolvex")" = 700 ] ||
        fail "XDG_CONFIG_HOME/tolvex has mode $(stat -c %a "$work/ro/config/tolvex")"
    tr -d '\r' < "$work/ro/config/tolvex/Save.ini" | grep -qx 'Save=1' || fail "Save=1 not saved"
    [ ! -e "$folder/Save.ini" ] || fail "a Save.ini appeared in the read-only folder"
    echo "settings with a read-only program folder: passed"
}

# The installed menu entry and metainfo pass their validators; the manual pages render cleanly.
validate_desktop_files() {
    local prefix=$1 out
    desktop-file-validate "$prefix/share/applications/org.tolvex.Tolvex.desktop" ||
        fail "desktop-file-validate"
    appstreamcli validate --no-net "$prefix/share/metainfo/org.tolvex.Tolvex.metainfo.xml" ||
        fail "appstreamcli validate"
    for page in tolvex tolvex-cli; do
        out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [ -z "$out" ] || fail "man $page: $out"
    done
    for size in 16 24 32 48 64 128 256; do
        file "$prefix/share/icons/hicolor/${size}x${size}/apps/tolvex.png" |
            grep -q "PNG image data, $size x $size," || fail "no ${size}x${size} PNG icon"
    done
    [ -f "$prefix/share/icons/hicolor/scalable/apps/tolvex.svg" ] || fail "no scalable icon"
    [ -f "$prefix/share/bash-completion/completions/tolvex-cli" ] || fail "no completion"
    echo "desktop files: passed"
}

# What the menu runs: the Exec command of the menu entry, found on a PATH holding PREFIX/bin.
menu_command() {
    local prefix=$1 entry command
    entry="$prefix/share/applications/org.tolvex.Tolvex.desktop"
    command=$(sed -n 's/^Exec=//p' "$entry" | cut -d' ' -f1)
    [ "$(sed -n 's/^TryExec=//p' "$entry")" = "$command" ] || fail "TryExec differs from Exec"
    PATH="$prefix/bin" command -v "$command" || fail "the menu's command $command is not in bin/"
}
