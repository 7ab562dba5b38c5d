#!/usr/bin/env python3
"""Asks an X window to close as a window manager would, with a WM_DELETE_WINDOW message (Qt
ignores `xdotool windowclose`). The message is an x86-64 XEvent's 24 longs: type, serial,
send_event, display, window, message_type, format, data. Usage: closewindow.py WINDOW_ID"""
import ctypes as c
import sys

x = c.CDLL("libX11.so.6")
x.XOpenDisplay.restype = c.c_void_p
x.XInternAtom.restype = c.c_ulong
d, w = c.c_void_p(x.XOpenDisplay(None)), int(sys.argv[1])
atom = lambda name: x.XInternAtom(d, name, 0)
event = (c.c_long * 24)(33, 0, 1, d.value, w, atom(b"WM_PROTOCOLS"), 32, atom(b"WM_DELETE_WINDOW"))
x.XSendEvent(d, c.c_ulong(w), 0, 0, event)
x.XFlush(d)
