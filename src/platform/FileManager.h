#pragma once

#include <QString>

// The desktop's file manager.
class FileManager {
public:
    virtual ~FileManager() = default;

    // Opens the folder holding `path` with the file selected where the file
    // manager can; returns at once, whatever the file manager takes.
    virtual void reveal(const QString& path) = 0;
};
