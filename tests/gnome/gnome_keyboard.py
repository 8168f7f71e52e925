#!/usr/bin/python3
# The keyboard of the headless GNOME session. A headless mutter's seat has no
# keyboard until a client of its RemoteDesktop API sends a key: before that
# Wayland clients never get the keyboard focus and the Shell sees no presses.
# This helper opens one remote-desktop session, keeps it open for as long as
# it runs (mutter closes it with the helper's bus connection), and presses
# chords for the tests:
#   gdbus call --session -d io.tindrel.TestKeyboard -o /io/tindrel/TestKeyboard \
#       -m io.tindrel.TestKeyboard.Press "ctrl+alt+v"
# Press answers once every key of the chord is down and up again.
import sys
import time

from gi.repository import Gio, GLib

MUTTER = "org.gnome.Mutter.RemoteDesktop"
NAME = "io.tindrel.TestKeyboard"
PATH = "/io/tindrel/TestKeyboard"
INTERFACE = """
<node>
  <interface name="io.tindrel.TestKeyboard">
    <method name="Press">
      <arg type="s" name="chord" direction="in"/>
    </method>
  </interface>
</node>
"""

# Short names for the modifiers; any other key is an X keysym name or one
# printable character.
ALIASES = {"ctrl": "Control_L", "alt": "Alt_L", "shift": "Shift_L", "super": "Super_L"}
KEYSYMS = {
    "Control_L": 0xFFE3, "Alt_L": 0xFFE9, "Shift_L": 0xFFE1, "Super_L": 0xFFEB,
    "Return": 0xFF0D, "Escape": 0xFF1B, "Tab": 0xFF09, "BackSpace": 0xFF08,
    "Insert": 0xFF63, "Delete": 0xFFFF, "Home": 0xFF50, "End": 0xFF57,
    "Left": 0xFF51, "Up": 0xFF52, "Right": 0xFF53, "Down": 0xFF54, "space": 0x20,
}
KEYSYMS.update({f"F{n}": 0xFFBE + n - 1 for n in range(1, 13)})


def keysym(word):
    word = ALIASES.get(word.lower(), word)
    if word in KEYSYMS:
        return KEYSYMS[word]
    if len(word) == 1 and 0x20 < ord(word) < 0x7F:
        return ord(word.lower())
    raise ValueError(f"unknown key {word!r}")


bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None, reply=None):
    return bus.call_sync(MUTTER, path, interface, method, args,
                         GLib.VariantType(reply) if reply else None,
                         Gio.DBusCallFlags.NONE, 10000, None)


session = call("/org/gnome/Mutter/RemoteDesktop", MUTTER, "CreateSession",
               None, "(o)").unpack()[0]
call(session, MUTTER + ".Session", "Start")


def key(sym, down):
    call(session, MUTTER + ".Session", "NotifyKeyboardKeysym",
         GLib.Variant("(ub)", (sym, down)))
    # mutter reads modifiers from the events it has processed: a chord sent
    # in one burst may reach the Shell with its modifiers still up.
    time.sleep(0.02)


def press(chord):
    syms = [keysym(word) for word in chord.split("+") if word]
    for sym in syms:
        key(sym, True)
    for sym in reversed(syms):
        key(sym, False)


# The first key gives the seat its keyboard; Shift alone does nothing else.
press("shift")


def on_call(_conn, _sender, _path, _iface, method, params, invocation):
    if method == "Press":
        try:
            press(params.unpack()[0])
        except (ValueError, GLib.Error) as error:
            invocation.return_dbus_error("io.tindrel.TestKeyboard.Error", str(error))
            return
        invocation.return_value(None)


node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
bus.register_object(PATH, node.interfaces[0], on_call, None, None)
loop = GLib.MainLoop()


def on_name(_conn, _name):
    print("keyboard ready", session, flush=True)


Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, on_name,
                               lambda *_: loop.quit())
# Mutter ends the session when the Shell goes: nothing left to press into.
bus.signal_subscribe(MUTTER, MUTTER + ".Session", "Closed", session, None,
                     Gio.DBusSignalFlags.NONE, lambda *_: loop.quit())
loop.run()
sys.exit(0)
