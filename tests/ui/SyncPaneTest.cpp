#include "SettingsFixture.h"

#include "core/sync/PairingCode.h"
#include "core/sync/SyncPeerStore.h"
#include "support/SyncTestDevice.h"
#include "ui/Symbols.h"
#include "ui/settings/QRView.h"
#include "ui/settings/SyncPane.h"

#include <QCheckBox>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>

// The sync pane over a real sync service listening on loopback; DNS-SD is
// played by the test. With TINDREL_SCREENSHOTS set to a folder, each state
// is also saved there as a picture.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
constexpr int kWaitMs = 5000;

QString key(char fill) {
    return QString::fromLatin1(QByteArray(32, fill).toBase64());
}

class SyncPaneTest : public SettingsFixture {
protected:
    SyncPane& shown() {
        window().select(SettingsTab::sync);
        showActive();
        return pane<SyncPane>(SettingsTab::sync);
    }
    template <typename W> W* find(const QString& name) {
        auto* found = window().pane(SettingsTab::sync)->findChild<W*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QString text(const QString& name) { return find<QLabel>(name)->text(); }
    bool visible(const QString& name) { return find<QWidget>(name)->isVisible(); }
    void turnOn() {
        find<QCheckBox>(u"syncEnabledSwitch"_s)->click();
        ASSERT_TRUE(sync().isRunning());
    }
    QWidget* row(const QString& id) { return find<QWidget>(u"device:"_s + id); }
    QString subtitleOf(const QString& id) {
        return row(id)->findChild<QLabel*>(u"deviceSubtitle"_s)->text();
    }
    QCheckBox* switchOf(const QString& id) {
        return row(id)->findChild<QCheckBox*>(u"pauseSwitch"_s);
    }
    std::optional<SyncDevice> stored(const QString& id) {
        for (const SyncDevice& device : sync().peers())
            if (device.id == id)
                return device;
        return std::nullopt;
    }
    // Waits until the code is on screen.
    bool pairingShown() {
        return QTest::qWaitFor([&] { return visible(u"pairingCode"_s); }, kWaitMs);
    }
    // The whole pane by default, also what lies below the window's fold;
    // or one section of it with a margin.
    void shoot(const QString& name, QWidget* section = nullptr) {
        const QString folder = qEnvironmentVariable("TINDREL_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        QDir().mkpath(folder);
        QTest::qWait(100); // layouts settle over a few events
        QWidget* whole = window().pane(SettingsTab::sync);
        const QRect area = section ? section->geometry().adjusted(-14, -14, 14, 10) : QRect();
        whole->grab(section ? area : QRect(QPoint(0, 0), QSize(-1, -1)))
            .save(QDir(folder).filePath(name + u".png"_s));
    }
};
} // namespace

TEST(SyncPaneTexts, StatusAndDeviceLinesFollowTheirRules) {
    struct Status {
        bool running;
        qsizetype connected;
        bool hasPeers;
        QString expected;
    };
    const Status statuses[] = {
        {false, 0, true, u"Off"_s},
        {true, 1, true, u"1 device connected"_s},
        {true, 2, true, u"2 devices connected"_s},
        {true, 0, true, u"No devices reachable"_s},
        {true, 0, false, u"Waiting to pair"_s},
    };
    for (const Status& s : statuses)
        EXPECT_EQ(SyncPane::statusText(s.running, s.connected, s.hasPeers), s.expected);

    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    const std::pair<qint64, QString> countdowns[] = {
        {180, u"3:00"_s}, {7, u"0:07"_s}, {61, u"1:01"_s}, {0, u"0:00"_s}, {-30, u"0:00"_s}};
    for (const auto& [left, expected] : countdowns)
        EXPECT_EQ(SyncPane::countdown(expiry.addSecs(-left), expiry), expected) << left;
    EXPECT_EQ(SyncPane::countdown(expiry, QDateTime()), u"soon"_s);

    const Instant now = Instant::fromReference(800'000'000);
    SyncDevice device{u"D"_s, u"Dora"_s, key('d'), {}, {}, {}};
    EXPECT_EQ(SyncPane::subtitle(device, false, now), u"Never connected"_s);
    EXPECT_EQ(SyncPane::subtitle(device, true, now), u"Connected"_s);
    const std::pair<double, QString> ago[] = {
        {0, u"Last seen 0 seconds ago"_s},
        {1, u"Last seen 1 second ago"_s},
        {59, u"Last seen 59 seconds ago"_s},
        {60, u"Last seen 1 minute ago"_s},
        {300, u"Last seen 5 minutes ago"_s},
        {7200, u"Last seen 2 hours ago"_s},
        {86400 * 3, u"Last seen 3 days ago"_s},
        {-120, u"Last seen in 2 minutes"_s},
        {1e300, u"Last seen 1000000000 years ago"_s},
    };
    for (const auto& [seconds, expected] : ago) {
        device.lastSeen = now.plus(-seconds);
        EXPECT_EQ(SyncPane::subtitle(device, false, now), expected) << seconds;
    }
    device.enabled = false;
    EXPECT_EQ(SyncPane::subtitle(device, true, now), u"Paused"_s) << "paused outranks connected";

    const std::pair<std::optional<QString>, QString> icons[] = {{std::nullopt, u"computer"_s},
                                                                {u"android"_s, u"phone"_s},
                                                                {u"macos"_s, u"laptop"_s},
                                                                {u"linux"_s, u"computer"_s}};
    for (const auto& [platform, expected] : icons) {
        device.platform = platform;
        EXPECT_EQ(SyncPane::iconName(device), expected);
        EXPECT_TRUE(Symbols::exists(expected)) << expected.toStdString();
    }

    EXPECT_EQ(SyncPane::unpairedNearby(1), u"1 unpaired Tindrel device visible on this network."_s);
    EXPECT_EQ(SyncPane::unpairedNearby(3),
              u"3 unpaired Tindrel devices visible on this network."_s);
}

TEST(SyncPaneTexts, JoinAndRelayInputsAreJudgedBeforeAnythingIsSent) {
    const std::pair<QString, bool> joins[] = {
        {u"7K0-M1N-P4R"_s, true},
        {u" 7k0m1np4r "_s, true},
        {u"7K0-M1N-P4"_s, false},   // 8 characters
        {u"7K0-M1N-P4RX"_s, false}, // 10 characters
        {QString(), false},
        {u"tindrel://pair?code=7K0M1NP4R&port=51785&hosts=192.0.2.7"_s, true},
    };
    for (const auto& [typed, expected] : joins)
        EXPECT_EQ(SyncPane::canJoin(typed), expected) << typed.toStdString();

    const std::pair<QString, bool> relays[] = {
        {QString(), false},
        {u"wss://relay.example.com/ws"_s, false},
        {u"  ws://127.0.0.1:8080/ws/ "_s, false},
        {u"relay.example.com/ws"_s, true},
        {u"ftp://relay.example.com"_s, true},
        {u"wss://"_s, true},
    };
    for (const auto& [url, bad] : relays)
        EXPECT_EQ(SyncPane::relayProblem(url).has_value(), bad) << url.toStdString();

    EXPECT_EQ(SyncPane::relayStatus(0, QString()), u"No URL set"_s);
    EXPECT_EQ(SyncPane::relayStatus(0, u"wss://r/ws"_s), u"Not connected"_s);
    EXPECT_EQ(SyncPane::relayStatus(2, QString()), u"2 device(s) via relay"_s);
}

TEST_F(SyncPaneTest, SyncOffShowsOnlyItsSwitchAndTurningItOnShowsTheRest) {
    shown();
    EXPECT_TRUE(visible(u"syncEnabledSwitch"_s));
    for (const QString& name : {u"deviceNameField"_s, u"statusText"_s, u"pairButton"_s,
                                u"relaySwitch"_s, u"sendSwitch"_s, u"lastEvent"_s})
        EXPECT_FALSE(visible(name)) << name.toStdString();
    EXPECT_TRUE(hintStartingWith(*window().pane(SettingsTab::sync),
                                 u"Devices find each other on the local network and talk "
                                 "directly. Every clip is encrypted end to end."_s));
    shoot(u"sync-off"_s);

    turnOn();
    EXPECT_EQ(find<QLineEdit>(u"deviceNameField"_s)->text(), u"Anna's laptop"_s);
    EXPECT_EQ(text(u"statusText"_s), u"Waiting to pair"_s);
    EXPECT_TRUE(visible(u"pairButton"_s));
    EXPECT_EQ(text(u"localNetworkStatus"_s), u"Available — avahi-daemon answers"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sync().isAdvertising(); }, kWaitMs));
    EXPECT_EQ(text(u"listeningStatus"_s),
              u"TCP "_s + QString::number(sync().listenerPort()) + u", advertised on 127.0.0.1"_s);
    EXPECT_EQ(text(u"lastEvent"_s), sync().lastEvent());
    EXPECT_TRUE(visible(u"lastEvent"_s));
    shoot(u"sync-on-no-devices"_s);

    discovery.setAvailable(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return text(u"localNetworkStatus"_s) == u"Unavailable — avahi-daemon does not answer"_s;
        },
        kWaitMs));
    EXPECT_EQ(text(u"listeningStatus"_s),
              u"TCP "_s + QString::number(sync().listenerPort()) + u", not advertised"_s);

    find<QPushButton>(u"openLogButton"_s)->click();
    find<QPushButton>(u"revealLogButton"_s)->click();
    EXPECT_EQ(workspace.opened, QList<QUrl>{QUrl::fromLocalFile(path(u"sync.log"_s))});
    EXPECT_EQ(files.revealed, QStringList{path(u"sync.log"_s)});

    find<QCheckBox>(u"syncEnabledSwitch"_s)->click();
    EXPECT_FALSE(sync().isRunning());
    EXPECT_FALSE(visible(u"deviceNameField"_s));
}

TEST_F(SyncPaneTest, PairShowsTheCodeItsQRCodeAndACountdownThatTicksUntilCancel) {
    SyncPane& pane = shown();
    turnOn();
    find<QPushButton>(u"pairButton"_s)->click();
    ASSERT_TRUE(pairingShown());
    const QString code = sync().pairingCode();
    EXPECT_EQ(text(u"pairingCode"_s), PairingCode::format(code));
    EXPECT_FALSE(visible(u"pairButton"_s));
    auto* qr = find<QRView>(u"pairingQR"_s);
    EXPECT_TRUE(qr->isVisible());
    EXPECT_TRUE(qr->hasImage());
    EXPECT_EQ(qr->text(), sync().pairingURL().value());
    EXPECT_EQ(find<QLineEdit>(u"pairingLink"_s)->text(), qr->text());
    EXPECT_TRUE(text(u"pairingExpiry"_s) == u"Expires in 3:00."_s ||
                text(u"pairingExpiry"_s) == u"Expires in 2:59."_s)
        << text(u"pairingExpiry"_s).toStdString();
    // Three minutes from when it opened, which was a moment ago: a slow
    // machine may have crossed a second boundary since.
    const qint64 left = sync().pairingExpiry().toSecsSinceEpoch() -
                        QDateTime::currentDateTimeUtc().toSecsSinceEpoch();
    EXPECT_TRUE(left <= 180 && left >= 175) << left << ": the pane opens windows of three minutes";
    shoot(u"pairing-open"_s);
    shoot(u"pairing-open-section"_s,
          find<QWidget>(u"pairingWindow"_s)->parentWidget()->parentWidget());

    // Only the tick redraws here: nothing else changes.
    const QDateTime expiry = sync().pairingExpiry();
    pane.now = [expiry] { return expiry.addSecs(-7); };
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return text(u"pairingExpiry"_s) == u"Expires in 0:07."_s; }, 2500));
    pane.now = [expiry] { return expiry.addSecs(5); };
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return text(u"pairingExpiry"_s) == u"Expires in 0:00."_s; }, 2500));

    find<QPushButton>(u"cancelPairingButton"_s)->click();
    EXPECT_TRUE(sync().pairingCode().isEmpty());
    EXPECT_TRUE(visible(u"pairButton"_s));
    EXPECT_FALSE(visible(u"pairingCode"_s));
    EXPECT_TRUE(qr->text().isEmpty());
}

TEST_F(SyncPaneTest, ATypedCodeJoinsTheComputerThatShowsIt) {
    SyncTestDevice bert(u"Bert"_s);
    bert.boot();
    bert.start();
    const QString code = bert.openPairing();
    ASSERT_FALSE(code.isEmpty());

    shown();
    turnOn();
    EXPECT_FALSE(visible(u"joinCodeField"_s)) << "the join path starts folded away";
    find<QToolButton>(u"joinDisclosure"_s)->click();
    EXPECT_FALSE(visible(u"unpairedNearby"_s));
    discovery.announce({bert.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return visible(u"unpairedNearby"_s); }, kWaitMs));
    EXPECT_EQ(text(u"unpairedNearby"_s), u"1 unpaired Tindrel device visible on this network."_s);
    auto* field = find<QLineEdit>(u"joinCodeField"_s);
    auto* join = find<QPushButton>(u"joinButton"_s);
    ASSERT_TRUE(field->isVisible());
    QTest::keyClicks(field, PairingCode::format(code).toLower().chopped(1));
    EXPECT_FALSE(join->isEnabled());
    QTest::keyClicks(field, code.right(1).toLower() + u"X"_s);
    EXPECT_FALSE(join->isEnabled());
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_TRUE(join->isEnabled());

    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(field->text().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bert.service->peers().size() == 1 && sync().peers().size() == 1; }, kWaitMs));
    // The request went out, then what came of it.
    EXPECT_TRUE(visible(u"joinResult"_s));
    EXPECT_EQ(text(u"joinResult"_s), u"Paired with Bert"_s);
    const QString bertId = bert.identity.deviceId();
    EXPECT_EQ(row(bertId)->findChild<QLabel*>(u"deviceName"_s)->text(), u"Bert"_s);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return text(u"statusText"_s) == u"1 device connected"_s; }, kWaitMs));
    EXPECT_EQ(subtitleOf(bertId), u"Connected"_s);
}

TEST_F(SyncPaneTest, PausedDevicesAreFaintAndEachRowActsOnItsOwnDevice) {
    SyncPeerStore peers(settings, clock);
    ASSERT_TRUE(peers.upsert({u"C1"_s, u"Cleo"_s, key('c'), clock.now().plus(-300), {}, {}}));
    ASSERT_TRUE(peers.upsert({u"D1"_s, u"Dora"_s, key('d'), {}, u"android"_s, false}));
    shown();
    turnOn();

    EXPECT_EQ(text(u"statusText"_s), u"No devices reachable"_s);
    EXPECT_FALSE(visible(u"pairingCode"_s));
    EXPECT_EQ(subtitleOf(u"C1"_s), u"Last seen 5 minutes ago"_s);
    EXPECT_EQ(subtitleOf(u"D1"_s), u"Paused"_s);
    EXPECT_TRUE(switchOf(u"C1"_s)->isChecked());
    EXPECT_FALSE(switchOf(u"D1"_s)->isChecked());
    EXPECT_EQ(row(u"C1"_s)->graphicsEffect(), nullptr);
    auto* faint = qobject_cast<QGraphicsOpacityEffect*>(row(u"D1"_s)->graphicsEffect());
    ASSERT_NE(faint, nullptr);
    EXPECT_DOUBLE_EQ(faint->opacity(), 0.6);
    shoot(u"devices-one-paused"_s);

    switchOf(u"C1"_s)->click();
    EXPECT_FALSE(stored(u"C1"_s)->isEnabled());
    EXPECT_FALSE(stored(u"D1"_s)->isEnabled());
    EXPECT_EQ(sync().lastEvent(), u"Paused syncing with Cleo"_s);
    switchOf(u"D1"_s)->click();
    EXPECT_TRUE(stored(u"D1"_s)->isEnabled());
    EXPECT_FALSE(stored(u"C1"_s)->isEnabled());
    EXPECT_EQ(row(u"D1"_s)->graphicsEffect(), nullptr);
    EXPECT_EQ(subtitleOf(u"D1"_s), u"Never connected"_s);

    SyncPane& sp = pane<SyncPane>(SettingsTab::sync);
    QStringList asked;
    bool answer = false;
    sp.confirmUnpair = [&](const SyncDevice& device) {
        asked << device.name;
        return answer;
    };
    auto* unpairDora = row(u"D1"_s)->findChild<QPushButton*>(u"unpairButton"_s);
    unpairDora->click();
    EXPECT_EQ(sync().peers().size(), 2) << "unpaired without the user's yes";
    answer = true;
    unpairDora->click();
    EXPECT_EQ(asked, (QStringList{u"Dora"_s, u"Dora"_s}));
    ASSERT_EQ(sync().peers().size(), 1);
    EXPECT_EQ(sync().peers().first().id, u"C1"_s);
    EXPECT_TRUE(sync().unpairedIds().contains(u"D1"_s));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !window().findChild<QWidget*>(u"device:D1"_s); }, kWaitMs));
}

TEST_F(SyncPaneTest, RelayWithABadAddressSaysSoAndApplyRebuildsTheLinks) {
    ASSERT_TRUE(SyncPeerStore(settings, clock).upsert({u"C1"_s, u"Cleo"_s, key('c'), {}, {}, {}}));
    shown();
    turnOn();
    auto* url = find<QLineEdit>(u"relayURLField"_s);
    EXPECT_FALSE(url->isEnabled());

    find<QCheckBox>(u"relaySwitch"_s)->click();
    EXPECT_TRUE(prefs.relayEnabled());
    EXPECT_TRUE(url->isEnabled());
    EXPECT_EQ(text(u"relayStatus"_s), u"No URL set"_s);
    EXPECT_TRUE(hintStartingWith(*window().pane(SettingsTab::sync),
                                 u"Devices find each other on the local network and talk "
                                 "directly. Every clip is encrypted end to end; the relay only "
                                 "forwards sealed messages."_s));

    QTest::keyClicks(url, u"relay.example.com/ws"_s);
    EXPECT_EQ(prefs.relayURL(), u"relay.example.com/ws"_s);
    EXPECT_TRUE(visible(u"relayProblem"_s));
    EXPECT_TRUE(text(u"relayProblem"_s).startsWith(u"Not a relay address"_s));
    EXPECT_EQ(text(u"relayStatus"_s), u"Not connected"_s);
    shoot(u"relay-bad-address"_s);

    // Nothing listens there; the link only has to be built.
    url->clear();
    QTest::keyClicks(url, u"ws://127.0.0.1:9/ws"_s);
    EXPECT_FALSE(visible(u"relayProblem"_s));
    find<QPushButton>(u"applyRelayButton"_s)->click();
    EXPECT_EQ(sync().lastEvent(), u"Relay enabled for 1 device(s)"_s);

    // Changed elsewhere (a reset): the field follows.
    prefs.setRelayURL(QString());
    EXPECT_TRUE(url->text().isEmpty());
    EXPECT_EQ(text(u"relayStatus"_s), u"No URL set"_s);
}

TEST_F(SyncPaneTest, TheDeviceNameIsStoredOnReturnOrOnLeavingButNeverEmptied) {
    shown();
    turnOn();
    auto* name = find<QLineEdit>(u"deviceNameField"_s);

    name->selectAll();
    QTest::keyClicks(name, u"Studio"_s);
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(identity.deviceName(), u"Studio"_s);
    ASSERT_TRUE(discovery.published);
    EXPECT_EQ(discovery.published->name, u"Studio"_s) << "the new name is not advertised";
    EXPECT_TRUE(sync().isRunning());

    // Leaving with an empty field keeps the name; coming back shows it.
    name->clear();
    window().select(SettingsTab::general);
    EXPECT_EQ(identity.deviceName(), u"Studio"_s);
    window().select(SettingsTab::sync);
    EXPECT_EQ(name->text(), u"Studio"_s);

    name->selectAll();
    QTest::keyClicks(name, u"Attic"_s);
    window().select(SettingsTab::general);
    EXPECT_EQ(identity.deviceName(), u"Attic"_s);
    EXPECT_EQ(discovery.published->name, u"Attic"_s);

    window().select(SettingsTab::sync);
    name->clear();
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(identity.deviceName(), u"Attic"_s);
    EXPECT_EQ(name->text(), u"Attic"_s);
}

// Where discovery is blocked: the host's link, pasted whole, finds it; a
// link cut short says so beside the field and sends nothing.
TEST_F(SyncPaneTest, APastedLinkJoinsWithoutDiscoveryAndABrokenOneSaysSo) {
    SyncTestDevice bert(u"Bert"_s);
    bert.boot();
    bert.start();
    ASSERT_FALSE(bert.openPairing().isEmpty());
    const QString link = bert.service->pairingURL().value();
    shown();
    turnOn();
    find<QToolButton>(u"joinDisclosure"_s)->click();
    auto* field = find<QLineEdit>(u"joinCodeField"_s);
    auto* join = find<QPushButton>(u"joinButton"_s);

    field->setText(link.left(link.indexOf(u"&port="_s)));
    ASSERT_TRUE(join->isEnabled());
    join->click();
    EXPECT_EQ(text(u"joinResult"_s),
              u"This pairing link is not valid — copy the whole link again"_s);
    EXPECT_TRUE(visible(u"joinResult"_s));

    field->setText(link);
    join->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sync().peers().size() == 1 && bert.service->peers().size() == 1; }, kWaitMs));
    // What came of the request, not only that it went out.
    EXPECT_EQ(text(u"joinResult"_s), u"Paired with Bert"_s);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return text(u"statusText"_s) == u"1 device connected"_s; }, kWaitMs));
}

// A host that holds all the devices it can says so, and the pane that asked
// shows it where the join's outcome goes and as the last event.
TEST_F(SyncPaneTest, AJoinAFullHostRefusesShowsWhy) {
    SyncTestDevice bert(u"Bert"_s);
    SyncPeerStore bertPeers(bert.settings, bert.clock);
    for (int i = 0; bertPeers.peers().size() < SyncPeerStore::maxDevices; ++i)
        ASSERT_TRUE(bertPeers.upsert(
            SyncDevice{u"D"_s + QString::number(i), u"d"_s, key('k'), {}, {}, {}}));
    bert.boot();
    bert.start();
    ASSERT_FALSE(bert.openPairing().isEmpty());
    shown();
    turnOn();
    find<QToolButton>(u"joinDisclosure"_s)->click();
    find<QLineEdit>(u"joinCodeField"_s)->setText(bert.service->pairingURL().value());
    find<QPushButton>(u"joinButton"_s)->click();
    const QString said =
        u"Bert refused to pair: This computer already has the most paired devices it can hold"_s;
    EXPECT_TRUE(QTest::qWaitFor([&] { return text(u"joinResult"_s) == said; }, kWaitMs))
        << text(u"joinResult"_s).toStdString();
    EXPECT_EQ(text(u"lastEvent"_s), said);
    EXPECT_TRUE(sync().peers().isEmpty());
}

// What a camera reads off the screen: the code, decoded by zbarimg at two
// scale factors, carries a link that pairs another computer.
TEST_F(SyncPaneTest, TheQRCodeHoldsALinkThatPairsAnotherComputer) {
    const QString zbarimg = QStandardPaths::findExecutable(u"zbarimg"_s);
    if (zbarimg.isEmpty())
        GTEST_SKIP() << "zbarimg is not installed (Debian package zbar-tools)";
    shown();
    turnOn();
    find<QPushButton>(u"pairButton"_s)->click();
    ASSERT_TRUE(pairingShown());
    auto* qr = find<QRView>(u"pairingQR"_s);

    QString link;
    for (const qreal ratio : {1.0, 1.5, 2.0}) {
        const QString file = path(u"qr-"_s + QString::number(ratio) + u".png"_s);
        ASSERT_TRUE(qr->image(ratio).save(file));
        QProcess scan;
        scan.start(zbarimg, {u"--raw"_s, u"-q"_s, file});
        ASSERT_TRUE(scan.waitForFinished(10000));
        const QString read = QString::fromUtf8(scan.readAllStandardOutput()).trimmed();
        EXPECT_EQ(read, qr->text()) << "at scale " << ratio;
        link = read;
    }
    ASSERT_TRUE(link.startsWith(u"tindrel://pair?"_s));

    SyncTestDevice bert(u"Bert"_s);
    bert.boot();
    bert.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bert.service->isAdvertising(); }, kWaitMs));
    EXPECT_EQ(bert.join(link), u"Pairing request sent"_s);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sync().peers().size() == 1 && bert.service->peers().size() == 1; }, kWaitMs));
    EXPECT_EQ(sync().peers().first().id, bert.identity.deviceId());
    EXPECT_TRUE(QTest::qWaitFor([&] { return visible(u"pairButton"_s); }, kWaitMs))
        << "the pane still shows a window that has paired";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return text(u"statusText"_s) == u"1 device connected"_s; }, kWaitMs));
}
