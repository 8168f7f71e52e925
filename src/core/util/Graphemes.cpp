#include "core/util/Graphemes.h"

#include <QTextBoundaryFinder>
#include <algorithm>

qsizetype Graphemes::count(QStringView text) {
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype clusters = 0;
    while (finder.toNextBoundary() != -1)
        ++clusters;
    return clusters;
}

bool Graphemes::exceeds(QStringView text, qsizetype limit) {
    if (limit < 0)
        return true;
    // A cluster holds at least one UTF-16 unit.
    if (text.size() <= limit)
        return false;
    // Clusters that start inside a prefix are clusters of the whole text, so
    // a prefix with more than `limit` of them settles the answer early.
    qsizetype prefix = limit + 1;
    for (;;) {
        prefix = std::min(text.size(), prefix * 2);
        // Half a surrogate pair would count as a character of its own.
        if (prefix < text.size() && text[prefix - 1].isHighSurrogate())
            ++prefix;
        const qsizetype counted = count(text.first(prefix));
        if (counted > limit)
            return true;
        if (prefix == text.size())
            return false;
    }
}
