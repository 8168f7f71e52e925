#include "ui/settings/SyncDeviceList.h"

#include "core/sync/SyncService.h"
#include "platform/Clock.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/settings/Hint.h"
#include "ui/settings/SyncPane.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int kDeviceIcon = 22;
} // namespace

SyncDeviceList::SyncDeviceList(SyncService& sync, const Clock& clock, const Confirm& confirmUnpair,
                               QWidget* parent)
    : QWidget(parent), m_sync(sync), m_clock(clock), m_confirmUnpair(confirmUnpair) {
    setObjectName(u"deviceList"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
}

std::optional<SyncDevice> SyncDeviceList::device(const QString& id) const {
    for (const SyncDevice& peer : m_sync.peers())
        if (peer.id == id)
            return peer;
    return std::nullopt;
}

void SyncDeviceList::build() {
    // Later, not now: the click that led here may come from one of these rows.
    for (const DeviceRow& row : std::as_const(m_rows)) {
        row.row->hide();
        row.row->deleteLater();
    }
    m_rows.clear();
    for (const SyncDevice& peer : m_sync.peers()) {
        auto* row = new QWidget(this);
        row->setObjectName(u"device:"_s + peer.id);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* icon = new QLabel(row);
        icon->setFixedSize(kDeviceIcon, kDeviceIcon);
        line->addWidget(icon);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(0);
        auto* name = new QLabel(peer.name, row);
        name->setObjectName(u"deviceName"_s);
        name->setTextFormat(Qt::PlainText);
        // A peer may call itself anything up to 100 characters long.
        name->setWordWrap(true);
        texts->addWidget(name);
        auto* subtitle = new Hint(QString(), row);
        subtitle->setObjectName(u"deviceSubtitle"_s);
        texts->addWidget(subtitle);
        line->addLayout(texts, 1);
        auto* active = new QCheckBox(row);
        active->setObjectName(u"pauseSwitch"_s);
        active->setAccessibleName(u"Sync with "_s + peer.name);
        active->setToolTip(u"Sync with this device"_s);
        line->addWidget(active);
        auto* unpairButton = new QPushButton(u"Unpair"_s, row);
        unpairButton->setObjectName(u"unpairButton"_s);
        line->addWidget(unpairButton);
        const QString id = peer.id;
        connect(active, &QCheckBox::toggled, this, [this, id](bool on) { setActive(id, on); });
        connect(unpairButton, &QPushButton::clicked, this, [this, id] { unpair(id); });
        layout()->addWidget(row);
        m_rows.append({id, row, icon, subtitle, active, std::nullopt});
    }
}

bool SyncDeviceList::redraw() {
    const QList<SyncDevice> peers = m_sync.peers();
    const bool sameDevices =
        std::equal(peers.cbegin(), peers.cend(), m_rows.cbegin(), m_rows.cend(),
                   [](const SyncDevice& peer, const DeviceRow& row) { return peer.id == row.id; });
    if (!sameDevices)
        build();

    const QStringList connected = m_sync.connectedPeerIds();
    const Instant current = m_clock.now();
    const QColor grey = palette().color(QPalette::PlaceholderText);
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const SyncDevice& peer = peers.at(i);
        DeviceRow& row = m_rows[i];
        const bool isConnected = connected.contains(peer.id);
        const std::pair<QString, bool> icon(SyncPane::iconName(peer), isConnected);
        if (row.iconDrawn != icon) {
            row.icon->setPixmap(Symbols::tinted(icon.first,
                                                isConnected ? Theme::connectedGreen() : grey,
                                                kDeviceIcon, devicePixelRatioF()));
            row.iconDrawn = icon;
        }
        if (auto* name = row.row->findChild<QLabel*>(u"deviceName"_s))
            name->setText(peer.name);
        row.subtitle->setText(SyncPane::subtitle(peer, isConnected, current));
        {
            const QSignalBlocker blocker(row.active);
            row.active->setChecked(peer.isEnabled());
        }
        // A paused device stays in the list, drawn faint.
        if (peer.isEnabled()) {
            row.row->setGraphicsEffect(nullptr);
        } else if (!row.row->graphicsEffect()) {
            auto* faint = new QGraphicsOpacityEffect(row.row);
            faint->setOpacity(0.6);
            row.row->setGraphicsEffect(faint);
        }
    }
    return !peers.isEmpty();
}

void SyncDeviceList::forgetIcons() {
    for (DeviceRow& row : m_rows)
        row.iconDrawn.reset();
}

void SyncDeviceList::setActive(const QString& id, bool active) {
    if (const std::optional<SyncDevice> peer = device(id))
        m_sync.setEnabled(active, *peer);
}

void SyncDeviceList::unpair(const QString& id) {
    const std::optional<SyncDevice> peer = device(id);
    if (!peer || !m_confirmUnpair(*peer))
        return;
    // Asked again: the device may have gone while the question was open.
    if (const std::optional<SyncDevice> still = device(id))
        m_sync.unpair(*still);
}
