#pragma once

#include "core/store/StoreContents.h"

#include <QByteArray>
#include <QString>
#include <expected>
#include <optional>

// The store file's JSON: one object with "history", "pinned" and "unpinned",
// pretty-printed with sorted keys. Clip dates count from 2001, the "unpinned"
// stamps from 1970.
namespace StoreCodec {
QByteArray encode(const StoreContents& contents);

enum class Unpinned { Read, Ignore };
// Fails with a short reason when the bytes are not such an object; "history"
// and "pinned" are required, "unpinned" is optional. With keptHistory, the
// history holds only its first keptHistory clips whose text is not empty:
// the clips after them are checked as thoroughly, but not built.
std::expected<StoreContents, QString> decode(const QByteArray& bytes,
                                             Unpinned unpinned = Unpinned::Read,
                                             std::optional<qsizetype> keptHistory = std::nullopt);
} // namespace StoreCodec
