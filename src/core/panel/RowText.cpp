#include "core/panel/RowText.h"

#include "core/util/Graphemes.h"

#include <QTextBoundaryFinder>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace RowText {
QString lineBadge(qsizetype lineCount) {
    return lineCount >= 2 ? u"+"_s + QString::number(lineCount - 1) : QString();
}

namespace {
// Where the first `clusters` characters of the text end, reading only as
// much of it as they need.
qsizetype endOfClusters(QStringView text, qsizetype clusters) {
    qsizetype window = clusters * 2;
    for (;;) {
        window = std::min(text.size(), window * 2);
        // Half a surrogate pair would end a character of its own.
        if (window < text.size() && text[window - 1].isHighSurrogate())
            ++window;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.first(window));
        qsizetype end = 0;
        qsizetype counted = 0;
        while (counted < clusters) {
            const qsizetype next = finder.toNextBoundary();
            // The window's own end is no boundary of the text: the cluster
            // there may go on past it.
            if (next == -1 || (next == window && window < text.size()))
                break;
            end = next;
            ++counted;
        }
        if (counted == clusters || window == text.size())
            return end;
    }
}
} // namespace

QString rowTooltip(const QString& text, bool reorderable) {
    if (Graphemes::exceeds(text, tooltipThreshold))
        return text.left(endOfClusters(text, tooltipLength));
    return reorderable ? u"Hold and drag to reorder"_s : QString();
}

QString pinButtonTooltip(bool pinned, bool pinDisabled) {
    if (pinned)
        return u"Unpin — moves back to Recent"_s;
    return pinDisabled ? u"Pin list is full"_s : u"Pin to top"_s;
}

QString shortcutLabel(std::optional<int> pinnedIndex, bool showHints,
                      PinnedShortcutModifier modifier, bool inPanelNumberKeys) {
    if (!showHints || !pinnedIndex || *pinnedIndex < 0 || *pinnedIndex > 9)
        return {};
    const quint32 key = KeyCombo::numberRow[static_cast<size_t>(*pinnedIndex)];
    if (modifier != PinnedShortcutModifier::disabled)
        return KeyCombo{key, modifierMask(modifier)}.displayString();
    if (inPanelNumberKeys)
        return KeyCombo{key, KeyCombo::Ctrl}.displayString();
    return {};
}
} // namespace RowText
