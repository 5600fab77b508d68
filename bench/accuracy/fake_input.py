#!/usr/bin/env python3
"""A key press KWin sees as the user's: Shift through KWin's fake-input protocol.

KWin has no virtual-keyboard protocol (wtype does not work there); its own org_kde_kwin_fake_input
does, when KWin runs with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1. Speaks the Wayland wire protocol on
$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY itself, so no client library or generated code is needed.
Exits 1 when the compositor does not offer the protocol."""
import os
import socket
import struct
import sys

KEY_LEFTSHIFT = 42


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def message(obj, opcode, payload=b""):
    return struct.pack("<II", obj, (8 + len(payload)) << 16 | opcode) + payload


def events(sock, until_callback):
    """The registry's globals until the callback object's done event arrives."""
    found, buffer = {}, b""
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            sys.exit("the compositor closed the connection")
        buffer += chunk
        while len(buffer) >= 8:
            obj, word = struct.unpack_from("<II", buffer)
            size, opcode = word >> 16, word & 0xFFFF
            if len(buffer) < size:
                break
            body, buffer = buffer[8:size], buffer[size:]
            if obj == 2 and opcode == 0:  # wl_registry.global(name, interface, version)
                name, length = struct.unpack_from("<II", body)
                interface = body[8:8 + length - 1].decode()
                version = struct.unpack_from("<I", body, 8 + length + (-length % 4))[0]
                found[interface] = (name, version)
            elif obj == until_callback and opcode == 0:
                return found
            elif obj == 1 and opcode == 0:  # wl_display.error
                sys.exit("protocol error: %r" % body)


def main():
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(5)
    sock.connect(path)
    # wl_display.get_registry(2), wl_display.sync(3)
    sock.sendall(message(1, 1, struct.pack("<I", 2)) + message(1, 0, struct.pack("<I", 3)))
    found = events(sock, 3)
    if "org_kde_kwin_fake_input" not in found:
        sys.exit(1)
    name, version = found["org_kde_kwin_fake_input"]
    fake = 4
    out = message(2, 0, struct.pack("<I", name) + string("org_kde_kwin_fake_input") + struct.pack("<II", min(version, 4), fake))
    out += message(fake, 0, string("fennimar accuracy bench") + string("the scripted day's input"))
    if version >= 4:  # keyboard_key(key, pressed), then released
        out += message(fake, 10, struct.pack("<II", KEY_LEFTSHIFT, 1)) + message(fake, 10, struct.pack("<II", KEY_LEFTSHIFT, 0))
    else:  # pointer_motion(1, 0) and back
        out += message(fake, 1, struct.pack("<ii", 256, 0)) + message(fake, 1, struct.pack("<ii", -256, 0))
    sock.sendall(out + message(1, 0, struct.pack("<I", 5)))  # wl_display.sync(5): all of it handled
    events(sock, 5)


main()
