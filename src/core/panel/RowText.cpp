#include "core/panel/RowText.h"

#include "core/util/Graphemes.h"

#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace RowText {
QString lineBadge(const QString& text) {
    const QString trimmed = text.trimmed();
    const qsizetype lines = trimmed.count(u'\n') + 1;
    return lines >= 2 ? u"+"_s + QString::number(lines - 1) : QString();
}

QString rowTooltip(const QString& text, bool reorderable) {
    if (Graphemes::exceeds(text, tooltipThreshold)) {
        // Cut at a character boundary, never inside a cluster.
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype end = 0;
        for (qsizetype n = 0; n < tooltipLength; ++n) {
            const qsizetype next = finder.toNextBoundary();
            if (next == -1)
                break;
            end = next;
        }
        return text.left(end);
    }
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
