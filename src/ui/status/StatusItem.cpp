#include "ui/status/StatusItem.h"

#include "core/prefs/Preferences.h"
#include "platform/Scheduler.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"
#include "ui/panel/SaveProblemLine.h"
#include "ui/status/StatusNotifierItem.h"

#include <QCursor>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

StatusItem::StatusItem(Preferences& prefs, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_scheduler(scheduler) {}

StatusItem::~StatusItem() {
    delete m_menu; // the tray does not own its menu
}

bool StatusItem::isShown() const {
    return m_notifier != nullptr || (m_tray && QSystemTrayIcon::isSystemTrayAvailable());
}

void StatusItem::rebuild() {
    if (!m_prefs.showMenuBarIcon()) {
        delete m_tray;
        m_tray = nullptr;
        delete m_notifier;
        m_notifier = nullptr;
        return;
    }
    if (m_tray || m_notifier || m_askingForWatcher)
        return;
    if (!m_menu)
        buildMenu();
    // Asked of the bus without waiting; without a bus the answer comes at once.
    m_askingForWatcher = true;
    StatusNotifierItem::askForWatcher(QDBusConnection::sessionBus(), this, [this](bool watcher) {
        m_askingForWatcher = false;
        if (!m_prefs.showMenuBarIcon() || m_tray || m_notifier)
            return;
        if (watcher)
            makeNotifierItem();
        else
            makeTrayIcon();
    });
}

void StatusItem::makeTrayIcon() {
    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    trigger(anchor());
                    break;
                case QSystemTrayIcon::MiddleClick:
                    Q_EMIT togglePauseRequested();
                    break;
                default:
                    break; // the context menu opens by itself
                }
            });
    update();
    m_tray->show();
    Q_EMIT iconMade();
}

void StatusItem::makeNotifierItem() {
    m_notifier = new StatusNotifierItem(QDBusConnection::sessionBus(), this);
    connect(m_notifier, &StatusNotifierItem::activated, this, [this](QPoint at) {
        if (!at.isNull())
            m_lastClick = at;
        // XWayland knows the keys held only while one of its windows has the
        // keyboard, and a click on a Wayland tray leaves it with what was
        // held when that one lost it: a plain click there is taken as one.
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            trigger(anchor());
        else
            Q_EMIT clicked(anchor());
    });
    connect(m_notifier, &StatusNotifierItem::secondaryActivated, this,
            &StatusItem::togglePauseRequested);
    // No exported menu: the tray asks for ours where it was clicked.
    connect(m_notifier, &StatusNotifierItem::contextMenuRequested, this,
            [this](QPoint at) { m_menu->popup(at.isNull() ? QCursor::pos() : at); });
    update();
    Q_EMIT iconMade();
}

void StatusItem::trigger(std::optional<QRect> at) {
    // Ctrl-click opens the menu and Alt-click pauses, as the right and
    // middle buttons do. Asked of the display: a tray that reports clicks
    // over D-Bus sends no key state.
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    if (held & Qt::ControlModifier)
        m_menu->popup(m_notifier && m_lastClick ? *m_lastClick : QCursor::pos());
    else if (held & Qt::AltModifier)
        Q_EMIT togglePauseRequested();
    else
        Q_EMIT clicked(at);
}

void StatusItem::buildMenu() {
    m_menu = new QMenu;
    m_pause = m_menu->addAction(QString(), this, &StatusItem::togglePauseRequested);
    m_menu->addSeparator();
    // No shortcut hints: a tray menu does not fire them while it is open,
    // and nothing else would.
    m_menu->addAction(u"Settings…"_s, this, &StatusItem::settingsRequested);
    m_syncLine = m_menu->addAction(QString());
    m_syncLine->setEnabled(false);
    m_menu->addAction(u"Clear History"_s, this, &StatusItem::clearHistoryRequested);
    m_menu->addSeparator();
    m_menu->addAction(u"Quit Tindrel"_s, this, &StatusItem::quitRequested);
    // The actions stay put (a tray host may show a copy of the menu it was
    // sent); only the pause item's text follows the state.
    connect(m_menu, &QMenu::aboutToShow, this, &StatusItem::updatePauseText);
    connect(m_menu, &QMenu::aboutToShow, this, &StatusItem::updateSyncLine);
    updatePauseText();
    updateSyncLine();
}

QString StatusItem::syncLineText(int connectedDevices) {
    if (connectedDevices <= 0)
        return u"Sync: no devices connected"_s;
    return u"Sync: "_s + QString::number(connectedDevices) +
           (connectedDevices == 1 ? u" device connected"_s : u" devices connected"_s);
}

void StatusItem::setConnectedDevices(int count) {
    m_connectedDevices = count;
    updateSyncLine();
}

void StatusItem::updateSyncLine() {
    if (!m_syncLine)
        return;
    m_syncLine->setVisible(m_prefs.syncEnabled());
    m_syncLine->setText(syncLineText(m_connectedDevices));
}

void StatusItem::updatePauseText() {
    if (m_pause)
        m_pause->setText(paused() ? u"Resume Tracking"_s : u"Pause Tracking"_s);
}

QString StatusItem::toolTip() const {
    QString tip;
    if (paused()) {
        tip = u"Tindrel — tracking paused"_s;
    } else {
        std::optional<KeyCombo> combo = m_prefs.openPanelHotKey();
        if (isPanelShortcutBound && !isPanelShortcutBound())
            combo.reset();
        tip = u"Tindrel — "_s + (combo ? combo->displayString() : u"no shortcut"_s) +
              u" · right-click for menu"_s;
    }
    if (m_saveProblem)
        tip += u"\n"_s + SaveProblemLine::describe(*m_saveProblem);
    return tip;
}

void StatusItem::setSaveProblem(std::optional<QString> problem) {
    m_saveProblem = std::move(problem);
    update();
}

void StatusItem::notify(const QString& message) {
    if (m_tray)
        m_tray->showMessage(u"Tindrel"_s, message, QSystemTrayIcon::Warning);
    if (m_notifier)
        m_notifier->showMessage(u"Tindrel"_s, message);
}

QString StatusItem::themeIconName(const QString& symbol, bool dimmed) {
    // Installed with the program; its other symbols and the faded look are
    // ours alone, sent as pictures.
    if (symbol == ::symbolName(MenuBarIconStyle::clipboard) && !dimmed)
        return u"io.tindrel.Tindrel-symbolic"_s;
    return QString();
}

void StatusItem::show(const QString& symbol, bool dimmed) {
    m_symbol = symbol;
    m_dimmed = dimmed;
    if (m_tray)
        m_tray->setIcon(Symbols::trayIcon(symbol, dimmed));
    if (m_notifier)
        m_notifier->setIcon(themeIconName(symbol, dimmed), Symbols::trayIcon(symbol, dimmed));
}

void StatusItem::setToolTipText(const QString& text) {
    if (m_tray)
        m_tray->setToolTip(PlainText::tooltip(text));
    // The tray shows the title as it is, never as markup.
    if (m_notifier)
        m_notifier->setToolTip(text);
}

void StatusItem::update() {
    updatePauseText();
    if (!exists())
        return;
    const bool dimmed = paused();
    const QString plain = ::symbolName(m_prefs.menuBarIcon());
    const QString filled = plain + u".fill"_s;
    show(dimmed && Symbols::exists(filled) ? filled : plain, dimmed);
    setToolTipText(toolTip());
}

void StatusItem::notifyRemoteClip(const QString& deviceName) {
    if (!exists())
        return;
    setToolTipText(u"Tindrel — clip received from "_s + deviceName);
    show(u"arrow.down.circle.fill"_s, false);
    // Each arrival restores the normal look when its time is up; the last
    // one to finish leaves the icon as the state says.
    m_scheduler.after(arrivalDuration, this, [this] { update(); });
}

std::optional<QRect> StatusItem::anchor() const {
    if (m_notifier)
        return m_lastClick ? QRect(*m_lastClick, QSize(1, 1)) : besideTray();
    // Without a tray to show the icon in, the panel opens at the top centre.
    if (!m_tray || !QSystemTrayIcon::isSystemTrayAvailable())
        return std::nullopt;
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    return QRect(QCursor::pos(), QSize(1, 1));
}

std::optional<QRect> StatusItem::besideTray() const {
    // Before its first click the tray has said nowhere where it is. Plasma
    // keeps it at the far end of a panel; the edge the panel reserves says
    // which, the bottom when none does.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    const QRect all = screen->geometry();
    const QRect free = screen->availableGeometry();
    if (free.top() > all.top())
        return QRect(QPoint(free.right(), all.top()), QSize(1, free.top() - all.top()));
    if (free.bottom() < all.bottom())
        return QRect(QPoint(free.right(), free.bottom() + 1),
                     QSize(1, all.bottom() - free.bottom()));
    return QRect(all.bottomRight(), QSize(1, 1));
}
