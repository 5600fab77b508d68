# The X11 day (Xvfb + openbox, inside scripts/desktop-session.sh), sourced by day.sh. As on Xfce,
# LXQt, MATE and Cinnamon, a desktop daemon (fake_screensaver) owns org.freedesktop.ScreenSaver and
# org.freedesktop.PowerManagement and lists its inhibitors to no one: the agent sees only the calls.
terminal_app=linux:debian-xterm
"$ACC_FAKE_SCREENSAVER" >"$HOME/screensaver.out" 2>&1 &
children+=($!)
for _ in $(seq 100); do grep -q ready "$HOME/screensaver.out" && break; sleep 0.1; done
grep -q ready "$HOME/screensaver.out" || { echo "fake_screensaver did not start" >&2; exit 1; }
# A game: ffplay, whose SDL takes "Playing a game" from that service, installed as an app of its
# own (an entry of a folder only root can change, as the agent trusts for a program root owns), not
# in the Game category: the reason alone must keep it from counting.
game_app=linux:fennimar-bench-game
mkdir -p -m 755 "$HOME/system/applications"
printf '[Desktop Entry]\nType=Application\nName=Bench game\nExec=/usr/bin/ffplay\n' \
    >"$HOME/system/applications/fennimar-bench-game.desktop"
export XDG_DATA_DIRS=$HOME/system:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
xterm=""
for _ in $(seq 300); do
    xterm=$(xdotool search --onlyvisible --name "Fennimar session" 2>/dev/null | head -n 1) && [ -n "$xterm" ] && break
    sleep 0.2
done
[ -n "$xterm" ] || { echo "the session's xterm did not appear" >&2; exit 1; }
front() { for _ in $(seq 30); do xdotool windowactivate "$1" >/dev/null 2>&1; [ "$(xdotool getactivewindow)" = "$1" ] && return 0; sleep 0.5; done; }
input() { xdotool mousemove_relative -- 1 0 mousemove_relative -- -1 0 key shift >/dev/null 2>&1 || true; }
# A player's heartbeat: the X idle counter reset, with no input (what mpv does every 10 s).
reset_counter() {
    python3 -c 'import ctypes, ctypes.util
x = ctypes.CDLL(ctypes.util.find_library("X11")); x.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None)); x.XResetScreenSaver(d); x.XCloseDisplay(d)'
}
terminal() { front "$xterm"; }
other=""
unmonitored() {  # a window of no installed app
    local window=""
    xmessage -name unmonitored "not monitored" &
    other=$!
    # Searched again until found, not --sync: a window closing meanwhile (the game's) fails a search.
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --classname unmonitored 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.1
    done
    front "$window"
}
close_unmonitored() { kill "$other" 2>/dev/null || true; }
in_browser() {  # chromium|firefox PAGE: in front, its page loaded and readable
    local window=""
    open_browser "$1" "$2"
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --pid "$browser" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.1
    done
    front "$window"
    sleep 5  # the page loads and its accessibility tree is built
}
chromium_site() { in_browser chromium index.html; }
firefox_site() { in_browser firefox index.html; }
chromium_video() { in_browser chromium film.html; }
firefox_video() { in_browser firefox film.html; }
# Where the desktop lists no inhibitor the agent knows only the calls made while it runs: the film
# and the game start at the segment's first step, once it does.
play() { [ "$step" -gt 0 ] || xdotool key space; }
game() {
    [ "$step" -eq 0 ] || return 0
    ffplay -loglevel quiet -an -loop 0 -window_title Game "$ACC_SITE/video.webm" &
    other=$!
    children+=("$other")
    front "$(xdotool search --sync --onlyvisible --pid "$other" | head -n 1)"
}
chromium_music() { in_browser chromium music.html; }
lock_terminal() { terminal; lock; }
switch_terminal() { terminal; switch_out; }

run_day() {
    segment "typing in a monitored app" counts "$seconds" "$seconds" terminal input nothing
    segment "offline all along, typing" counts "$seconds" "$seconds" offline_terminal input online
    segment "network up 10 s after the start, typing" counts "$seconds" "$seconds" late_terminal input online
    segment "a monitored site in Chromium" counts "$seconds" "$seconds" chromium_site input close_browser
    segment "the same site in Firefox" counts "$seconds" "$seconds" firefox_site input close_browser
    segment "a video in Chromium, no input" counts "$seconds" "$seconds" chromium_video play close_browser
    segment "the same video in Firefox, no input" counts "$seconds" "$seconds" firefox_video play close_browser
    not_measured "a Flatpak player's video, no input" counts \
        "no Flatpak here: its calls come through its bus proxy, matched by the app's Flatpak id"
    segment "music only in Chromium, no input" "does not count" 0 "$seconds" chromium_music nothing close_browser
    segment "a game's inhibitor, away" "does not count" 0 "$seconds" terminal game close_unmonitored
    segment "an unmonitored app" "does not count" 0 "$away" unmonitored input close_unmonitored
    segment "away, no input" "does not count" 0 "$away" terminal nothing nothing
    segment "a player resetting the idle counter" "does not count" 0 "$seconds" terminal reset_counter nothing
    segment "locked, no input" "does not count" 0 "$short" lock_terminal nothing unlock
    segment "another session active, typing" "does not count" 0 "$short" switch_terminal input switch_in
    segment "asleep (agent stopped), typing" "does not count" 0 "$short" terminal asleep nothing
}
