# The sway day (headless sway, no Xwayland), sourced by day.sh. Run as
#   SESSION_HOME=DIR bash sway.sh --session COMMAND...
# it starts the session first, as scripts/desktop-session.sh does for X11: a private session bus
# with gnome-keyring's Secret Service, headless sway and a foot terminal in front. sway refuses to
# run as root, so under root the whole session runs as nobody (with a copy of the admin token).
if [ "${1:-}" = "--session" ]; then
    . "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway SESSION_KEYRING_PASSWORD="session-$$"
    printf 'xwayland disable\n' >"$XDG_RUNTIME_DIR/sway.conf"
    inner='
set -u
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
printf %s "$SESSION_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
pids+=($!)
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$XDG_RUNTIME_DIR/sway.conf" >"$HOME/sway.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-* 2>/dev/null | grep -v lock | head -n 1)
  SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* 2>/dev/null | head -n 1)
  [ -n "$WAYLAND_DISPLAY" ] && [ -n "$SWAYSOCK" ] && break
  sleep 0.1
done
if [ -z "$SWAYSOCK" ]; then echo "sway did not start: $(tail -n 5 "$HOME/sway.out")" >&2; exit 1; fi
export WAYLAND_DISPLAY SWAYSOCK
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
  sleep 0.1
done
# A command of its own: without one foot runs $SHELL or the login shell, for nobody nologin.
foot --title "Fennimar session" sleep infinity >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do swaymsg -t get_tree | grep -q "Fennimar session" && break; sleep 0.1; done
"$@"
'
    exec dbus-run-session -- bash -c "$inner" sway-session "$@"
fi

terminal_app=linux:foot
# A game: ffplay, in the Game category; its SDL finds no ScreenSaver service and holds an idle
# inhibitor, which hides input from sway's idle protocol. The user's own copy of the program, so
# that the agent believes the user's entry for it.
game_app=linux:fennimar-bench-game
cp /usr/bin/ffplay "$HOME/ffplay"
mkdir -p "$XDG_DATA_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Bench game\nCategories=Game;ArcadeGame;\nExec=%s\n' "$HOME/ffplay" \
    >"$XDG_DATA_HOME/applications/fennimar-bench-game.desktop"
input() { wtype -k Shift_L 2>/dev/null || true; }
focus() { for _ in $(seq 300); do swaymsg "$1 focus" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
terminal() { focus '[title="Fennimar session"]'; }
other=""
unmonitored() {  # an installed app that is not on the list
    GDK_BACKEND=wayland gtk3-demo >/dev/null 2>&1 &
    other=$!
    children+=("$other")
    focus "[pid=$other]"
}
close_unmonitored() { kill "$other" 2>/dev/null || true; }
in_browser() {  # PAGE: Chromium on Wayland in front, its page loaded (sway.conf has no Xwayland)
    open_browser chromium "$1" --ozone-platform=wayland
    focus "[pid=$browser]" || echo "Chromium did not come to the front" >&2
    sleep 5  # the page loads and the video plays
}
chromium_site() { in_browser index.html; }
chromium_video() { in_browser video.html; }
chromium_music() { in_browser music.html; }
film_beside() {  # the terminal in front, a film playing in the tile beside (ffplay, whose SDL holds an idle inhibitor)
    SDL_VIDEODRIVER=wayland ffplay -loglevel quiet -an -loop 0 -window_title Film "$ACC_SITE/video.webm" &
    other=$!
    children+=("$other")
    for _ in $(seq 100); do swaymsg -t get_tree | grep -Eq '"inhibit_idle": ?true' && break; sleep 0.1; done
    swaymsg -t get_tree | grep -Eq '"inhibit_idle": ?true' || echo "the film holds no idle inhibitor" >&2
    terminal
}
game() {
    SDL_VIDEODRIVER=wayland "$HOME/ffplay" -loglevel quiet -an -loop 0 -window_title Game "$ACC_SITE/video.webm" &
    other=$!
    children+=("$other")
    focus "[pid=$other]"
}
lock_terminal() { terminal; lock; }
switch_terminal() { terminal; switch_out; }

run_day() {
    segment "typing in a monitored app" counts "$seconds" "$seconds" terminal input nothing
    segment "offline all along, typing" counts "$seconds" "$seconds" offline_terminal input online
    segment "network up 10 s after the start, typing" counts "$seconds" "$seconds" late_terminal input online
    segment "a monitored site in Chromium" counts "$seconds" "$seconds" chromium_site input close_browser
    not_measured "the same site in Firefox" counts "not run on sway (time): read over the accessibility bus"
    segment "a video in Chromium, no input" counts "$seconds" "$seconds" chromium_video nothing close_browser
    segment "music only in Chromium, no input" "does not count" 0 "$seconds" chromium_music nothing close_browser
    segment "a game's inhibitor, away" "does not count" 0 "$seconds" game nothing close_unmonitored
    segment "an unmonitored app" "does not count" 0 "$away" unmonitored input close_unmonitored
    segment "away, no input" "does not count" 0 "$away" terminal nothing nothing
    # sway's idle protocol says nothing while a window in view holds an idle inhibitor, music or film alike.
    segment "away, a film in a tile beside" "does not count" 0 "$away" film_beside nothing close_unmonitored
    segment "typing, a film in a tile beside" counts "$away" "$away" film_beside input close_unmonitored
    not_measured "a player resetting the idle counter" "does not count" "no X idle counter on Wayland"
    local same="not run on sway (time): logind's state and the clock's jump, the same code as on X11"
    not_measured "locked, no input" "does not count" "$same"
    not_measured "another session active, typing" "does not count" "$same"
    not_measured "asleep (agent stopped), typing" "does not count" "$same"
}
