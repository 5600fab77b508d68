# The start of a Wayland day's session, shared by sway.sh, kwin.sh and gnome.sh: each sources it as
# the first step of "bash DAY.sh --session COMMAND...". Under root the day's script runs again as
# nobody (with a copy of the admin token); then "--session" is shifted away and the session gets a
# home, data, config, state, cache and runtime directories of its own under SESSION_HOME, with no
# display of the caller's.
# Sourced, not called as a function: a function has positional parameters of its own, so its
# "shift" would leave "--session" in front of the day's command and its "$@" would not be the
# script's, and ${BASH_SOURCE[0]} inside it names this file, not the script to run again as nobody.
# A sourced file shares the script's parameters; BASH_SOURCE[1] is the script that sourced it.
set -euo pipefail
mkdir -p "$SESSION_HOME"
SESSION_HOME=$(cd "$SESSION_HOME" && pwd)
if [ "$(id -u)" -eq 0 ]; then
    cp "$ACCURACY_ADMIN_TOKEN_FILE" "$SESSION_HOME/admin-token"
    chmod 711 "$(dirname "$SESSION_HOME")"
    chown -R 65534:65534 "$SESSION_HOME"
    ACCURACY_ADMIN_TOKEN_FILE=$SESSION_HOME/admin-token exec setpriv --reuid=65534 --regid=65534 --clear-groups \
        bash "${BASH_SOURCE[1]}" "$@"
fi
shift
export HOME="$SESSION_HOME/home" XDG_DATA_HOME="$SESSION_HOME/home/.local/share"
export XDG_CONFIG_HOME="$SESSION_HOME/home/.config" XDG_STATE_HOME="$SESSION_HOME/home/.local/state"
export XDG_CACHE_HOME="$SESSION_HOME/home/.cache" XDG_RUNTIME_DIR="$SESSION_HOME/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK GNOME_KEYRING_CONTROL
