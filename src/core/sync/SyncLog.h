#pragma once

#include <QString>

// The diagnostic log of sync: one timestamped line per event, appended by a
// background thread of its own so that no caller ever waits for the disk.
// Runs of one message shrink to four lines; the file starts over once it
// passes 512 KiB. Every failure is ignored: the log must never take sync
// down with it.
namespace SyncLog {
// Queues one line; callable from any thread, returns at once. Line breaks
// inside the message become spaces, so one call is always one line.
void write(const QString& message);
// Where lines go from now on (the app passes the state folder's sync.log);
// the folder is created once, here. Until a path is set lines are dropped.
void setFilePath(const QString& path);
// Waits until everything queued before the call is written (or dropped).
void flush();
} // namespace SyncLog
