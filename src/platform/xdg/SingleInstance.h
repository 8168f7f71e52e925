#pragma once

#include <QLockFile>
#include <QString>

// Keeps a second Tindrel on the same store from running: two would overwrite
// each other's clips. The first holds a lock file beside the store; a later
// start finds it taken and hands its request to the first over the session
// bus instead.
class SingleInstance {
public:
    explicit SingleInstance(const QString& lockPath);

    // The lock's path for a store file: beside it.
    static QString lockPathFor(const QString& storePath);

    // Takes the lock; false when another process holds it (or it cannot be
    // taken at all).
    bool claim();

private:
    QLockFile m_lock;
};
