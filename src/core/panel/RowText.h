#pragma once

#include "core/prefs/PinnedShortcutModifier.h"

#include <QString>
#include <optional>

// The words a clip row shows besides its preview: line badge, tooltips and
// the shortcut hint of a pinned row.
namespace RowText {
inline constexpr qsizetype tooltipThreshold = 80; // longer texts show themselves
inline constexpr qsizetype tooltipLength = 400;

// "+N" for a clip of N + 1 lines (Clip::lineCount); empty for one line.
QString lineBadge(qsizetype lineCount);
// The text itself (cut at 400 characters) when it is longer than 80
// characters; otherwise the reorder hint on rows that can be dragged.
QString rowTooltip(const QString& text, bool reorderable);
QString pinButtonTooltip(bool pinned, bool pinDisabled);

// The key that picks pinned clip `pinnedIndex` (0 = the first): the global
// pinned-clip shortcut when one is chosen, else Ctrl+digit inside the panel
// when that is on. Empty when hints are off or no key reaches the clip.
QString shortcutLabel(std::optional<int> pinnedIndex, bool showHints,
                      PinnedShortcutModifier modifier, bool inPanelNumberKeys);
} // namespace RowText
