#pragma once

#include <QString>
#include <chrono>

struct wl_display;

// What every connection of ours to the compositor shares: opening it with a
// reason when that fails, and the bounded wait used while setting one up.
namespace WaylandClient {
// A new connection to `display` (a socket name or path; empty means
// WAYLAND_DISPLAY), or null with the reason in `why`.
wl_display* open(const QString& display, QString* why);
// Waits for the compositor to answer everything sent so far, for at most
// `timeout`: used only while connecting, before any window exists.
bool roundtrip(wl_display* display, std::chrono::milliseconds timeout);
// Reads and handles what the compositor sent; false when the connection broke.
bool dispatch(wl_display* display);
// Sends what is queued; false when the connection broke. Our messages are a
// few bytes, so a full socket buffer (the compositor hangs) is not an error:
// the next call sends them.
bool flush(wl_display* display);
} // namespace WaylandClient
