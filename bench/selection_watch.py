#!/usr/bin/env python3
# Prints the wall-clock time in nanoseconds (as `date +%s%N` counts) each time
# the CLIPBOARD selection of the display in DISPLAY gets a new owner, as the
# X server reports it through XFixes: the moment a text is on that clipboard,
# without polling it.
import ctypes, sys, time

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
xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                        ctypes.POINTER(ctypes.c_int)]
xfixes.XFixesSelectSelectionInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                              ctypes.c_ulong]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("selection_watch: cannot open the display")
event_base, error_base = ctypes.c_int(), ctypes.c_int()
if not xfixes.XFixesQueryExtension(display, ctypes.byref(event_base), ctypes.byref(error_base)):
    sys.exit("selection_watch: no XFixes")
clipboard = x11.XInternAtom(display, b"CLIPBOARD", 0)
SET_SELECTION_OWNER_NOTIFY_MASK = 1
xfixes.XFixesSelectSelectionInput(display, x11.XDefaultRootWindow(display), clipboard,
                                  SET_SELECTION_OWNER_NOTIFY_MASK)
x11.XFlush(display)
print("ready", flush=True)
event = ctypes.create_string_buffer(192)  # an XEvent is 24 longs
while True:
    x11.XNextEvent(display, event)
    if ctypes.c_int.from_buffer(event).value == event_base.value:  # XFixesSelectionNotify
        print(time.time_ns(), flush=True)
