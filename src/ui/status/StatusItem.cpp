#include "ui/status/StatusItem.h"

#include "core/prefs/Preferences.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"
#include "ui/panel/SaveProblemLine.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace Qt::StringLiterals;

StatusItem::StatusItem(Preferences& prefs, QObject* parent) : QObject(parent), m_prefs(prefs) {
    after = [this](double seconds, std::function<void()> task) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), this, std::move(task));
    };
}

StatusItem::~StatusItem() {
    delete m_menu; // the tray does not own its menu
}

void StatusItem::rebuild() {
    if (!m_prefs.showMenuBarIcon()) {
        delete m_tray;
        m_tray = nullptr;
        return;
    }
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(this);
    if (!m_menu)
        buildMenu();
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger: {
                    // Ctrl-click opens the menu and Alt-click pauses, as
                    // the right and middle buttons do. Asked of the display:
                    // a tray that reports clicks over D-Bus sends no key state.
                    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
                    if (held & Qt::ControlModifier)
                        m_menu->popup(QCursor::pos());
                    else if ((held & Qt::AltModifier) && onTogglePause)
                        onTogglePause();
                    else if (onClick)
                        onClick(anchor());
                    break;
                }
                case QSystemTrayIcon::MiddleClick:
                    if (onTogglePause)
                        onTogglePause();
                    break;
                default:
                    break; // the context menu opens by itself
                }
            });
    update();
    m_tray->show();
}

void StatusItem::buildMenu() {
    m_menu = new QMenu;
    m_pause = m_menu->addAction(QString(), this, [this] {
        if (onTogglePause)
            onTogglePause();
    });
    m_menu->addSeparator();
    QAction* settings = m_menu->addAction(u"Settings…"_s, this, [this] {
        if (onOpenSettings)
            onOpenSettings();
    });
    settings->setShortcut(QKeySequence(u"Ctrl+,"_s));
    m_menu->addAction(u"Clear History"_s, this, [this] {
        if (onClearHistory)
            onClearHistory();
    });
    m_menu->addSeparator();
    QAction* quit = m_menu->addAction(u"Quit Tindrel"_s, this, [this] {
        if (onQuit)
            onQuit();
    });
    quit->setShortcut(QKeySequence(u"Ctrl+Q"_s));
    // The actions stay put (a tray host may show a copy of the menu it was
    // sent); only the pause item's text follows the state.
    connect(m_menu, &QMenu::aboutToShow, this, &StatusItem::updatePauseText);
    updatePauseText();
}

void StatusItem::updatePauseText() {
    if (m_pause)
        m_pause->setText(isPaused && isPaused() ? u"Resume Tracking"_s : u"Pause Tracking"_s);
}

QString StatusItem::toolTip() const {
    QString tip;
    if (isPaused && isPaused()) {
        tip = u"Tindrel — tracking paused"_s;
    } else {
        const std::optional<KeyCombo> combo = m_prefs.openPanelHotKey();
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
}

void StatusItem::show(const QString& symbol, bool dimmed) {
    m_symbol = symbol;
    m_dimmed = dimmed;
    if (m_tray)
        m_tray->setIcon(Symbols::trayIcon(symbol, dimmed));
}

void StatusItem::update() {
    updatePauseText();
    if (!m_tray)
        return;
    const bool paused = isPaused && isPaused();
    const QString plain = ::symbolName(m_prefs.menuBarIcon());
    const QString filled = plain + u".fill"_s;
    show(paused && Symbols::exists(filled) ? filled : plain, paused);
    m_tray->setToolTip(PlainText::tooltip(toolTip()));
}

void StatusItem::notifyRemoteClip(const QString& deviceName) {
    if (!m_tray)
        return;
    m_tray->setToolTip(PlainText::tooltip(u"Tindrel — clip received from "_s + deviceName));
    show(u"arrow.down.circle.fill"_s, false);
    // Each arrival restores the normal look when its time is up; the last
    // one to finish leaves the icon as the state says.
    after(arrivalSeconds, [self = QPointer(this)] {
        if (self)
            self->update();
    });
}

std::optional<QRect> StatusItem::anchor() const {
    // Without a tray to show the icon in, the panel opens at the top centre.
    if (!m_tray || !QSystemTrayIcon::isSystemTrayAvailable())
        return std::nullopt;
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    return QRect(QCursor::pos(), QSize(1, 1));
}
