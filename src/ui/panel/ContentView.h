#pragma once

#include "core/panel/PinDrag.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class AppState;
class ClipListView;
class PanelResizeGrip;
class Preferences;
class QFrame;
class QLabel;
class QLineEdit;
class QScrollArea;
class QToolButton;
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

    QLineEdit* searchField() const { return m_search; }
    ClipListView* pinnedList() const { return m_pinned; }
    ClipListView* recentList() const { return m_recent; }
    QScrollArea* recentScroll() const { return m_scroll; }
    QScrollArea* pinnedScroll() const { return m_pinnedScroll; }
    QWidget* banner() const { return m_banner; }
    QWidget* emptyState() const { return m_empty; }
    PanelResizeGrip* resizeGrip() const { return m_grip; }
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
    QFrame* divider();
    QToolButton* flatButton(const QString& text, QWidget* parent);
    void applyColors();
    void rebuild();
    void updateDragCursor();
    void followSelection();
    void fitPinnedBlock();
    void endDrag();

    AppState& m_state;
    Preferences& m_prefs;

    QWidget* m_searchBar = nullptr;
    QLineEdit* m_search = nullptr;
    QToolButton* m_clear = nullptr;
    QWidget* m_banner = nullptr;
    QWidget* m_empty = nullptr;
    QLabel* m_emptyIcon = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QWidget* m_list = nullptr;
    QScrollArea* m_pinnedScroll = nullptr;
    ClipListView* m_pinned = nullptr;
    QScrollArea* m_scroll = nullptr;
    ClipListView* m_recent = nullptr;
    QWidget* m_recentFiller = nullptr;
    PanelResizeGrip* m_grip = nullptr;
    QVariantAnimation* m_scrollAnimation = nullptr;

    // Colours derived from the palette, applied again when it changes.
    std::vector<std::function<void()>> m_recolor;
    bool m_applyingColors = false;

    std::optional<PinDrag> m_pinDrag;
    bool m_cursorPushed = false;
};
