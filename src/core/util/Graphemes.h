#pragma once

#include <QStringView>

// Counting user-perceived characters (extended grapheme clusters), the unit
// every length limit of the program is stated in.
namespace Graphemes {
qsizetype count(QStringView text);

// Whether the text has more than `limit` characters. Looks only at as much
// of the text as it needs, so a limit check on a huge text stays cheap.
bool exceeds(QStringView text, qsizetype limit);
} // namespace Graphemes
