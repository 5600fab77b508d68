# Sourced by footprint.sh inside a private desktop session: starts one peer the way its users run it,
# against nothing outside the session, and sets `roots` (the peer's own processes, measured with
# their children) and `helpers` (what the harness started around it, stopped at the end, never
# measured). On failure it says why (`skip`) and returns 1.
#   ActivityWatch: $AW_SRC, a directory holding checkouts of aw-core, aw-client, aw-server,
#     aw-watcher-window, aw-watcher-afk, flask-restx and timeslot (bench/README.md says how),
#     run with Debian's Python packages for the rest.
#   Timekpr-nExT: Debian's timekpr-next; its daemon talks to logind on the system bus, so it gets a
#     private system bus with logind-standin.py on it, and (being a root daemon that reads
#     /etc/timekpr and /etc/login.defs) a private mount namespace in which those are bound over.

peer_python=/usr/bin/python3  # Debian's interpreter, which sees Debian's Python packages

start_activitywatch() {
    local src=${AW_SRC:-} d path="" port missing
    [ -n "$src" ] || { skip "AW_SRC is not set (see bench/README.md)"; return 1; }
    for d in aw-core aw-client aw-server aw-watcher-window aw-watcher-afk flask-restx timeslot/src; do
        [ -d "$src/$d" ] || { skip "$src/$d is missing (see bench/README.md)"; return 1; }
        path=$path${path:+:}$src/$d
    done
    missing=$("$peer_python" -c 'import importlib.util as u, sys
print(" ".join(n for n in sys.argv[1:] if u.find_spec(n) is None))' flask flask_cors peewee jsonschema Xlib iso8601 \
        requests tomlkit platformdirs deprecation persistqueue click tabulate typing_extensions pynput aniso8601 pytz)
    [ -z "$missing" ] || { skip "Python modules missing: $missing (apt-get install python3-flask python3-flask-cors\
 python3-peewee python3-jsonschema python3-xlib python3-iso8601 python3-requests python3-tomlkit python3-platformdirs\
 python3-deprecation python3-persist-queue python3-click python3-tabulate python3-typing-extensions python3-pynput\
 python3-aniso8601 python3-tz)"; return 1; }
    port=$("$peer_python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    export PYTHONPATH=$path
    "$peer_python" -m aw_server --host 127.0.0.1 --port "$port" >"$out.aw-server" 2>&1 &
    roots=($!)
    for _ in $(seq 300); do
        curl -sf "http://127.0.0.1:$port/api/0/info" >/dev/null 2>&1 && break
        kill -0 "${roots[0]}" 2>/dev/null || { skip "aw-server ended: $(tail -n 1 "$out.aw-server")"; return 1; }
        sleep 0.1
    done
    "$peer_python" -m aw_watcher_window --host 127.0.0.1 --port "$port" >"$out.aw-watcher-window" 2>&1 &
    roots+=($!)
    "$peer_python" -m aw_watcher_afk --host 127.0.0.1 --port "$port" >"$out.aw-watcher-afk" 2>&1 &
    roots+=($!)
    helpers=()
}

start_timekpr() {
    local dir=$HOME/timekpr user
    [ -x /usr/bin/timekprd ] || { skip "timekpr-next is not installed (apt-get install timekpr-next)"; return 1; }
    [ "$(id -u)" = 0 ] || { skip "its daemon runs as root (here in a private mount namespace)"; return 1; }
    user=$(id -un)
    mkdir -p "$dir/etc" "$dir/config" "$dir/work" "$dir/log"
    sed -e "s#^TIMEKPR_CONFIG_DIR = .*#TIMEKPR_CONFIG_DIR = $dir/config#" \
        -e "s#^TIMEKPR_WORK_DIR = .*#TIMEKPR_WORK_DIR = $dir/work#" \
        -e "s#^TIMEKPR_LOGFILE_DIR = .*#TIMEKPR_LOGFILE_DIR = $dir/log#" /etc/timekpr/timekpr.conf >"$dir/etc/timekpr.conf"
    # The daemon follows only users from UID_MIN up; the session's user may be root.
    sed 's/^UID_MIN.*/UID_MIN 0/' /etc/login.defs >"$dir/login.defs"
    cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$dir/system_bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
EOF
    dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile >"$out.timekpr-bus" 2>&1 &
    helpers=($!)
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/system_bus
    for _ in $(seq 100); do [ -S "$dir/system_bus" ] && break; sleep 0.1; done
    "$peer_python" "$here/logind-standin.py" "$(id -u)" "$user" >"$out.logind" 2>&1 &
    helpers+=($!)
    for _ in $(seq 100); do grep -q ready "$out.logind" 2>/dev/null && break; sleep 0.1; done
    grep -q ready "$out.logind" || { skip "the logind stand-in did not start: $(tail -n 1 "$out.logind")"; return 1; }
    # unshare and sh exec, so the daemon keeps the pid started here.
    unshare -m sh -c "mount --bind '$dir/etc' /etc/timekpr && mount --bind '$dir/login.defs' /etc/login.defs &&
        exec $peer_python /usr/lib/python3/dist-packages/timekpr/server/timekprd.py" >"$out.timekprd" 2>&1 &
    roots=($!)
    for _ in $(seq 300); do
        grep -q 'get time for' "$dir/log/"*.log 2>/dev/null && break
        kill -0 "${roots[0]}" 2>/dev/null || { skip "timekprd ended: $(tail -n 1 "$out.timekprd")"; return 1; }
        sleep 0.1
    done
    # The client shows the time left in the tray (a Gtk status icon in trayer) and notifies.
    trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
    helpers+=($!)
    sleep 1
    "$peer_python" /usr/lib/python3/dist-packages/timekpr/client/timekprc.py >"$out.timekprc" 2>&1 &
    roots+=($!)
}
