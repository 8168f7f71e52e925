#pragma once

#include "core/panel/PinDrag.h"

#include <QWidget>
#include <optional>

class AppState;
class ClipListView;
class PanelFooter;
class PanelResizeGrip;
class PanelSearchBar;
class PastingBanner;
class StartNotice;
class Preferences;
class QLabel;
class QLineEdit;
class QScrollArea;
class QVariantAnimation;
class Clip;

// Everything inside the clip panel: the search field, the banner shown when
// pasting is not possible, the pinned block over the scrolling recent block
// (or a message when both are empty), and the footer with the resize grip.
// It reads and watches the shared panel state only.
class ContentView : public QWidget {
    Q_OBJECT
public:
    ContentView(AppState& state, Preferences& prefs, QWidget* parent = nullptr);
    ~ContentView() override;

    QLineEdit* searchField() const;
    ClipListView* pinnedList() const { return m_pinned; }
    ClipListView* recentList() const { return m_recent; }
    QScrollArea* recentScroll() const { return m_scroll; }
    QScrollArea* pinnedScroll() const { return m_pinnedScroll; }
    QWidget* banner() const;
    StartNotice* startNotice() const { return m_notice; }
    QWidget* emptyState() const { return m_empty; }
    PanelResizeGrip* resizeGrip() const;
    QString emptyText() const;
    const std::optional<PinDrag>& pinDrag() const { return m_pinDrag; }

    // The pin-reorder gesture's steps, by pinned position.
    bool canReorderPins() const;
    void applyPinDrag(const Clip& clip, int index, double translation);
    void reorderEnded(const Clip& clip);

protected:
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeEmptyState();
    QWidget* makeList();
    void connectLists();
    void applyColors();
    void rebuild();
    void updateDragCursor();
    void followSelection();
    void fitPinnedBlock();
    void endDrag();

    AppState& m_state;
    Preferences& m_prefs;

    PanelSearchBar* m_searchBar = nullptr;
    PastingBanner* m_banner = nullptr;
    StartNotice* m_notice = nullptr;
    QWidget* m_empty = nullptr;
    QLabel* m_emptyIcon = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QWidget* m_list = nullptr;
    QScrollArea* m_pinnedScroll = nullptr;
    ClipListView* m_pinned = nullptr;
    QScrollArea* m_scroll = nullptr;
    ClipListView* m_recent = nullptr;
    QWidget* m_recentFiller = nullptr;
    PanelFooter* m_footer = nullptr;
    QVariantAnimation* m_scrollAnimation = nullptr;
    bool m_applyingColors = false;

    std::optional<PinDrag> m_pinDrag;
    bool m_cursorPushed = false;
};
