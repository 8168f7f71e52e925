#include "ui/panel/ContentView.h"

#include "core/panel/AppState.h"
#include "core/panel/PanelGeometry.h"
#include "core/panel/RowText.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "ui/Alerts.h"
#include "ui/Symbols.h"
#include "ui/panel/ClipListView.h"
#include "ui/panel/PanelColors.h"
#include "ui/panel/PanelFooter.h"
#include "ui/panel/PanelSearchBar.h"
#include "ui/panel/PastingBanner.h"
#include "ui/panel/SaveProblemLine.h"
#include "ui/panel/StartNotice.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QVariantAnimation>

using namespace Qt::StringLiterals;

namespace {
void setRole(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}
} // namespace

ContentView::ContentView(AppState& state, Preferences& prefs, QWidget* parent)
    : QWidget(parent), m_state(state), m_prefs(prefs) {
    m_searchBar = new PanelSearchBar(this);
    m_banner = new PastingBanner(this);
    m_notice = new StartNotice(this);
    m_notice->setVisible(false);
    m_footer = new PanelFooter(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_notice);
    column->addWidget(m_searchBar);
    column->addWidget(m_banner);
    column->addWidget(makeEmptyState(), 1);
    column->addWidget(makeList(), 1);
    column->addWidget(new SaveProblemLine(m_state.store(), this));
    column->addWidget(m_footer);

    connect(m_searchBar, &PanelSearchBar::queryEdited, &m_state, &AppState::setQuery);
    connect(m_searchBar, &PanelSearchBar::cleared, this, [this] {
        m_state.setQuery(QString());
        m_state.setSelection(0);
    });
    connect(m_banner, &PastingBanner::explainRequested, this, [this] {
        // The panel goes first: a dialog over it would take its focus anyway.
        m_state.requestClose();
        Alerts::explainPasting();
    });
    connect(m_footer, &PanelFooter::clearHistoryClicked, &m_state, &AppState::requestClearHistory);
    connect(m_footer, &PanelFooter::settingsClicked, &m_state, &AppState::requestSettings);
    connect(m_footer, &PanelFooter::quitClicked, qApp, &QCoreApplication::quit);
    connectLists();
    connect(&m_state, &AppState::changed, this, &ContentView::rebuild);
    connect(&m_state, &AppState::selectionChanged, this, &ContentView::followSelection);
    connect(&m_state, &AppState::focusTokenChanged, this,
            [this] { m_searchBar->field()->setFocus(Qt::OtherFocusReason); });
    applyColors();
    rebuild();
}

QWidget* ContentView::makeEmptyState() {
    m_empty = new QWidget(this);
    auto* emptyColumn = new QVBoxLayout(m_empty);
    emptyColumn->addStretch(1);
    m_emptyIcon = new QLabel(m_empty);
    m_emptyIcon->setAlignment(Qt::AlignCenter);
    m_emptyLabel = new QLabel(m_empty);
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    QFont emptyFont = m_emptyLabel->font();
    emptyFont.setPixelSize(12);
    m_emptyLabel->setFont(emptyFont);
    emptyColumn->addWidget(m_emptyIcon);
    emptyColumn->addWidget(m_emptyLabel);
    emptyColumn->addStretch(1);
    return m_empty;
}

// The pinned block stays put, the recent block scrolls.
QWidget* ContentView::makeList() {
    m_list = new QWidget(this);
    auto* listColumn = new QVBoxLayout(m_list);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    // A slim scroll bar without arrows, as floating panels have.
    auto scrollArea = [this] {
        auto* area = new QScrollArea(m_list);
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->viewport()->setAutoFillBackground(false);
        area->verticalScrollBar()->setStyleSheet(
            u"QScrollBar:vertical { width: 8px; background: transparent; margin: 0; }"
            "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 110);"
            " border-radius: 3px; min-height: 24px; margin: 2px 2px 2px 0; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
            "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical"
            " { background: transparent; }"_s);
        return area;
    };
    // The pinned block scrolls only when the panel, kept within the screen,
    // cannot hold every pin (fitPinnedBlock).
    m_pinnedScroll = scrollArea();
    m_pinned = new ClipListView;
    m_pinned->setAutoFillBackground(false);
    m_pinned->setPadding(4, 0);
    m_pinned->setSeparator(true);
    m_pinnedScroll->setWidget(m_pinned);
    listColumn->addWidget(m_pinnedScroll);
    m_scroll = scrollArea();
    m_recent = new ClipListView;
    m_recent->setAutoFillBackground(false);
    m_scroll->setWidget(m_recent);
    listColumn->addWidget(m_scroll, 1);
    m_recentFiller = new QWidget(m_list);
    listColumn->addWidget(m_recentFiller, 1);

    m_scrollAnimation = new QVariantAnimation(this);
    m_scrollAnimation->setDuration(120);
    m_scrollAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(
        m_scrollAnimation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { m_scroll->verticalScrollBar()->setValue(value.toInt()); });

    return m_list;
}

void ContentView::connectLists() {
    // Rows report by index; both blocks map the index back to their clip.
    for (ClipListView* view : {m_pinned, m_recent}) {
        auto clipAt = [view](int row) { return view->rows().at(row).clip; };
        connect(view, &ClipListView::activated, this,
                [this, clipAt](int row) { m_state.activate(clipAt(row)); });
        connect(view, &ClipListView::togglePinRequested, this,
                [this, clipAt](int row) { m_state.togglePin(clipAt(row)); });
        connect(view, &ClipListView::deleteRequested, this,
                [this, clipAt](int row) { m_state.store().deleteClip(clipAt(row)); });
    }
    connect(m_pinned, &ClipListView::movePinRequested, this,
            [this](int row, int delta) { m_state.movePin(m_pinned->rows().at(row).clip, delta); });
    connect(m_pinned, &ClipListView::reorderHeld, this,
            [this](int row) { applyPinDrag(m_pinned->rows().at(row).clip, row, 0); });
    connect(m_pinned, &ClipListView::reorderChanged, this, [this](int row, double translation) {
        applyPinDrag(m_pinned->rows().at(row).clip, row, translation);
    });
    connect(m_pinned, &ClipListView::reorderEnded, this,
            [this](int row) { reorderEnded(m_pinned->rows().at(row).clip); });
}

void ContentView::applyColors() {
    setRole(m_emptyLabel, QPalette::WindowText, PanelColors::secondary(palette()));
}

void ContentView::changeEvent(QEvent* event) {
    // Theme switches replace the palette; the derived colours follow.
    if (event->type() == QEvent::PaletteChange && !m_applyingColors) {
        m_applyingColors = true;
        applyColors();
        rebuild();
        m_applyingColors = false;
    }
    QWidget::changeEvent(event);
}

ContentView::~ContentView() {
    endDrag();
}

QLineEdit* ContentView::searchField() const {
    return m_searchBar->field();
}

QWidget* ContentView::banner() const {
    return m_banner;
}

PanelResizeGrip* ContentView::resizeGrip() const {
    return m_footer->grip();
}

QString ContentView::emptyText() const {
    return m_emptyLabel->text();
}

void ContentView::rebuild() {
    m_searchBar->setVisible(m_prefs.showSearchField());
    m_searchBar->setQuery(m_state.query());
    m_banner->setVisible(!m_state.canAutoPaste() && m_prefs.pasteOnClick());

    const QList<Clip> pinned = m_state.filteredPinned();
    const QList<Clip> history = m_state.filteredHistory();
    const bool empty = pinned.isEmpty() && history.isEmpty();
    m_empty->setVisible(empty);
    m_list->setVisible(!empty);
    if (empty) {
        const bool searching = !m_state.query().isEmpty();
        m_emptyIcon->setPixmap(
            Symbols::tinted(searching ? u"magnifyingglass"_s : u"doc.on.clipboard"_s,
                            PanelColors::tertiary(palette()), 20, devicePixelRatioF()));
        m_emptyLabel->setText(searching ? u"No matches"_s : u"Nothing copied yet"_s);
    }

    ClipStore& store = m_state.store();
    const int rowPixels = ::rowHeight(m_prefs.rowDensity());
    const int fontSize = previewTextSize(m_prefs.rowDensity());
    const bool pinDisabled = store.isPinnedFull();
    const int selection = m_state.selection();
    const bool reorderable = canReorderPins();
    if (m_pinDrag && !reorderable)
        endDrag();

    auto makeRow = [&](const Clip& clip, int index, bool isPinned, std::optional<int> pinnedIndex) {
        ClipRow row;
        row.clip = clip;
        row.isPinned = isPinned;
        row.isSelected = index == selection;
        row.isDragging = m_pinDrag && m_pinDrag->id == clip.id();
        row.pinDisabled = pinDisabled;
        row.shortcut =
            RowText::shortcutLabel(pinnedIndex, m_prefs.showShortcutHints(),
                                   m_prefs.pinnedModifier(), m_prefs.inPanelNumberKeys());
        row.rowHeight = rowPixels;
        row.fontSize = fontSize;
        row.showLineBadge = m_prefs.showLineBadge();
        row.reorderable = isPinned && reorderable;
        return row;
    };

    QList<ClipRow> pinnedRows;
    pinnedRows.reserve(pinned.size());
    for (int i = 0; i < pinned.size(); ++i)
        pinnedRows.append(makeRow(pinned[i], i, true, i));
    m_pinnedScroll->setVisible(!pinned.isEmpty());
    m_pinned->setHeader(SectionHeader{u"Pinned"_s,
                                      u"%1/%2"_s.arg(store.pinned().size()).arg(m_prefs.pinLimit()),
                                      m_state.pinLimitFlash()});
    m_pinned->setRows(std::move(pinnedRows));
    QList<double> shifts;
    int dragged = -1;
    if (m_pinDrag) {
        for (int i = 0; i < pinned.size(); ++i)
            shifts.append(PanelGeometry::pinShift(i, m_pinDrag, rowPixels));
        dragged = m_pinDrag->origin;
    }
    m_pinned->setShifts(shifts, dragged);

    QList<ClipRow> recentRows;
    recentRows.reserve(history.size());
    const int offset = static_cast<int>(pinned.size());
    for (int i = 0; i < history.size(); ++i)
        recentRows.append(makeRow(history[i], offset + i, false, std::nullopt));
    m_scroll->setVisible(!history.isEmpty());
    m_recentFiller->setVisible(history.isEmpty());
    m_recent->setHeader(SectionHeader{u"Recent"_s, QString(), false});
    m_recent->setPadding(pinned.isEmpty() ? 4 : 0, 4);
    m_recent->setRows(std::move(recentRows));
    fitPinnedBlock();
}

void ContentView::fitPinnedBlock() {
    const bool searchShown = m_searchBar->isVisibleTo(this);
    const bool bannerShown = m_banner->isVisibleTo(this);
    const double chrome = (searchShown ? PanelGeometry::searchHeight : 0.0) +
                          (bannerShown ? PanelGeometry::bannerHeight : 0.0) +
                          (m_notice->isVisibleTo(this) ? PanelGeometry::noticeHeight : 0.0) +
                          PanelGeometry::footerDivider + PanelGeometry::footerHeight;
    PanelContent content;
    content.pinnedCount = static_cast<int>(m_pinned->rows().size());
    content.historyCount = static_cast<int>(m_recent->rows().size());
    content.rowHeight = ::rowHeight(m_prefs.rowDensity());
    const int block = PanelGeometry::pinnedBlockHeight(content, height() - chrome);
    if (m_pinnedScroll->height() != block || m_pinnedScroll->minimumHeight() != block)
        m_pinnedScroll->setFixedHeight(block);
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitPinnedBlock();
}

void ContentView::followSelection() {
    const int selection = m_state.selection();
    const int pinnedCount = static_cast<int>(m_state.filteredPinned().size());
    const int total = pinnedCount + static_cast<int>(m_state.filteredHistory().size());
    if (selection < 0 || selection >= total)
        return;
    if (selection < pinnedCount) {
        // The pinned block scrolls only when squeezed; then it shows the
        // selected pin.
        const QRect row = m_pinned->rowRect(selection);
        m_pinnedScroll->ensureVisible(row.center().x(), row.center().y(), 0, row.height() / 2 + 1);
        return;
    }
    const QRect row = m_recent->rowRect(selection - pinnedCount);
    QScrollBar* bar = m_scroll->verticalScrollBar();
    const int target = std::clamp(row.center().y() - m_scroll->viewport()->height() / 2,
                                  bar->minimum(), bar->maximum());
    m_scrollAnimation->stop();
    if (!isVisible()) {
        bar->setValue(target);
        return;
    }
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(target);
    m_scrollAnimation->start();
}

bool ContentView::canReorderPins() const {
    return m_state.canReorderPins();
}

void ContentView::applyPinDrag(const Clip& clip, int index, double translation) {
    const int count = static_cast<int>(m_state.filteredPinned().size());
    if (count < 2 || index < 0 || index >= count)
        return;
    const int rowPixels = ::rowHeight(m_prefs.rowDensity());
    m_pinDrag = PinDrag{clip.id(), index, translation,
                        PanelGeometry::reorderTarget(index, count, translation, rowPixels)};
    updateDragCursor();
    rebuild();
}

void ContentView::reorderEnded(const Clip& clip) {
    std::optional<std::pair<int, int>> move;
    if (m_pinDrag && m_pinDrag->id == clip.id())
        move = std::make_pair(m_pinDrag->origin, m_pinDrag->target);
    m_pinDrag.reset();
    updateDragCursor();
    if (move && move->first != move->second)
        m_state.store().movePinned(move->first, move->second);
    else
        rebuild();
}

void ContentView::endDrag() {
    m_pinDrag.reset();
    updateDragCursor();
}

void ContentView::updateDragCursor() {
    const bool dragging = m_pinDrag.has_value();
    if (dragging == m_cursorPushed)
        return;
    if (dragging)
        QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    m_cursorPushed = dragging;
}

void ContentView::hideEvent(QHideEvent* event) {
    // A drag cannot outlive the list it happens in.
    if (m_pinDrag) {
        endDrag();
        rebuild();
    }
    QWidget::hideEvent(event);
}
