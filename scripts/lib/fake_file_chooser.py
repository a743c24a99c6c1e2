#!/usr/bin/python3
"""A stand-in for xdg-desktop-portal's FileChooser, for scripts/portal-check.sh.

Owns org.freedesktop.portal.Desktop on the session bus and answers like a
sandboxed desktop would: OpenFile with OPEN_FILE exported through the real
document portal (a /run/user/<uid>/doc/<id>/<name> path), SaveFile with a new
document in SAVE_FOLDER under the proposed name. Every call's title and
options go to LOG, one JSON object a line, for the check to compare.

    fake_file_chooser.py OPEN_FILE SAVE_FOLDER LOG
"""
import json
import os
import sys
import urllib.parse

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DOCUMENTS = "org.freedesktop.portal.Documents"


def plain(value):
    """D-Bus values as JSON: byte arrays as text without their final NUL."""
    if isinstance(value, dbus.Array) and value.signature == "y":
        return bytes(value).rstrip(b"\0").decode(errors="replace")
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.UInt32, dbus.Int32, dbus.Byte)):
        return int(value)
    return str(value)


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        pass


class FileChooser(dbus.service.Object):
    def __init__(self, bus, open_file, save_folder, log):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.open_file = open_file
        self.save_folder = save_folder
        self.log = log
        self.requests = []
        self.documents = bus.get_object(DOCUMENTS, "/org/freedesktop/portal/documents")
        mount = self.documents.GetMountPoint(dbus_interface=DOCUMENTS, byte_arrays=True)
        self.mount = bytes(mount).rstrip(b"\0").decode()

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == "org.freedesktop.portal.FileChooser" and name == "version":
            return dbus.UInt32(3)
        raise dbus.exceptions.DBusException(
            "no property " + name, name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method("org.freedesktop.portal.FileChooser", in_signature="ssa{sv}",
                         out_signature="o", sender_keyword="sender")
    def OpenFile(self, parent, title, options, sender=None):
        self.record("OpenFile", title, options)
        fd = os.open(self.open_file, os.O_PATH | os.O_CLOEXEC)
        try:
            doc = self.documents.Add(dbus.types.UnixFd(fd), True, False,
                                     dbus_interface=DOCUMENTS)
        finally:
            os.close(fd)
        return self.answer(sender, options,
                           os.path.join(self.mount, doc, os.path.basename(self.open_file)))

    @dbus.service.method("org.freedesktop.portal.FileChooser", in_signature="ssa{sv}",
                         out_signature="o", sender_keyword="sender")
    def SaveFile(self, parent, title, options, sender=None):
        self.record("SaveFile", title, options)
        name = str(options.get("current_name", "untitled"))
        fd = os.open(self.save_folder, os.O_PATH | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            doc = self.documents.AddNamed(dbus.types.UnixFd(fd),
                                          dbus.ByteArray(name.encode() + b"\0"), True, False,
                                          dbus_interface=DOCUMENTS)
        finally:
            os.close(fd)
        return self.answer(sender, options, os.path.join(self.mount, doc, name))

    def record(self, call, title, options):
        with open(self.log, "a", encoding="utf-8") as log:
            log.write(json.dumps({"call": call, "title": str(title),
                                  "options": plain(options)}) + "\n")

    def answer(self, sender, options, path):
        token = str(options.get("handle_token", "kavlo"))
        handle = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender[1:].replace(".", "_"), token)
        request = Request(self.bus, handle)
        self.requests.append(request)
        uri = "file://" + urllib.parse.quote(path)

        def respond():
            request.Response(dbus.UInt32(0),
                             dbus.Dictionary({"uris": dbus.Array([uri], signature="s")},
                                             signature="sv"))
            return False

        # The caller subscribes to the Response once it has the handle.
        GLib.timeout_add(300, respond)
        return handle


def main():
    open_file, save_folder, log = sys.argv[1:4]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    chooser = FileChooser(bus, open_file, save_folder, log)
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
    print("fake file chooser ready, documents at " + chooser.mount, flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
