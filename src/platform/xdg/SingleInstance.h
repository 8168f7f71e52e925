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

    enum class Claim {
        Won,           // the lock is ours
        HeldByAnother, // a running process holds it
        // The lock file cannot be created (a read-only or full disk): that
        // says nothing about another instance.
        Unavailable,
    };
    Claim claim();
    // Why the lock could not be created, after Claim::Unavailable.
    const QString& problem() const { return m_problem; }

private:
    QString m_problem;
    QLockFile m_lock;
};
