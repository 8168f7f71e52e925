#include "KdeSession.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QRect>
#include <QRegularExpression>
#include <QScopeGuard>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// A tray host as Plasma's is to its items: the watcher they register with,
// with a host said to be there.
class TrayWatcher final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    bool hostRegistered() const { return true; }
    QStringList items() const { return registered; }
    int protocolVersion() const { return 0; }

    QStringList registered;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        registered << (service.startsWith(u'/') ? message().service() : service);
    }
    void RegisterStatusNotifierHost(const QString&) {}
};

// The X11 window a process has mapped (KWin lists those it manages); 0
// when none.
quint64 mappedWindowOf(qint64 pid) {
    QProcess list;
    list.start(u"xprop"_s, {u"-root"_s, u"_NET_CLIENT_LIST"_s});
    if (!list.waitForFinished(5000))
        return 0;
    static const QRegularExpression id(u"0x[0-9a-fA-F]+"_s);
    for (const QRegularExpressionMatch& match :
         id.globalMatch(QString::fromLatin1(list.readAll()))) {
        QProcess owner;
        owner.start(u"xprop"_s, {u"-id"_s, match.captured(0), u"_NET_WM_PID"_s});
        if (owner.waitForFinished(5000) && QString::fromLatin1(owner.readAll())
                                               .trimmed()
                                               .endsWith(u" = "_s + QString::number(pid)))
            return match.captured(0).toULongLong(nullptr, 16);
    }
    return 0;
}

// Where an X11 window is on the screen.
QRect x11Geometry(quint64 window) {
    QProcess xwininfo;
    xwininfo.start(u"xwininfo"_s, {u"-id"_s, QString::number(window)});
    if (!xwininfo.waitForFinished(5000))
        return {};
    const QString out = QString::fromLatin1(xwininfo.readAll());
    const auto number = [&](const QString& label) {
        const QRegularExpression re(label + u":\\s+(-?[0-9]+)"_s);
        return re.match(out).captured(1).toInt();
    };
    return {number(u"Absolute upper-left X"_s), number(u"Absolute upper-left Y"_s),
            number(u"Width"_s), number(u"Height"_s)};
}
} // namespace

class KdeTrayTest : public KdeTindrelTest {
protected:
    void SetUp() override {
        KdeTindrelTest::SetUp();
        if (IsSkipped())
            return;
        bus = QDBusConnection::connectToBus(session.busAddress, u"kde-tray"_s);
        ASSERT_TRUE(bus.registerService(u"org.kde.StatusNotifierWatcher"_s));
        ASSERT_TRUE(bus.registerObject(u"/StatusNotifierWatcher"_s, &watcher,
                                       QDBusConnection::ExportAllSlots |
                                           QDBusConnection::ExportAllProperties));
    }
    void TearDown() override {
        KdeTindrelTest::TearDown();
        QDBusConnection::disconnectFromBus(u"kde-tray"_s);
    }

    // Tindrel's item: others register too (the portal's, while it lets a
    // program send keys).
    QString ourItem() const {
        const QString pid = u"-"_s + QString::number(tindrel.processId()) + u"-"_s;
        for (const QString& item : watcher.registered)
            if (item.contains(pid))
                return item;
        return QString();
    }

    QVariantMap properties() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            ourItem(), u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s, u"GetAll"_s);
        call.setArguments({u"org.kde.StatusNotifierItem"_s});
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return qdbus_cast<QVariantMap>(reply.arguments().at(0));
    }
    // A click the tray passes on: asked without waiting, as a tray does.
    void click(const QString& method, int x, int y) {
        QDBusMessage call = QDBusMessage::createMethodCall(ourItem(), u"/StatusNotifierItem"_s,
                                                           u"org.kde.StatusNotifierItem"_s, method);
        call.setArguments({x, y});
        bus.call(call, QDBus::NoBlock);
    }
    // Where the panel is once it has opened on a click, and closed again.
    QRect panelAfterClickAt(int x, int y) {
        quint64 panel = 0;
        // A click right after the panel closed is taken for the one that
        // closed it, and ignored: clicked again until it opens.
        for (int attempt = 0; attempt < 10 && panel == 0; ++attempt) {
            click(u"Activate"_s, x, y);
            waitUntil(
                [&] {
                    panel = mappedWindowOf(tindrel.processId());
                    return panel != 0;
                },
                1000);
        }
        if (panel == 0)
            return {};
        const QRect geometry = x11Geometry(panel);
        command({u"--toggle-panel"_s});
        EXPECT_TRUE(waitUntil([&] { return mappedWindowOf(tindrel.processId()) == 0; }));
        return geometry;
    }

    QDBusConnection bus{u"kde-tray"_s};
    TrayWatcher watcher;
};

// On a tray that listens on the bus the item names its icon, so the theme's
// version is drawn, and follows the pause state.
TEST_F(KdeTrayTest, TheItemNamesItsIconAndSaysWhatItShows) {
    start();
    ASSERT_TRUE(waitUntil([&] { return !ourItem().isEmpty(); })) << log().toStdString();
    ASSERT_TRUE(recorded(QString())) << "tindrel does not answer on the bus";
    QVariantMap item;
    ASSERT_TRUE(waitUntil([&] {
        item = properties();
        return !item.isEmpty();
    }));
    EXPECT_EQ(item.value(u"IconName"_s).toString(), u"io.tindrel.Tindrel-symbolic"_s);
    EXPECT_EQ(item.value(u"Status"_s).toString(), u"Active"_s);
    EXPECT_EQ(item.value(u"Category"_s).toString(), u"ApplicationStatus"_s);
    EXPECT_FALSE(item.value(u"ItemIsMenu"_s).toBool());
    // Pictures too, for trays that find no such icon in the theme.
    const QDBusArgument pixmaps = item.value(u"IconPixmap"_s).value<QDBusArgument>();
    EXPECT_EQ(pixmaps.currentSignature(), u"a(iiay)"_s);
    const QDBusArgument tip = item.value(u"ToolTip"_s).value<QDBusArgument>();
    EXPECT_EQ(tip.currentSignature(), u"(sa(iiay)ss)"_s);

    // A middle click pauses; paused, it shows the faded filled symbol the
    // theme does not have.
    click(u"SecondaryActivate"_s, 0, 0);
    EXPECT_TRUE(waitUntil([&] {
        item = properties();
        return item.contains(u"IconName"_s) && item.value(u"IconName"_s).toString().isEmpty();
    })) << item.value(u"IconName"_s).toString().toStdString();
    command({u"--resume"_s});
    EXPECT_TRUE(waitUntil([&] {
        return properties().value(u"IconName"_s).toString() == u"io.tindrel.Tindrel-symbolic"_s;
    }));
}

// The panel opens where the tray was clicked (the tray says where), not at
// XWayland's idea of the pointer: below a click in the upper half of the
// screen, above one in the lower half. A tray that does not say where gets
// the panel where the last click was, or by the tray's corner before any.
TEST_F(KdeTrayTest, ThePanelOpensWhereTheTrayWasClicked) {
    start();
    ASSERT_TRUE(waitUntil([&] { return !ourItem().isEmpty(); })) << log().toStdString();
    ASSERT_TRUE(recorded(QString())) << "tindrel does not answer on the bus";
    const QRect screen(0, 0, 1280, 800); // the fixture's virtual output
    constexpr int near = 24;

    const QRect corner = panelAfterClickAt(0, 0);
    ASSERT_TRUE(corner.isValid()) << log().toStdString();
    EXPECT_GE(corner.right(), screen.right() - near) << corner.x() << "," << corner.y();
    EXPECT_GE(corner.bottom(), screen.bottom() - near);

    const QRect below = panelAfterClickAt(400, 150);
    ASSERT_TRUE(below.isValid()) << log().toStdString();
    EXPECT_LE(std::abs(below.center().x() - 400), 2) << below.x() << "," << below.y();
    EXPECT_GE(below.top(), 150);
    EXPECT_LE(below.top(), 150 + near);

    const QRect above = panelAfterClickAt(1000, 700);
    ASSERT_TRUE(above.isValid()) << log().toStdString();
    EXPECT_LE(std::abs(above.center().x() - 1000), 2) << above.x() << "," << above.y();
    EXPECT_LE(above.bottom(), 700);
    EXPECT_GE(above.bottom(), 700 - near);

    EXPECT_EQ(panelAfterClickAt(0, 0), above);
}

#include "KdeTrayTest.moc"
