#include "ui/settings/SettingsWindow.h"

#include "core/util/SettingValue.h"
#include "platform/SettingsStore.h"
#include "platform/Workspace.h"
#include "ui/Symbols.h"
#include "ui/settings/AboutPane.h"
#include "ui/settings/AppearancePane.h"
#include "ui/settings/GeneralPane.h"
#include "ui/settings/HistoryPane.h"
#include "ui/settings/PrivacyPane.h"
#include "ui/settings/ShortcutsPane.h"
#include "ui/settings/StoragePane.h"
#include "ui/settings/SyncPane.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString kLastTabKey = u"lastSettingsTab"_s;

// A pane taller than its tab (large fonts) scrolls rather than being squeezed.
QWidget* scrolling(QWidget* pane) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Not a Tab stop of its own: one that shows no focus would take Space.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidget(pane);
    return area;
}
} // namespace

SettingsWindow::SettingsWindow(Services services, QWidget* parent)
    : QMainWindow(parent), m_services(std::move(services)), m_stack(new QStackedWidget(this)),
      m_tabs(new QActionGroup(this)) {
    setObjectName(u"TindrelSettings"_s);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setCentralWidget(m_stack);

    auto* toolbar = new QToolBar(this);
    m_toolbar = toolbar;
    toolbar->setObjectName(u"TindrelSettingsToolbar"_s);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize({24, 24});
    toolbar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, toolbar);
    for (const RawCase<SettingsTab>& c : allCases<SettingsTab>()) {
        const SettingsTabLook look = settingsTabLook(c.value);
        QAction* action = toolbar->addAction(look.title);
        action->setData(c.raw.toString());
        action->setToolTip(look.title);
        action->setCheckable(true);
        m_tabs->addAction(action);
        const SettingsTab tab = c.value;
        connect(action, &QAction::triggered, this, [this, tab] {
            if (tab != m_current)
                select(tab);
        });
    }
    paintToolbarIcons();
    // The tabs are one Tab stop, as a tab bar is: the arrow keys move
    // between them.
    for (QAction* action : m_tabs->actions())
        if (QWidget* button = toolbar->widgetForAction(action))
            button->installEventFilter(this);
    addKeys();

    const auto stored = SettingValue::toString(m_services.settings.value(kLastTabKey));
    select(stored ? fromRawValue<SettingsTab>(*stored).value_or(SettingsTab::general)
                  : SettingsTab::general);
}

// As in the settings windows of KDE and GNOME, and in browsers for Alt+N.
void SettingsWindow::addKeys() {
    const auto key = [this](const QKeySequence& keys, auto act) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, act);
    };
    for (const QKeySequence& next :
         {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
        key(next, [this] { step(1); });
    for (const QKeySequence& previous : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                         QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
        key(previous, [this] { step(-1); });
    const QList<QAction*> tabs = m_tabs->actions();
    for (int i = 0; i < tabs.size() && i < 9; ++i)
        key(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + i)),
            [this, tabs, i] { select(*fromRawValue<SettingsTab>(tabs.at(i)->data().toString())); });
    // A window of settings applied as they change: nothing to confirm.
    QList<QKeySequence> closing{Qt::Key_Escape, Qt::CTRL | Qt::Key_W};
    for (const QKeySequence& keys : QKeySequence::keyBindings(QKeySequence::Close))
        if (!closing.contains(keys))
            closing.append(keys);
    for (const QKeySequence& keys : closing)
        key(keys, [this] { close(); });
}

void SettingsWindow::step(int by) {
    const QList<QAction*> tabs = m_tabs->actions();
    qsizetype at = 0;
    while (at < tabs.size() && tabs.at(at)->data().toString() != rawValue(m_current))
        ++at;
    const qsizetype next = (at + by + tabs.size()) % tabs.size();
    select(*fromRawValue<SettingsTab>(tabs.at(next)->data().toString()));
}

void SettingsWindow::paintToolbarIcons() {
    const QColor ink = palette().color(QPalette::ButtonText);
    for (QAction* action : m_tabs->actions()) {
        const auto tab = fromRawValue<SettingsTab>(action->data().toString());
        action->setIcon(Symbols::tintedIcon(settingsTabLook(*tab).symbol, ink, 24));
    }
}

void SettingsWindow::changeEvent(QEvent* event) {
    // The icons are tinted to the text colour: a new theme repaints them.
    if (event->type() == QEvent::PaletteChange)
        paintToolbarIcons();
    QMainWindow::changeEvent(event);
}

QWidget* SettingsWindow::buildPane(SettingsTab tab) {
    Services& s = m_services;
    switch (tab) {
    case SettingsTab::general:
        return new GeneralPane(s.prefs, &s.workspace, s.keySynth);
    case SettingsTab::history:
        return new HistoryPane(s.prefs, s.store, s.clipboardPolls);
    case SettingsTab::shortcuts:
        return new ShortcutsPane(s.prefs, s.hotKeys, s.baseKeysym);
    case SettingsTab::sync:
        return new SyncPane(SyncPane::Parts{s.prefs, s.sync, s.identity, s.discovery, s.workspace,
                                            s.files, s.clock, s.syncLogPath});
    case SettingsTab::appearance:
        return new AppearancePane(s.prefs);
    case SettingsTab::privacy:
        return new PrivacyPane(s.prefs, s.workspace, s.keySynth);
    case SettingsTab::storage:
        return new StoragePane(s.prefs, s.store, s.files);
    case SettingsTab::about:
        return new AboutPane(s.prefs, s.store);
    }
    return nullptr;
}

QWidget* SettingsWindow::pane(SettingsTab tab) {
    const int key = int(tab);
    if (!m_panes.contains(key)) {
        QWidget* built = buildPane(tab);
        m_panes.insert(key, built);
        m_stack->addWidget(scrolling(built));
    }
    return m_panes.value(key);
}

void SettingsWindow::select(SettingsTab tab) {
    m_current = tab;
    m_services.settings.setValue(kLastTabKey, rawValue(tab));
    QWidget* shown = pane(tab);
    m_stack->setCurrentWidget(shown->parentWidget()->parentWidget());

    // Resizing leaves the top-left corner in place, so the top edge stays
    // and the window grows or shrinks at the bottom.
    const SettingsTabLook look = settingsTabLook(tab);
    const QPoint topLeft = pos();
    const QSize size(look.size.width(), look.size.height() + m_toolbar->sizeHint().height());
    setFixedSize(size);
    if (isVisible())
        move(topLeft);

    setWindowTitle(u"Tindrel Settings \u2014 "_s + look.title);
    const bool tabHadFocus = isTabButton(QApplication::focusWidget());
    for (QAction* action : m_tabs->actions()) {
        const bool current = action->data().toString() == rawValue(tab);
        action->setChecked(current);
        QWidget* button = m_toolbar->widgetForAction(action);
        button->setFocusPolicy(current ? Qt::StrongFocus : Qt::NoFocus);
        if (current && tabHadFocus)
            button->setFocus(Qt::TabFocusReason);
    }
}

bool SettingsWindow::isTabButton(const QWidget* widget) const {
    const QList<QAction*> tabs = m_tabs->actions();
    return widget && std::any_of(tabs.cbegin(), tabs.cend(), [&](QAction* action) {
               return m_toolbar->widgetForAction(action) == widget;
           });
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int by = key == Qt::Key_Left || key == Qt::Key_Up      ? -1
                       : key == Qt::Key_Right || key == Qt::Key_Down ? 1
                                                                     : 0;
        if (by != 0 && isTabButton(qobject_cast<QWidget*>(watched))) {
            step(by);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void SettingsWindow::showInFront() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    // As the panel does: the window manager may refuse Qt's own request when
    // the last event Qt saw is old (a tray click, a second start).
    FrontmostApp ours;
    ours.window = winId();
    ours.isOwnProcess = true;
    m_services.workspace.activate(ours);
}
