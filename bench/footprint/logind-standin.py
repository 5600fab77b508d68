#!/usr/bin/python3
# A stand-in for systemd-logind on a private system bus, just enough for Timekpr-nExT's daemon to
# see one active, non-idle X11 session of the given user: the Manager's ListUsers/ListSessions/
# GetSeat, and the properties of that user, session and seat. Nothing is ever locked or ended.
#   logind-standin.py UID NAME
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

uid, name = int(sys.argv[1]), sys.argv[2]
L1 = "org.freedesktop.login1"
ROOT = "/org/freedesktop/login1"
USER, SESSION, SEAT = f"{ROOT}/user/_{uid}", f"{ROOT}/session/_31", f"{ROOT}/seat/seat0"
PROPS = {
    USER: (f"{L1}.User", {"UID": dbus.UInt32(uid), "Name": name, "State": "active", "IdleHint": False,
                          "Sessions": dbus.Array([("1", dbus.ObjectPath(SESSION))], signature="(so)")}),
    SESSION: (f"{L1}.Session", {"Id": "1", "Name": name, "Type": "x11", "Class": "user", "State": "active",
                                "Active": True, "Remote": False, "IdleHint": False, "LockedHint": False,
                                "VTNr": dbus.UInt32(7), "Seat": ("seat0", dbus.ObjectPath(SEAT)),
                                "User": (dbus.UInt32(uid), dbus.ObjectPath(USER))}),
    SEAT: (f"{L1}.Seat", {"Id": "seat0"}),
}


class Object(dbus.service.Object):
    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return PROPS[self._object_path][1][prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return PROPS[self._object_path][1]

    @dbus.service.method(f"{L1}.Manager", in_signature="", out_signature="a(uso)")
    def ListUsers(self):
        return [(dbus.UInt32(uid), name, dbus.ObjectPath(USER))]

    @dbus.service.method(f"{L1}.Manager", in_signature="", out_signature="a(susso)")
    def ListSessions(self):
        return [("1", dbus.UInt32(uid), name, "seat0", dbus.ObjectPath(SESSION))]

    @dbus.service.method(f"{L1}.Manager", in_signature="s", out_signature="o")
    def GetSeat(self, seat):
        return dbus.ObjectPath(SEAT)

    @dbus.service.method(f"{L1}.Session", in_signature="", out_signature="")
    def Lock(self):
        pass


DBusGMainLoop(set_as_default=True)
bus = dbus.SystemBus()
owned = dbus.service.BusName(L1, bus)
objects = [Object(bus, path) for path in (ROOT, USER, SESSION, SEAT)]
print("ready", flush=True)
GLib.MainLoop().run()
