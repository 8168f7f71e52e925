#pragma once

#include "core/panel/PinDrag.h"

#include <QRectF>
#include <QSizeF>
#include <chrono>
#include <optional>

// What the panel's height depends on.
struct PanelContent {
    int pinnedCount = 0;  // visible pinned rows
    int historyCount = 0; // visible recent rows
    double rowHeight = 34.0;
    bool searchShown = true;
    bool bannerShown = false;
    bool noticeShown = false; // the line on how to open the panel again
};

// The clip panel's size and placement arithmetic, in screen coordinates with
// y growing downward. A missing usable area means no screen is known.
namespace PanelGeometry {
inline constexpr double minWidth = 280.0;
inline constexpr double maxWidth = 900.0;
inline constexpr double topMargin = 40.0;          // kept free below the top of the screen
inline constexpr double fallbackMaxHeight = 760.0; // when no screen is known
inline constexpr double edgeInset = 8.0;
inline constexpr double anchorGap = 6.0;
inline constexpr double initialHeight = 200.0;
inline constexpr double tolerance = 0.5;
inline constexpr std::chrono::milliseconds toggleDebounce{250};
inline constexpr std::chrono::milliseconds pasteDelay{50};

// Fixed parts of the panel: section header, pinned separator, list padding,
// footer divider, footer, search bar and banner (each with its divider). The
// footer counts its full height: scroll bars here take room and show, so a
// list that comes up two points short would scroll for nothing.
inline constexpr double headerHeight = 24.0;
inline constexpr double separatorHeight = 9.0;
inline constexpr double listPadding = 8.0;
inline constexpr double footerDivider = 1.0;
inline constexpr double footerHeight = 36.0;
inline constexpr double searchHeight = 41.0;
inline constexpr double bannerHeight = 33.0;
inline constexpr double noticeHeight = 66.0;
inline constexpr double preferredListCap = 396.0;
inline constexpr double emptyListHeight = 90.0;

double preferredHeight(const PanelContent& content);
// Every pinned row and two recent rows fit in this height.
double minimumHeight(const PanelContent& content);
// The tallest the panel may be on this screen: the usable height less the
// top margin (fallbackMaxHeight when no screen is known).
double heightLimit(const std::optional<QRectF>& usable);
// minimumHeight, unless that would not fit on the screen: then the panel
// takes the height limit and its pinned block scrolls (pinnedBlockHeight).
double fittedMinimumHeight(const PanelContent& content, const std::optional<QRectF>& usable);
double maximumHeight(double minimum, const std::optional<QRectF>& usable);
QSizeF minimumSize(const PanelContent& content, const std::optional<QRectF>& usable);
QSizeF maximumSize(const PanelContent& content, const std::optional<QRectF>& usable);

// The size the panel opens with: the custom height (when above 0) or the
// preferred one, bounded by the minimum and the screen.
QSizeF openSize(double resolvedWidth, double customHeight, const PanelContent& content,
                const std::optional<QRectF>& usable);

// Centred under the anchor (or above it when the anchor sits in the lower half
// of the screen, as a tray at the bottom does), kept inside the usable area.
QRectF placeAtAnchor(const QRectF& anchor, const QSizeF& size, const std::optional<QRectF>& usable);
// Top centre of the usable area, topMargin below its top edge.
QRectF placeTopCentre(const QSizeF& size, const std::optional<QRectF>& usable);
// The centre of the usable area, never above its top edge: where the window
// system places windows itself and gives us no position to ask for.
QRectF placeCentre(const QSizeF& size, const std::optional<QRectF>& usable);

// The new frame when content or the width setting changed while open: snaps to
// the width, grows to the minimum height with the top edge fixed, never shrinks.
std::optional<QRectF> grownFrame(const QRectF& frame, double resolvedWidth,
                                 const PanelContent& content, const std::optional<QRectF>& usable);

// The size while the resize grip is dragged by `translation` from `start`.
QSizeF dragResize(const QSizeF& start, const QSizeF& translation, const PanelContent& content,
                  const std::optional<QRectF>& usable);

// The height of the pinned block (top padding, header, rows, separator) when
// the list area is `listHeight` high: all of it whenever the panel is at least
// minimumHeight tall, so such layouts never change; less on a panel squeezed
// to fit the screen, and that block then scrolls.
int pinnedBlockHeight(const PanelContent& content, double listHeight);

// Where a pin dragged from `index` by `translation` lands among `count` pins:
// whole rows, halves rounded away from zero.
int reorderTarget(int index, int count, double translation, double rowHeight);
// The vertical offset drawn for pinned row `row` during a drag.
double pinShift(int row, const std::optional<PinDrag>& drag, double rowHeight);
} // namespace PanelGeometry
