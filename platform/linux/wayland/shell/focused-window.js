// The part of the Fennimar agent's GNOME Shell extension that both of its forms share (a plain
// script up to GNOME Shell 44, an ES module from 45): GNOME Shell shows the focused window to no
// other client on Wayland. Exports, on the Shell's own session-bus connection, the app of the
// focused window (the Shell's desktop id, "window:N" when it matches none), its WM_CLASS, its pid
// and its title, and a signal on every change of focus and of the focused window's title (which
// tells the agent which of a browser's windows is in front).
const IFACE = `<node><interface name="app.fennimar.Agent.FocusedWindow">
  <method name="Get"><arg type="(sssxs)" direction="out" name="window"/></method>
  <method name="About"><arg type="s" direction="out" name="version"/><arg type="s" direction="out" name="sha256"/></method>
  <signal name="Changed"><arg type="(sssxs)" name="window"/></signal>
</interface></node>`;
const PATH = '/app/fennimar/Agent/FocusedWindow';
const VERSION = '3';

// The SHA-256 of extension.js in dir as the Shell loads it (called at load, not at enable: the
// agent may have replaced the file since), so the agent can tell whether the code running is its own.
function loadedHash(dir) {
    try {
        const [, bytes] = Gio.File.new_for_path(`${dir}/extension.js`).load_contents(null);
        return GLib.compute_checksum_for_data(GLib.ChecksumType.SHA256, bytes);
    } catch (e) {
        return '';
    }
}

const focusedWindow = {
    enable() {
        this._tracker = Shell.WindowTracker.get_default();
        this._dbus = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
        this._dbus.export(Gio.DBus.session, PATH);
        this._focus = global.display.connect('notify::focus-window', () => this._follow());
        this._follow();
    },

    disable() {
        global.display.disconnect(this._focus);
        this._unfollow();
        this._dbus.unexport();
        this._dbus = null;
    },

    Get() {
        return new GLib.Variant('((sssxs))', [this._window()]);
    },

    About() {
        return new GLib.Variant('(ss)', [VERSION, this._hash]);
    },

    // Reports the focused window and follows its title until the focus moves.
    _follow() {
        this._unfollow();
        const w = global.display.focus_window;
        if (w)
            this._titled = [w, w.connect('notify::title', () => this._changed())];
        this._changed();
    },

    _unfollow() {
        if (!this._titled)
            return;
        const [w, id] = this._titled;
        this._titled = null;
        try {
            w.disconnect(id);
        } catch (e) {
            // The window is gone, and its signals with it.
        }
    },

    _changed() {
        this._dbus.emit_signal('Changed', new GLib.Variant('((sssxs))', [this._window()]));
    },

    _window() {
        const w = global.display.focus_window;
        if (!w)
            return ['', '', '', 0, ''];
        const app = this._tracker.get_window_app(w);
        return [app ? app.get_id() : '', w.get_wm_class() || '', w.get_wm_class_instance() || '', w.get_pid(),
            w.get_title() || ''];
    },
};
