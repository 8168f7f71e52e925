#!/usr/bin/env python3
# Prints the X server's time in milliseconds each time the CLIPBOARD selection
# of the display in DISPLAY gets a new owner, as the server stamps its XFixes
# report: the moment the owner change was made, not the later moment this
# watcher got round to reading it (a wall-clock stamp taken here would carry
# our own scheduling delay, and could even come before the other end's).
#   selection_watch.py          prints "ready", then one line per new owner
#   selection_watch.py --now    prints the server's time now and exits
# Xvfb and Xorg take their time from CLOCK_MONOTONIC, which all servers on
# one machine share: times from two displays can be subtracted. The time is
# 32 bits of milliseconds: take differences modulo 2^32.
import ctypes, sys

x11 = ctypes.CDLL("libX11.so.6")
xfixes = ctypes.CDLL("libXfixes.so.3")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCreateSimpleWindow.restype = ctypes.c_ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
    [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                        ctypes.POINTER(ctypes.c_int)]
xfixes.XFixesSelectSelectionInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                              ctypes.c_ulong]


class SelectionNotify(ctypes.Structure):
    # XFixesSelectionNotifyEvent; `timestamp` is the server's time when the
    # owner was set.
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("subtype", ctypes.c_int), ("owner", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("timestamp", ctypes.c_ulong),
                ("selection_timestamp", ctypes.c_ulong)]


class PropertyNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("atom", ctypes.c_ulong), ("time", ctypes.c_ulong), ("state", ctypes.c_int)]


PROPERTY_NOTIFY = 28
PROPERTY_CHANGE_MASK = 1 << 22
SET_SELECTION_OWNER_NOTIFY_MASK = 1
PROP_MODE_APPEND = 2


def server_now(display):
    # The server stamps a property change with its time: append nothing to
    # a property of a window of ours and read the stamp off the report.
    root = x11.XDefaultRootWindow(display)
    window = x11.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
    x11.XSelectInput(display, window, PROPERTY_CHANGE_MASK)
    atom = x11.XInternAtom(display, b"TINDREL_BENCH_NOW", 0)
    string = x11.XInternAtom(display, b"STRING", 0)
    x11.XChangeProperty(display, window, atom, string, 8, PROP_MODE_APPEND, b"", 0)
    event = ctypes.create_string_buffer(192)  # an XEvent is 24 longs
    while True:
        x11.XNextEvent(display, event)
        notify = PropertyNotify.from_buffer(event)
        if notify.type == PROPERTY_NOTIFY and notify.window == window:
            return notify.time


def main():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("selection_watch: cannot open the display")
    if sys.argv[1:] == ["--now"]:
        print(server_now(display))
        return
    event_base, error_base = ctypes.c_int(), ctypes.c_int()
    if not xfixes.XFixesQueryExtension(display, ctypes.byref(event_base),
                                       ctypes.byref(error_base)):
        sys.exit("selection_watch: no XFixes")
    clipboard = x11.XInternAtom(display, b"CLIPBOARD", 0)
    xfixes.XFixesSelectSelectionInput(display, x11.XDefaultRootWindow(display), clipboard,
                                      SET_SELECTION_OWNER_NOTIFY_MASK)
    x11.XFlush(display)
    print("ready", flush=True)
    event = ctypes.create_string_buffer(192)
    while True:
        x11.XNextEvent(display, event)
        notify = SelectionNotify.from_buffer(event)
        if notify.type == event_base.value:  # XFixesSelectionNotify
            print(notify.timestamp, flush=True)


if __name__ == "__main__":
    main()
