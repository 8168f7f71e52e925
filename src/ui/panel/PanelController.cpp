#include "ui/panel/PanelController.h"

#include "core/panel/AppState.h"
#include "core/panel/PanelGeometry.h"
#include "core/panel/PanelKeys.h"
#include "core/prefs/Preferences.h"
#include "core/shortcuts/KeyCombo.h"
#include "core/store/ClipStore.h"
#include "platform/Clock.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"
#include "platform/WindowHints.h"
#include "platform/Workspace.h"
#include "ui/panel/ContentView.h"
#include "ui/panel/PanelResizeGrip.h"
#include "ui/panel/PanelWindow.h"
#include "ui/panel/StartNotice.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>

namespace {
// X11 key codes of the main number row (1 ... 9, 0) on evdev keyboards: the
// physical keys, whatever the layout prints on them.
constexpr quint32 firstNumberRowScanCode = 10;

// Which pinned clip a Ctrl+digit press names, if any.
std::optional<int> pinnedShortcutIndex(const QKeyEvent& event) {
    const quint32 scanCode = event.nativeScanCode();
    if (scanCode >= firstNumberRowScanCode && scanCode < firstNumberRowScanCode + 10)
        return static_cast<int>(scanCode - firstNumberRowScanCode);
    for (size_t i = 0; i < KeyCombo::numberRow.size(); ++i)
        if (event.nativeVirtualKey() == KeyCombo::numberRow[i])
            return static_cast<int>(i);
    const int key = event.key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return key - Qt::Key_1;
    if (key == Qt::Key_0)
        return 9;
    const QString text = event.text();
    if (text.size() == 1 && text[0] >= u'0' && text[0] <= u'9')
        return text[0] == u'0' ? 9 : text[0].unicode() - u'1';
    return std::nullopt;
}
} // namespace

PanelController::PanelController(AppState& state, Preferences& prefs, const Desktop& desktop,
                                 QObject* parent)
    : QObject(parent), m_state(state), m_prefs(prefs), m_desktop(desktop) {
    connect(&m_state, &AppState::closeRequested, this, &PanelController::hide);
    connect(&m_state, &AppState::activated, this, &PanelController::paste);
    m_desktop.pointer.onPress = [this](const PointerWatcher::Press& press) {
        pointerPressed(press);
    };
    // Content changes arrive in bursts; one check after the burst is enough.
    connect(&m_state, &AppState::changed, this, [this] {
        if (m_growPending)
            return;
        m_growPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_growPending = false;
                syncLimitsAndGrowIfNeeded();
            },
            Qt::QueuedConnection);
    });
}

PanelController::~PanelController() {
    removeMonitors();
    m_desktop.pointer.onPress = nullptr;
    delete m_window; // a top-level window without a parent
}

bool PanelController::isVisible() const {
    return m_window && m_window->isVisible();
}

void PanelController::toggle(std::optional<QRect> anchor) {
    if (isVisible()) {
        hide();
        return;
    }
    // The click that made the panel lose focus and close must not reopen it.
    const Instant now = m_desktop.clock.now();
    const std::chrono::duration<double> sinceHide(now.sinceReference - m_lastHide.sinceReference);
    if (sinceHide < PanelGeometry::toggleDebounce)
        return;
    show(anchor);
}

void PanelController::hide() {
    if (!isVisible())
        return;
    m_lastHide = m_desktop.clock.now();
    removeMonitors();
    m_window->hide();
}

void PanelController::makePanel() {
    m_window = new PanelWindow;
    m_content = new ContentView(m_state, m_prefs);
    m_window->setContent(m_content);
    // Hiding from inside the activation change confuses some window
    // managers; close right after it instead.
    connect(m_window, &PanelWindow::deactivated, this, &PanelController::hide,
            Qt::QueuedConnection);
    const PanelResizeGrip* grip = m_content->resizeGrip();
    connect(grip, &PanelResizeGrip::resizeStarted, this,
            [this] { m_resizeStart = QSizeF(m_window->size()); });
    connect(grip, &PanelResizeGrip::resizeDragged, this, &PanelController::applyDragResize);
    connect(grip, &PanelResizeGrip::resizeFinished, this, &PanelController::saveDragResize);
    // Clamped before the cast: a hand-edited width can be any number.
    const double width =
        std::clamp(m_prefs.resolvedPanelWidth(), PanelGeometry::minWidth, PanelGeometry::maxWidth);
    m_window->resize(static_cast<int>(width), static_cast<int>(PanelGeometry::initialHeight));
    applySizeLimits();
}

void PanelController::prepare() {
    if (m_window)
        return;
    makePanel();
    m_window->ensurePolished();
    if (QLayout* layout = m_window->layout())
        layout->activate();
    // The glyphs, icons and style pixmaps of a first paint, cached for the
    // real one. The native window is still made at the first showing: made
    // this early, the window manager may not give it the focus then.
    const qreal ratio = m_window->devicePixelRatioF();
    QImage scratch(m_window->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    scratch.setDevicePixelRatio(ratio);
    m_window->render(&scratch);
}

void PanelController::showWithStartNotice(const QStringList& keyboardSettings) {
    m_keyboardSettings = keyboardSettings;
    m_noticeNext = true;
    if (isVisible())
        hide();
    show(std::nullopt);
}

void PanelController::show(std::optional<QRect> anchor) {
    m_previousApp = m_desktop.workspace.frontmost();
    ++m_showing;
    if (!m_window)
        makePanel();
    m_content->startNotice()->setKeyboardSettings(m_keyboardSettings);
    m_content->startNotice()->setVisible(std::exchange(m_noticeNext, false));
    m_window->setTranslucent(m_desktop.windowHints.isCompositing());
    m_state.reset();

    QScreen* screen = anchor ? QGuiApplication::screenAt(anchor->center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const std::optional<QRectF> usable = usableArea(screen);
    applySizeLimits();
    const QSizeF size = PanelGeometry::openSize(
        m_prefs.resolvedPanelWidth(), m_prefs.panelCustomHeight(), currentContent(), usable);
    const bool placing = m_desktop.windowHints.canPlaceWindows();
    if (placing)
        setFrame(anchor ? PanelGeometry::placeAtAnchor(QRectF(*anchor), size, usable)
                        : PanelGeometry::placeTopCentre(size, usable));
    else
        setFrame(PanelGeometry::placeCentre(size, usable));

    m_window->forgetActivation();
    m_desktop.windowHints.keepOutOfTaskbar(m_window->winId());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // Sent on the workspace's own connection; show() has already waited for
    // the server to take the map, so the window manager knows the window.
    FrontmostApp panel;
    panel.window = m_window->winId();
    panel.isOwnProcess = true;
    m_desktop.workspace.activate(panel);
    removeMonitors();
    installMonitors();
}

PanelContent PanelController::currentContent() const {
    PanelContent content;
    content.pinnedCount = static_cast<int>(m_state.filteredPinned().size());
    content.historyCount = static_cast<int>(m_state.filteredHistory().size());
    content.rowHeight = rowHeight(m_prefs.rowDensity());
    content.searchShown = m_prefs.showSearchField();
    content.bannerShown = !m_state.canAutoPaste() && m_prefs.pasteOnClick();
    content.noticeShown = m_content && m_content->startNotice()->isVisibleTo(m_content);
    return content;
}

std::optional<QRectF> PanelController::usableArea(QScreen* screen) const {
    if (!screen)
        return std::nullopt;
    return QRectF(screen->availableGeometry());
}

QScreen* PanelController::panelScreen() const {
    QScreen* screen = m_window ? m_window->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

void PanelController::applySizeLimits() {
    // Where the compositor places windows, the size stays fixed (setFrame).
    if (!m_window || !m_desktop.windowHints.canPlaceWindows())
        return;
    const PanelContent content = currentContent();
    const std::optional<QRectF> usable = usableArea(panelScreen());
    m_window->setMinimumSize(PanelGeometry::minimumSize(content, usable).toSize());
    m_window->setMaximumSize(PanelGeometry::maximumSize(content, usable).toSize());
}

void PanelController::setFrame(const QRectF& frame) {
    // A compositor that places windows itself (sway, for one) tiles those
    // whose size may change; a fixed one floats, centred. Every size the
    // panel takes passes through here, within the limits computed for it.
    if (!m_desktop.windowHints.canPlaceWindows())
        m_window->setFixedSize(frame.size().toSize());
    m_window->setGeometry(frame.toRect());
}

void PanelController::syncLimitsAndGrowIfNeeded() {
    if (!isVisible())
        return;
    applySizeLimits();
    const std::optional<QRectF> grown =
        PanelGeometry::grownFrame(QRectF(m_window->geometry()), m_prefs.resolvedPanelWidth(),
                                  currentContent(), usableArea(panelScreen()));
    if (grown)
        setFrame(*grown);
}

void PanelController::applyDragResize(QSizeF translation) {
    applySizeLimits();
    const QSizeF size = PanelGeometry::dragResize(m_resizeStart, translation, currentContent(),
                                                  usableArea(panelScreen()));
    setFrame(QRectF(m_window->geometry().topLeft(), size));
}

void PanelController::saveDragResize() {
    m_prefs.setPanelCustomWidth(m_window->width());
    m_prefs.setPanelCustomHeight(m_window->height());
}

void PanelController::installMonitors() {
    qApp->installEventFilter(this);
    m_ownPressTime = 0;
    m_desktop.pointer.start();
    m_monitoring = true;
}

void PanelController::removeMonitors() {
    if (!m_monitoring)
        return;
    qApp->removeEventFilter(this);
    m_desktop.pointer.stop();
    m_monitoring = false;
}

void PanelController::pointerPressed(const PointerWatcher::Press& press) {
    if (!isVisible()) {
        removeMonitors(); // closed without hide(); nothing to watch for
        return;
    }
    if (isOwnPress(press))
        return;
    // As on a loss of focus, close right after the event, not inside it; a
    // close meant for this showing must not reach the next one.
    QMetaObject::invokeMethod(
        this,
        [this, showing = m_showing] {
            if (m_showing == showing)
                hide();
        },
        Qt::QueuedConnection);
}

bool PanelController::isOwnPress(const PointerWatcher::Press& press) const {
    // Qt may hand the same press to our window before or after the watcher
    // reports it. After: the press lands on a window of ours that shows now.
    // Before: the time stamps match (the window may be gone by now, as a
    // menu closed by a click outside it).
    if (press.time != 0 && press.time == m_ownPressTime)
        return true;
    // An open menu of ours takes any click, and a click outside only closes
    // the menu.
    if (QApplication::activePopupWidget())
        return true;
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::ranges::any_of(windows, [&press](const QWidget* window) {
        return window->isVisible() && window->frameGeometry().contains(press.position);
    });
}

bool PanelController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        m_ownPressTime = static_cast<QInputEvent*>(event)->timestamp();
        return false;
    }
    if (event->type() != QEvent::KeyPress || !m_window)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_window)
        return false;
    return handleKey(*static_cast<QKeyEvent*>(event));
}

bool PanelController::handleKey(const QKeyEvent& event) {
    if (m_prefs.inPanelNumberKeys() && (event.modifiers() & Qt::ControlModifier)) {
        if (const std::optional<int> index = pinnedShortcutIndex(event)) {
            // Position in the whole pin list, whatever the search shows.
            if (const std::optional<Clip> clip = m_state.store().pinnedClip(*index))
                m_state.activate(*clip);
            return true;
        }
    }
    if (const std::optional<PanelKeys::Action> action =
            PanelKeys::actionFor(event.key(), event.modifiers())) {
        switch (*action) {
        case PanelKeys::Action::togglePin:
            m_state.togglePinSelection();
            return true;
        case PanelKeys::Action::deleteClip:
            // With text selected in the search field the key cuts it, as
            // everywhere else.
            if (m_content && m_content->searchField()->hasSelectedText())
                return false;
            m_state.deleteSelection();
            return true;
        case PanelKeys::Action::movePinUp:
            m_state.moveSelectedPin(-1);
            return true;
        case PanelKeys::Action::movePinDown:
            m_state.moveSelectedPin(1);
            return true;
        }
    }
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_state.activateSelection();
        return true;
    case Qt::Key_Escape:
        hide();
        return true;
    case Qt::Key_Down:
        m_state.moveSelection(1);
        return true;
    case Qt::Key_Up:
        m_state.moveSelection(-1);
        return true;
    default:
        return false;
    }
}

void PanelController::paste(const Clip& clip) {
    Q_EMIT willWriteToPasteboard();
    m_desktop.pasteboard.writeText(clip.text());
    if (m_prefs.moveToTopOnPaste())
        m_state.store().promote(clip);
    if (!m_prefs.closeAfterPaste())
        return; // only copied; the panel stays open
    hide();
    if (!m_prefs.pasteOnClick())
        return;
    m_desktop.scheduler.after(PanelGeometry::pasteDelay, this, [this, previous = m_previousApp] {
        if (!m_desktop.workspace.isTrusted())
            return;
        Q_EMIT pasteRequested(previous && !previous->isOwnProcess ? previous : std::nullopt);
    });
}
