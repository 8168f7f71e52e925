#pragma once

#include <QString>

// Why a backup could not be imported or exported. The description is a
// sentence for the user, shown after "Import failed: " or "Export failed: ".
struct BackupError {
    enum class Kind {
        Unreadable, // the file could not be opened or read
        TooLarge,   // larger than any backup we would write
        NotABackup, // not JSON, or not the store's format
        Unwritable, // export: the file could not be written
    };

    Kind kind;
    QString description;
};
