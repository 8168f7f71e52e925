#include "ui/settings/SyncPane.h"

#include "core/prefs/Preferences.h"
#include "core/sync/PairingCode.h"
#include "core/sync/RelayLink.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncService.h"
#include "platform/Clock.h"
#include "platform/FileManager.h"
#include "platform/ServiceDiscovery.h"
#include "platform/Workspace.h"
#include "ui/Theme.h"
#include "ui/settings/Hint.h"
#include "ui/settings/NumberField.h"
#include "ui/settings/PairingBox.h"
#include "ui/settings/PaneForm.h"
#include "ui/settings/RelativeTime.h"
#include "ui/settings/SyncDeviceList.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int kDot = 7;
constexpr int kNameWidth = 190;

QColor secondary(const QWidget* widget) {
    return widget->palette().color(QPalette::PlaceholderText);
}

// The small status light beside a status text.
QLabel* dot(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(kDot, kDot);
    return label;
}

void paintDot(QLabel* label, bool on) {
    const qreal ratio = label->devicePixelRatioF();
    QPixmap pixmap(QSize(kDot, kDot) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(on ? Theme::connectedGreen() : secondary(label));
    painter.drawEllipse(QRectF(0, 0, kDot, kDot));
    painter.end();
    label->setPixmap(pixmap);
}

// Wrapping is for the longer lines only: a wrapping label in a form row is
// given the height of one line and cut off.
QLabel* plainLabel(QWidget* parent, bool wrap = false) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    return label;
}

QWidget* inRow(QWidget* parent, std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    if (stretch)
        layout->addStretch(1);
    return row;
}

QString plural(qsizetype count, const QString& noun) {
    return QString::number(count) + u' ' + noun + (count == 1 ? QString() : u"s"_s);
}

const QString kIntroPlain = u"Devices find each other on the local network and talk directly. "
                            "Every clip is encrypted end to end."_s;
const QString kIntroRelay = u"Devices find each other on the local network and talk directly. "
                            "Every clip is encrypted end to end; the relay only forwards sealed "
                            "messages."_s;
} // namespace

SyncPane::SyncPane(Parts parts, QWidget* parent) : QWidget(parent), m_parts(std::move(parts)) {
    Preferences& prefs = m_parts.prefs;
    SyncService& sync = m_parts.sync;
    now = [] { return QDateTime::currentDateTimeUtc(); };
    confirmUnpair = [this](const SyncDevice& device) { return askUnpair(device); };

    PaneForm form(this, prefs);

    buildTop(form);

    // --- my devices ---
    QFormLayout* devices = form.section(u"My devices"_s);
    m_whileEnabled.append(qobject_cast<QGroupBox*>(devices->parentWidget()));
    m_noDevices = plainLabel(this, true);
    m_noDevices->setText(u"No devices yet. Pair another computer below."_s);
    m_noDevices->setForegroundRole(QPalette::PlaceholderText);
    devices->addRow(m_noDevices);
    m_devices = new SyncDeviceList(sync, m_parts.clock, confirmUnpair, this);
    devices->addRow(m_devices);
    form.hint(devices, u"Devices you pair anywhere show up here on their own — each device "
                       "passes the full list along. The switch pauses syncing with a device "
                       "without unpairing it."_s);

    // --- add a device ---
    QFormLayout* add = form.section(u"Add a device"_s);
    m_whileEnabled.append(qobject_cast<QGroupBox*>(add->parentWidget()));
    m_pairingBox = new PairingBox(sync, this);
    connect(m_pairingBox, &PairingBox::pairRequested, this, &SyncPane::startPairing);
    add->addRow(m_pairingBox);

    buildRelay(form);
    buildWhat(form);
    buildEvents(form);
    form.finish();

    // Every change redraws the whole pane: it is a few labels, and one
    // place deciding what shows keeps the states from drifting apart.
    const auto redraw = [this] { refresh(); };
    for (const auto signal : {&Preferences::syncEnabledChanged, &Preferences::relayEnabledChanged,
                              &Preferences::relayURLChanged})
        connect(&prefs, signal, this, redraw);
    for (const auto signal :
         {&SyncService::isRunningChanged, &SyncService::connectedPeerIdsChanged,
          &SyncService::relayConnectedPeerIdsChanged, &SyncService::discoveredUnpairedChanged,
          &SyncService::pairingCodeChanged, &SyncService::pairingExpiryChanged,
          &SyncService::isPreparingPairingChanged, &SyncService::lastEventChanged,
          &SyncService::isAdvertisingChanged, &SyncService::listenerPortChanged,
          &SyncService::peersChanged})
        connect(&sync, signal, this, redraw);

    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &SyncPane::refresh);
    m_name->setText(m_parts.identity.deviceName());
    refresh();
}

// --- building ---

bool SyncPane::askUnpair(const SyncDevice& device) {
    QMessageBox box(QMessageBox::Warning, u"Tindrel"_s,
                    u"Unpair \u201c"_s + device.name + u"\u201d?"_s, QMessageBox::NoButton,
                    window());
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(u"Clips stop syncing with it, and other devices' lists do not "
                           "bring it back. To sync with it again, pair it again."_s);
    QPushButton* yes = box.addButton(u"Unpair"_s, QMessageBox::DestructiveRole);
    QPushButton* no = box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void SyncPane::buildTop(PaneForm& form) {
    m_topForm = form.section(QString());
    form.toggle(m_topForm, u"Sync clipboard across my devices"_s, &Preferences::syncEnabled,
                &Preferences::setSyncEnabled, &Preferences::syncEnabledChanged)
        ->setObjectName(u"syncEnabledSwitch"_s);
    m_intro = form.hint(m_topForm);

    m_name = new QLineEdit(this);
    m_name->setObjectName(u"deviceNameField"_s);
    m_name->setFixedWidth(kNameWidth);
    connect(m_name, &QLineEdit::returnPressed, this, [this] { commitDeviceName(true); });
    m_topForm->addRow(u"This device"_s, m_name);

    m_localNetwork = plainLabel(this);
    m_localNetwork->setObjectName(u"localNetworkStatus"_s);
    m_topForm->addRow(u"Local Network"_s, m_localNetwork);
    m_localNetworkHint = form.hint(m_topForm, u"Devices find each other through Avahi (mDNS). A "
                                              "firewall must let mDNS (UDP 5353) and the port "
                                              "below through, or your other devices will not "
                                              "see this one."_s);

    m_statusDot = dot(this);
    m_status = plainLabel(this);
    m_status->setObjectName(u"statusText"_s);
    m_status->setForegroundRole(QPalette::PlaceholderText);
    m_statusRow = inRow(this, {m_statusDot, m_status});
    m_topForm->addRow(u"Status"_s, m_statusRow);

    m_listening = plainLabel(this);
    m_listening->setObjectName(u"listeningStatus"_s);
    m_listening->setForegroundRole(QPalette::PlaceholderText);
    m_listening->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_topForm->addRow(u"Port"_s, m_listening);
}

void SyncPane::buildRelay(PaneForm& form) {
    Preferences& prefs = m_parts.prefs;
    SyncService& sync = m_parts.sync;
    QFormLayout* relay = form.section(u"Internet relay"_s);
    m_whileEnabled.append(qobject_cast<QGroupBox*>(relay->parentWidget()));
    form.toggle(relay, u"Also sync when devices aren't on the same network"_s,
                &Preferences::relayEnabled, &Preferences::setRelayEnabled,
                &Preferences::relayEnabledChanged)
        ->setObjectName(u"relaySwitch"_s);
    form.hint(relay, u"Relay URL"_s);
    m_relayURL = new QLineEdit(this);
    m_relayURL->setObjectName(u"relayURLField"_s);
    m_relayURL->setPlaceholderText(u"wss://…/ws"_s);
    m_relayURL->setText(prefs.relayURL());
    connect(m_relayURL, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_parts.prefs.setRelayURL(text); });
    relay->addRow(m_relayURL);
    m_relayProblem = form.hint(relay);
    m_relayProblem->setObjectName(u"relayProblem"_s);
    QPalette warning = m_relayProblem->palette();
    warning.setColor(QPalette::PlaceholderText, QColor(0xd7, 0x30, 0x27));
    m_relayProblem->setPalette(warning);
    m_relayDot = dot(this);
    m_relayStatus = plainLabel(this);
    m_relayStatus->setObjectName(u"relayStatus"_s);
    m_relayStatus->setForegroundRole(QPalette::PlaceholderText);
    relay->addRow(u"Relay status"_s, inRow(this, {m_relayDot, m_relayStatus}));
    auto* apply = new QPushButton(u"Apply"_s, this);
    apply->setObjectName(u"applyRelayButton"_s);
    connect(apply, &QPushButton::clicked, &sync, &SyncService::startRelayLinks);
    relay->addRow(inRow(this, {apply}));
    form.hint(relay, u"The relay only ever forwards encrypted frames — it holds no keys and "
                     "cannot read your clips. Local network is still used when it works; the "
                     "relay is the fallback."_s);
}

void SyncPane::buildWhat(PaneForm& form) {
    QFormLayout* what = form.section(u"What gets synced"_s);
    m_whileEnabled.append(qobject_cast<QGroupBox*>(what->parentWidget()));
    form.toggle(what, u"Send my clips to other devices"_s, &Preferences::syncSend,
                &Preferences::setSyncSend, &Preferences::syncSendChanged)
        ->setObjectName(u"sendSwitch"_s);
    form.toggle(what, u"Accept clips from other devices"_s, &Preferences::syncReceive,
                &Preferences::setSyncReceive, &Preferences::syncReceiveChanged)
        ->setObjectName(u"receiveSwitch"_s);
    form.toggle(what, u"Notify me when a clip arrives"_s, &Preferences::syncNotify,
                &Preferences::setSyncNotify, &Preferences::syncNotifyChanged)
        ->setObjectName(u"notifySwitch"_s);
    form.number(what,
                new NumberField(u"Don't send clips longer than"_s, 0, 100'000'000, u"chars"_s,
                                u"0 means no limit."_s),
                &Preferences::syncMaxLength, &Preferences::setSyncMaxLength,
                &Preferences::syncMaxLengthChanged)
        ->setObjectName(u"syncMaxLengthField"_s);
    form.hint(what, u"Privacy rules apply before sync: anything Tindrel refuses to record — "
                    "password manager clips, concealed types, ignored apps — is never sent "
                    "either."_s);
}

void SyncPane::buildEvents(PaneForm& form) {
    QFormLayout* events = form.section(QString());
    m_eventBox = qobject_cast<QGroupBox*>(events->parentWidget());
    m_whileEnabled.append(m_eventBox);
    m_lastEvent = plainLabel(this, true);
    m_lastEvent->setObjectName(u"lastEvent"_s);
    m_lastEvent->setForegroundRole(QPalette::PlaceholderText);
    m_lastEvent->setTextInteractionFlags(Qt::TextSelectableByMouse);
    events->addRow(m_lastEvent);
    auto* openLog = new QPushButton(u"Open Log"_s, this);
    openLog->setObjectName(u"openLogButton"_s);
    connect(openLog, &QPushButton::clicked, this,
            [this] { m_parts.workspace.openUrl(QUrl::fromLocalFile(m_parts.logPath)); });
    auto* revealLog = new QPushButton(u"Show in File Manager"_s, this);
    revealLog->setObjectName(u"revealLogButton"_s);
    connect(revealLog, &QPushButton::clicked, this,
            [this] { m_parts.files.reveal(m_parts.logPath); });
    openLog->setEnabled(!m_parts.logPath.isEmpty());
    revealLog->setEnabled(!m_parts.logPath.isEmpty());
    events->addRow(u"Sync log"_s, inRow(this, {openLog, revealLog}));
}

// --- texts ---

QString SyncPane::statusText(bool running, qsizetype connected, bool hasPeers) {
    if (!running)
        return u"Off"_s;
    if (connected > 0)
        return plural(connected, u"device"_s) + u" connected"_s;
    return hasPeers ? u"No devices reachable"_s : u"Waiting to pair"_s;
}

QString SyncPane::countdown(const QDateTime& current, const QDateTime& expiry) {
    if (!expiry.isValid())
        return u"soon"_s;
    const qint64 seconds = std::max<qint64>(0, current.secsTo(expiry));
    return QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

QString SyncPane::subtitle(const SyncDevice& device, bool connected, Instant current) {
    if (!device.isEnabled())
        return u"Paused"_s;
    if (connected)
        return u"Connected"_s;
    if (device.lastSeen)
        return u"Last seen "_s +
               RelativeTime::spelledOut(current.sinceReference - device.lastSeen->sinceReference);
    return u"Never connected"_s;
}

QString SyncPane::relayStatus(qsizetype relayConnected, const QString& relayURL) {
    if (relayConnected > 0)
        return QString::number(relayConnected) + u" device(s) via relay"_s;
    return relayURL.isEmpty() ? u"No URL set"_s : u"Not connected"_s;
}

QString SyncPane::unpairedNearby(int count) {
    return QString::number(count) + u" unpaired Tindrel device"_s +
           (count == 1 ? QString() : u"s"_s) + u" visible on this network."_s;
}

QString SyncPane::iconName(const SyncDevice& device) {
    if (device.platform == u"android"_s)
        return u"phone"_s;
    if (device.platform == u"macos"_s)
        return u"laptop"_s;
    return u"computer"_s;
}

bool SyncPane::canJoin(const QString& typed) {
    return typed.contains(u"://"_s) ||
           PairingCode::normalize(typed).size() == qsizetype(PairingCode::length);
}

std::optional<QString> SyncPane::relayProblem(const QString& relayURL) {
    if (relayURL.trimmed().isEmpty() || RelayLink::linkUrl(relayURL, QString(64, u'0'), u"check"_s))
        return std::nullopt;
    return u"Not a relay address: it must begin with wss:// or ws://."_s;
}

// --- drawing ---

void SyncPane::refresh() {
    applySyncEnabled();
    showStatus();
    const bool anyDevices = m_devices->redraw();
    m_noDevices->setVisible(!anyDevices);
    m_devices->setVisible(anyDevices);
    m_pairingBox->redraw(now());
    showRelay();
    const QString event = m_parts.sync.lastEvent();
    m_lastEvent->setText(event);
    qobject_cast<QFormLayout*>(m_eventBox->layout())->setRowVisible(m_lastEvent, !event.isEmpty());
}

void SyncPane::applySyncEnabled() {
    const bool on = m_parts.prefs.syncEnabled();
    const QList<QWidget*> rows{m_name, m_localNetwork, m_localNetworkHint, m_statusRow,
                               m_listening};
    for (QWidget* row : rows)
        m_topForm->setRowVisible(row, on);
    for (QGroupBox* group : std::as_const(m_whileEnabled))
        group->setVisible(on);
    m_intro->setText(m_parts.prefs.relayEnabled() ? kIntroRelay : kIntroPlain);
}

void SyncPane::showStatus() {
    const SyncService& sync = m_parts.sync;
    m_localNetwork->setText(m_parts.discovery.isAvailable()
                                ? u"Available — avahi-daemon answers"_s
                                : u"Unavailable — avahi-daemon does not answer"_s);
    const qsizetype connected = sync.connectedPeerIds().size();
    paintDot(m_statusDot, connected > 0);
    m_status->setText(statusText(sync.isRunning(), connected, !sync.peers().isEmpty()));

    const int port = sync.listenerPort();
    if (!sync.isRunning() || port <= 0) {
        m_listening->setText(u"Not listening"_s);
    } else if (sync.isAdvertising()) {
        const QStringList addresses = sync.listenAddresses();
        m_listening->setText(
            u"TCP "_s + QString::number(port) + u", advertised"_s +
            (addresses.isEmpty() ? QString() : u" on "_s + addresses.join(u", "_s)));
    } else {
        m_listening->setText(u"TCP "_s + QString::number(port) + u", not advertised"_s);
    }
}

void SyncPane::showRelay() {
    const Preferences& prefs = m_parts.prefs;
    const bool on = prefs.relayEnabled();
    if (m_relayURL->text() != prefs.relayURL())
        m_relayURL->setText(prefs.relayURL());
    m_relayURL->setEnabled(on);
    const std::optional<QString> problem = on ? relayProblem(prefs.relayURL()) : std::nullopt;
    m_relayProblem->setText(problem.value_or(QString()));
    qobject_cast<QFormLayout*>(m_relayProblem->parentWidget()->layout())
        ->setRowVisible(m_relayProblem, problem.has_value());
    const qsizetype linked = m_parts.sync.relayConnectedPeerIds().size();
    paintDot(m_relayDot, linked > 0);
    m_relayStatus->setText(relayStatus(linked, prefs.relayURL()));
}

// --- actions ---

void SyncPane::startPairing() {
    m_parts.sync.startPairing(pairingDuration);
    refresh();
}

void SyncPane::join() {
    m_pairingBox->join();
}

void SyncPane::commitDeviceName(bool pressedReturn) {
    SyncIdentity& identity = m_parts.identity;
    const QString typed = m_name->text();
    if (!pressedReturn && (typed.isEmpty() || typed == identity.deviceName()))
        return;
    const QString before = identity.deviceName();
    identity.setDeviceName(typed);
    m_name->setText(identity.deviceName());
    // Peers learn a new name from what we advertise, so the service starts over.
    if (identity.deviceName() != before && m_parts.sync.isRunning()) {
        m_parts.sync.stop();
        m_parts.sync.start();
    }
}

void SyncPane::showEvent(QShowEvent* event) {
    m_name->setText(m_parts.identity.deviceName());
    refresh();
    m_tick.start();
    QWidget::showEvent(event);
}

void SyncPane::hideEvent(QHideEvent* event) {
    m_tick.stop();
    commitDeviceName(false);
    QWidget::hideEvent(event);
}

void SyncPane::changeEvent(QEvent* event) {
    // Grey icons are tinted from the palette: a new theme draws them anew.
    if (event->type() == QEvent::PaletteChange) {
        m_devices->forgetIcons();
        refresh();
    }
    QWidget::changeEvent(event);
}
