#!/usr/bin/python3
# A Secret Service on the session bus that takes the name and never answers in time: every call waits
# 30 seconds. For the tests of a keyring that answers slowly.
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


class SlowService(dbus.service.Object):
    @dbus.service.method("org.freedesktop.Secret.Service", in_signature="sv", out_signature="vo")
    def OpenSession(self, algorithm, argument):
        time.sleep(30)
        return dbus.String("", variant_level=1), dbus.ObjectPath("/")


service = SlowService(bus, "/org/freedesktop/secrets")
name = dbus.service.BusName("org.freedesktop.secrets", bus)
GLib.MainLoop().run()
