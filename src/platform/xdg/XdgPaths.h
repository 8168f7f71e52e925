#pragma once

#include <QString>

// Where Tindrel keeps its files, following the XDG base directory rules.
// Folders are created on demand with mode 0700; creation failures surface
// later as failed writes.
namespace XdgPaths {
QString configHome(); // $XDG_CONFIG_HOME or ~/.config
QString dataHome();   // $XDG_DATA_HOME or ~/.local/share
QString stateHome();  // $XDG_STATE_HOME or ~/.local/state

QString settingsFile(); // <config>/Tindrel/Tindrel.conf
QString storeFile();    // <data>/Tindrel/store.json
QString syncLogFile();  // <state>/Tindrel/sync.log
// <state>/Tindrel/sync-received: the clip frames lately taken from each device.
QString syncReceivedClipsFile();
// <data>/Tindrel/sync-outbox.json: the copies kept for devices that were away.
QString syncOutboxFile();
QString autostartDir(); // <config>/autostart

// Creates the folder and missing parents; the last component gets mode 0700.
bool ensurePrivateDir(const QString& path);
} // namespace XdgPaths
