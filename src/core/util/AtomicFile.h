#pragma once

#include <QByteArray>
#include <QString>
#include <expected>

// Replacing a file's whole content so that a crash leaves either the old or
// the new content, never a mix: the bytes go to a temporary file next to the
// target, which then takes the target's place. The file is private (0600).
namespace AtomicFile {
// Fails with the system's description of what went wrong.
std::expected<void, QString> write(const QString& path, const QByteArray& bytes);
} // namespace AtomicFile
