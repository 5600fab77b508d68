// The part of the Fennimar agent's GNOME Shell extension that both of its forms share (a plain
// script up to GNOME Shell 44, an ES module from 45): GNOME Shell shows the focused window to no
// other client on Wayland. Exports, on the Shell's own session-bus connection, the app of the
// focused window (the Shell's desktop id, "window:N" when it matches none), its WM_CLASS and its
// pid, and a signal on every change of focus.
const IFACE = `<node><interface name="app.fennimar.Agent.FocusedWindow">
  <method name="Get"><arg type="(sssx)" direction="out" name="window"/></method>
  <signal name="Changed"><arg type="(sssx)" name="window"/></signal>
</interface></node>`;
const PATH = '/app/fennimar/Agent/FocusedWindow';

const focusedWindow = {
    enable() {
        this._tracker = Shell.WindowTracker.get_default();
        this._dbus = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
        this._dbus.export(Gio.DBus.session, PATH);
        this._focus = global.display.connect('notify::focus-window', () =>
            this._dbus.emit_signal('Changed', new GLib.Variant('((sssx))', [this._window()])));
    },

    disable() {
        global.display.disconnect(this._focus);
        this._dbus.unexport();
        this._dbus = null;
    },

    Get() {
        return new GLib.Variant('((sssx))', [this._window()]);
    },

    _window() {
        const w = global.display.focus_window;
        if (!w)
            return ['', '', '', 0];
        const app = this._tracker.get_window_app(w);
        return [app ? app.get_id() : '', w.get_wm_class() || '', w.get_wm_class_instance() || '', w.get_pid()];
    },
};
