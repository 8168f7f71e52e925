#include "TindrelProcess.h"

#include "app/BusService.h"
#include "core/store/StoreCodec.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSet>
#include <QUuid>
#include <QXmlStreamReader>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using X11TestEnv::settle;
using X11TestEnv::waitUntil;

namespace {
const QString service = u"io.tindrel.Tindrel"_s;
const QString path = u"/io/tindrel/Tindrel"_s;

// Collects the property changes the instance announces.
class ChangeLog : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public Q_SLOTS:
    void changed(const QString&, const QVariantMap& properties, const QStringList&) {
        changes.append(properties);
    }
};

// Methods and properties of one interface of an introspection document, as
// comparable lines: "List(b)->(aa{sv})", "ClipCount u read".
QSet<QString> members(const QString& xml, const QString& interface) {
    QSet<QString> found;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString method, in, out;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto attribute = [&](const char* name) {
            return reader.attributes().value(QLatin1StringView(name)).toString();
        };
        if (reader.isStartElement()) {
            if (reader.name() == u"interface")
                inside = attribute("name") == interface;
            else if (inside && reader.name() == u"method")
                method = attribute("name"), in.clear(), out.clear();
            else if (inside && reader.name() == u"arg" && !method.isEmpty())
                (attribute("direction") == u"out" ? out : in) += attribute("type");
            else if (inside && reader.name() == u"property")
                found.insert(attribute("name") + u' ' + attribute("type") + u' ' +
                             attribute("access"));
        } else if (reader.isEndElement()) {
            if (reader.name() == u"method" && !method.isEmpty()) {
                found.insert(method + u"("_s + in + u")->("_s + out + u")"_s);
                method.clear();
            } else if (reader.name() == u"interface") {
                inside = false;
            }
        }
    }
    return found;
}

class BusInterface : public TindrelProcess {
protected:
    QDBusMessage callOn(const QString& interface, const QString& method,
                        const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus.connection().call(message, QDBus::Block, 10000);
    }
    QDBusMessage call(const QString& method, const QVariantList& arguments = {}) {
        return callOn(service, method, arguments);
    }
    QVariant property(const QString& name) {
        const QDBusMessage reply =
            callOn(u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {service, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    // `tindrel list --json`, parsed.
    QJsonArray listed(const QStringList& options = {}) {
        const Command list = tindrelCommand(QStringList{u"list"_s, u"--json"_s} + options);
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        return QJsonDocument::fromJson(list.out.toUtf8()).array();
    }
    QString clipboard() const {
        QProcess xclip;
        xclip.setProcessEnvironment(environment());
        xclip.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s});
        xclip.waitForFinished(5000);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }
    // Installs the program and its bus service file, and starts a private
    // bus that starts it on demand, with these variables left out of the
    // bus's environment; null when something failed.
    std::unique_ptr<PrivateBus> activatingBus(QStringList unset = {}) {
        const QString prefix = xdg.path(u"prefix"_s);
        QProcess install;
        install.start(QStringLiteral(TINDREL_CMAKE),
                      {u"--install"_s, QStringLiteral(TINDREL_BUILD_DIR), u"--prefix"_s, prefix,
                       u"--component"_s, u"tindrel"_s});
        install.waitForFinished(60000);
        EXPECT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
        const QString services = xdg.path(u"services"_s);
        QDir().mkpath(services);
        if (!QFile::copy(prefix + u"/share/dbus-1/services/io.tindrel.Tindrel.service"_s,
                         services + u"/io.tindrel.Tindrel.service"_s))
            return nullptr;
        QProcessEnvironment env = environment();
        for (const QString& name : unset << u"DBUS_SESSION_BUS_ADDRESS"_s)
            env.remove(name);
        auto activating = std::make_unique<PrivateBus>(services, env);
        if (activating->address().isEmpty())
            return nullptr;
        return activating;
    }
    // Nothing runs yet: the call itself starts the installed program.
    QDBusMessage showPanelOn(PrivateBus& activating) {
        return activating.connection().call(
            QDBusMessage::createMethodCall(service, path, service, u"ShowPanel"_s), QDBus::Block,
            30000);
    }
    // Adds a text through the command line; its clip's id.
    QString added(const QString& text) {
        const Command add = tindrelCommand({u"add"_s, text});
        EXPECT_EQ(add.exitCode, 0) << add.err.toStdString();
        return add.out.trimmed();
    }
};
} // namespace

TEST_F(BusInterface, CommandsAddListPinCopyAndRemoveClips) {
    start();
    const QString first = added(u"first clip"_s);
    EXPECT_FALSE(QUuid::fromString(first).isNull()) << first.toStdString();
    // From standard input, without the line feed `echo` adds.
    const Command piped = tindrelCommand({u"add"_s}, "second clip\n");
    ASSERT_EQ(piped.exitCode, 0) << piped.err.toStdString();
    const QString second = piped.out.trimmed();

    EXPECT_EQ(tindrelCommand({u"list"_s}).out,
              u"1\t%1\trecent\tsecond clip\n2\t%2\trecent\tfirst clip\n"_s.arg(second, first));

    // Pins come first; positions count over pins and then the history.
    ASSERT_EQ(tindrelCommand({u"pin"_s, first}).exitCode, 0);
    const QJsonArray pins = listed({u"--pinned"_s});
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0][u"id"_s].toString(), first);
    EXPECT_EQ(pins[0][u"text"_s].toString(), u"first clip"_s);
    EXPECT_TRUE(pins[0][u"pinned"_s].toBool());
    EXPECT_EQ(pins[0][u"position"_s].toInt(), 1);
    EXPECT_TRUE(QDateTime::fromString(pins[0][u"time"_s].toString(), Qt::ISODateWithMs).isValid());

    ASSERT_EQ(tindrelCommand({u"copy"_s, u"2"_s}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return clipboard() == u"second clip"_s; }));
    ASSERT_EQ(tindrelCommand({u"copy"_s, first}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return clipboard() == u"first clip"_s; }));
    // Our own write to the clipboard is not recorded as a new copy.
    settle(500ms);
    EXPECT_EQ(listed().size(), 2);

    // Clearing leaves the pin.
    ASSERT_EQ(tindrelCommand({u"clear"_s}).exitCode, 0);
    QJsonArray left = listed();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0][u"id"_s].toString(), first);

    ASSERT_EQ(tindrelCommand({u"unpin"_s, first}).exitCode, 0);
    left = listed();
    ASSERT_EQ(left.size(), 1);
    EXPECT_FALSE(left[0][u"pinned"_s].toBool());
    ASSERT_EQ(tindrelCommand({u"delete"_s, first}).exitCode, 0);
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(tindrelCommand({u"list"_s}).out, QString());

    // By the position `list` shows, as copy takes it.
    const QString older = added(u"older"_s);
    const QString newer = added(u"newer"_s);
    ASSERT_EQ(tindrelCommand({u"pin"_s, u"2"_s}).exitCode, 0);
    left = listed();
    ASSERT_EQ(left.size(), 2);
    EXPECT_EQ(left[0][u"id"_s].toString(), older);
    EXPECT_TRUE(left[0][u"pinned"_s].toBool());
    // Unpinned, it heads the history again.
    ASSERT_EQ(tindrelCommand({u"unpin"_s, u"1"_s}).exitCode, 0);
    ASSERT_EQ(tindrelCommand({u"delete"_s, u"1"_s}).exitCode, 0);
    left = listed();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0][u"id"_s].toString(), newer);
    EXPECT_FALSE(left[0][u"pinned"_s].toBool());
    const Command past = tindrelCommand({u"delete"_s, u"2"_s});
    EXPECT_EQ(past.exitCode, 1);
    EXPECT_EQ(past.err, u"tindrel: There is no clip at position 2; positions run from 1 to 1.\n"_s);

    // Ends the instance, which saves first.
    ASSERT_EQ(tindrelCommand({u"quit"_s}).exitCode, 0);
    ASSERT_TRUE(tindrel.waitForFinished(10000));
    EXPECT_EQ(tindrel.exitCode(), 0);
    EXPECT_TRUE(storeHolds(u"newer"_s));
}

// The bus here takes at most 6 MiB in one message, and the clips come to
// twice that, one of them alone more than an answer may carry.
TEST_F(BusInterface, AHistoryLargerThanTheBusAcceptsIsListedWholeAndTindrelStaysOnIt) {
    constexpr qint64 busLimit = qint64(6) * 1024 * 1024;
    static_assert(BusService::replyBudget < busLimit);
    bus.restart({xdg.path(u"run/test-bus"_s), busLimit});
    ASSERT_FALSE(bus.address().isEmpty());

    const Instant when = Instant::fromUnix(1.7e9);
    const QString ascii = QString(80, u'x');
    struct Expected {
        Clip clip;
        QString preview;
    };
    QList<Expected> expected;
    Clip pin = Clip::make(u"pinned note"_s, when);
    pin.setPinnedAt(when);
    expected.append({pin, u"pinned note"_s});
    const QString huge = u"huge clip "_s + ascii + u"\U0001F600"_s.repeated(1200000);
    expected.append({Clip::make(huge, when), huge.left(72) + u'…'});
    for (int i = 1; i <= 8; ++i) {
        const QString text =
            u"long clip %1 "_s.arg(i) + u"€"_s.repeated(300000) + u"\nsecond line"_s;
        expected.append({Clip::make(text, when, u"org.example.Editor"_s), text.left(72) + u'…'});
    }
    // Its beginning on a page is all blanks: the preview needs the rest.
    expected.append({Clip::make(QString(70000, u' ') + u"tail"_s, when), u"tail"_s});
    for (int i = 1; i <= 40; ++i) {
        const QString text = u"small clip %1"_s.arg(i);
        expected.append({Clip::make(text, when), text});
    }
    StoreContents contents;
    contents.pinned.append(pin);
    for (qsizetype i = 1; i < expected.size(); ++i)
        contents.history.append(expected[i].clip);
    QDir().mkpath(xdg.path(u"data/Tindrel"_s));
    QFile store(xdg.path(u"data/Tindrel/store.json"_s));
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write(StoreCodec::encode(contents));
    store.close();
    ASSERT_GT(store.size(), busLimit);
    start();

    QString lines;
    for (qsizetype i = 0; i < expected.size(); ++i)
        lines += u"%1\t%2\t%3\t%4\n"_s.arg(i + 1).arg(
            expected[i].clip.id().toString(QUuid::WithoutBraces),
            i == 0 ? u"pinned"_s : u"recent"_s, expected[i].preview);
    const Command list = tindrelCommand({u"list"_s});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out == lines) << list.out.left(2000).toStdString();

    const QJsonArray all = listed();
    ASSERT_EQ(all.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i][u"position"_s].toInt(), i + 1);
        EXPECT_EQ(all[i][u"id"_s].toString(), expected[i].clip.id().toString(QUuid::WithoutBraces));
        // Compared as a whole, not printed: the texts run to megabytes.
        EXPECT_TRUE(all[i][u"text"_s].toString() == expected[i].clip.text());
    }
    const QJsonArray pins = listed({u"--pinned"_s});
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0][u"text"_s].toString(), u"pinned note"_s);

    // The one-answer List refuses rather than send what the bus would not take.
    EXPECT_EQ(call(u"List"_s, {false}).errorName(), u"io.tindrel.Tindrel.Error.TooLarge"_s);
    ASSERT_EQ(tindrelCommand({u"copy"_s, QString::number(expected.size())}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return clipboard() == u"small clip 40"_s; }));
    EXPECT_TRUE(bus.connection().interface()->isServiceRegistered(service));
    EXPECT_EQ(tindrel.state(), QProcess::Running);
}

// The daemon ends and another starts at the same address, as when the
// session's bus restarts: every client loses its connection.
TEST_F(BusInterface, WhenTheBusComesBackTindrelTakesItsNameAgain) {
    bus.restart({xdg.path(u"run/test-bus"_s)});
    ASSERT_FALSE(bus.address().isEmpty());
    start();
    const QString kept = added(u"kept across the restart"_s);
    bus.restart();
    ASSERT_FALSE(bus.address().isEmpty());
    EXPECT_TRUE(waitUntil(
        [this] { return bus.connection().interface()->isServiceRegistered(service); }, 15000ms))
        << "it never took its name again";
    const QJsonArray clips = listed();
    ASSERT_EQ(clips.size(), 1);
    EXPECT_EQ(clips[0][u"id"_s].toString(), kept);
    // It answers on the new connection, not the dead one.
    EXPECT_EQ(property(u"ClipCount"_s).toUInt(), 1u);
}

TEST_F(BusInterface, BadRequestsAreRefusedWithAReasonAndChangeNothing) {
    start("maxClipLength=20\npinLimit=1\n");
    const QString kept = added(u"kept clip"_s);
    const QString pinned = added(u"pinned clip"_s);
    ASSERT_EQ(tindrelCommand({u"pin"_s, pinned}).exitCode, 0);
    const QJsonArray before = listed();
    ASSERT_EQ(before.size(), 2);
    const QString unknown = QUuid::createUuid().toString(QUuid::WithoutBraces);

    struct Case {
        QStringList arguments;
        int exitCode;
        QString says;
    };
    const Case cases[] = {
        {{u"copy"_s, u"0"_s}, 1, u"no clip at position 0"_s},
        {{u"copy"_s, u"3"_s}, 1, u"positions run from 1 to 2"_s},
        {{u"copy"_s, u"not-a-clip"_s}, 1, u"\"not-a-clip\" is not a clip id"_s},
        {{u"pin"_s, unknown}, 1, u"No clip has the id "_s + unknown},
        {{u"unpin"_s, unknown}, 1, u"No clip has the id"_s},
        {{u"delete"_s, u"{12"_s}, 1, u"is not a clip id"_s},
        {{u"pin"_s, kept}, 1, u"All 1 places for pins are taken"_s},
        {{u"pin"_s, u"2"_s}, 1, u"All 1 places for pins are taken"_s},
        {{u"unpin"_s, u"0"_s}, 1, u"no clip at position 0"_s},
        {{u"delete"_s, u"3"_s}, 1, u"positions run from 1 to 2"_s},
        {{u"add"_s, QString(21, u'x')}, 1, u"longer than the limit of 20 characters"_s},
        {{u"add"_s, u" \n\t"_s}, 1, u"The text is empty"_s},
        {{u"--settings"_s, u"nowhere"_s}, 1, u"There is no settings tab \"nowhere\""_s},
        {{u"copy"_s}, 2, u"copy needs a position or a clip id"_s},
        {{u"list"_s, u"--all"_s}, 2, u"list does not know --all"_s},
        {{u"frobnicate"_s}, 2, u"unknown command frobnicate"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').left(40).toStdString());
        const Command run = tindrelCommand(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.says)) << run.err.toStdString();
        EXPECT_EQ(run.out, QString());
    }
    EXPECT_EQ(listed(), before);

    // The limit counts characters as the user sees them, not code units.
    EXPECT_EQ(tindrelCommand({u"add"_s, u"e\u0301"_s.repeated(20)}).exitCode, 0);

    // On the bus the errors have names a script can tell apart.
    EXPECT_EQ(call(u"Add"_s, {QString(100000, u'y')}).errorName(),
              u"io.tindrel.Tindrel.Error.TooLong"_s);
    EXPECT_EQ(call(u"CopyAt"_s, QVariantList{uint(0)}).errorName(),
              u"io.tindrel.Tindrel.Error.OutOfRange"_s);
    EXPECT_EQ(call(u"Delete"_s, {unknown}).errorName(), u"io.tindrel.Tindrel.Error.UnknownClip"_s);
    EXPECT_EQ(call(u"Text"_s, {unknown, 0u}).errorName(),
              u"io.tindrel.Tindrel.Error.UnknownClip"_s);
    EXPECT_EQ(call(u"Text"_s, {kept, 10u}).errorName(), u"io.tindrel.Tindrel.Error.OutOfRange"_s);
    EXPECT_EQ(call(u"ListPage"_s, {false, 0u}).errorName(),
              u"io.tindrel.Tindrel.Error.OutOfRange"_s);
}

// What a copy may hold: megabytes without a limit, and no more than the
// limit set.
TEST_F(BusInterface, AddTakesWhatACopyTakes) {
    start();
    const QByteArray large(5'000'000, 'z');
    const Command add = tindrelCommand({u"add"_s}, large);
    ASSERT_EQ(add.exitCode, 0) << add.err.toStdString();
    EXPECT_EQ(property(u"ClipCount"_s).toUInt(), 1u);
    const QDBusMessage text = call(u"Text"_s, {add.out.trimmed(), uint(large.size() - 3)});
    EXPECT_EQ(text.arguments().value(0).toString(), u"zzz"_s);

    EXPECT_EQ(call(u"Add"_s, {QString(1000001, u'y')}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(property(u"ClipCount"_s).toUInt(), 2u);
}

TEST_F(BusInterface, PanelPauseAndSettingsCommandsReachTheInstance) {
    start();
    ChangeLog log;
    ASSERT_TRUE(bus.connection().connect(service, path, u"org.freedesktop.DBus.Properties"_s,
                                         u"PropertiesChanged"_s, &log,
                                         SLOT(changed(QString, QVariantMap, QStringList))));

    ASSERT_EQ(tindrelCommand({u"--toggle-panel"_s}).exitCode, 0);
    EXPECT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
    // Right after the panel opened, a toggle is not taken for a reopening.
    settle(400ms);
    ASSERT_EQ(tindrelCommand({u"--toggle-panel"_s}).exitCode, 0);
    EXPECT_TRUE(waitUntil([this] { return panel().window == XCB_NONE; }));

    ASSERT_EQ(tindrelCommand({u"--pause"_s}).exitCode, 0);
    EXPECT_EQ(property(u"Paused"_s), QVariant(true));
    ASSERT_TRUE(copy(u"copied while paused"_s));
    settle(600ms); // several polls
    EXPECT_EQ(property(u"ClipCount"_s).toUInt(), 0u);

    // The property is writable too.
    const QDBusMessage set =
        callOn(u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
               {service, u"Paused"_s, QVariant::fromValue(QDBusVariant(false))});
    ASSERT_NE(set.type(), QDBusMessage::ErrorMessage) << set.errorMessage().toStdString();
    ASSERT_TRUE(copy(u"copied after resuming"_s));
    EXPECT_TRUE(waitUntil([this] { return property(u"ClipCount"_s).toUInt() == 1; }));
    EXPECT_EQ(listed()[0][u"text"_s].toString(), u"copied after resuming"_s);

    EXPECT_TRUE(waitUntil([&] { return log.changes.size() >= 3; }));
    EXPECT_EQ(log.changes,
              (QList<QVariantMap>{
                  {{u"Paused"_s, true}}, {{u"Paused"_s, false}}, {{u"ClipCount"_s, 1u}}}));

    // The command a desktop shortcut runs where we cannot grab keys.
    ASSERT_EQ(tindrelCommand({u"--toggle-pause"_s}).exitCode, 0);
    EXPECT_EQ(property(u"Paused"_s), QVariant(true));
    ASSERT_EQ(tindrelCommand({u"--toggle-pause"_s}).exitCode, 0);
    EXPECT_EQ(property(u"Paused"_s), QVariant(false));

    EXPECT_EQ(tindrelCommand({u"--settings"_s}).exitCode, 0);
    EXPECT_EQ(tindrelCommand({u"--settings"_s, u"Privacy"_s}).exitCode, 0);
    EXPECT_EQ(tindrel.state(), QProcess::Running);
}

// Pairing itself runs between real devices in the e2e tests; here, what the
// sync commands answer before there is anything to pair or manage.
TEST_F(BusInterface, SyncCommandsExplainWhyTheyCannotActYet) {
    start();
    const QVariantMap status = qdbus_cast<QVariantMap>(call(u"SyncStatus"_s).arguments().value(0));
    EXPECT_EQ(status.value(u"enabled"_s), QVariant(false));
    EXPECT_EQ(status.value(u"running"_s), QVariant(false));
    EXPECT_FALSE(status.contains(u"pairingCode"_s));

    struct Case {
        QStringList arguments;
        QString says;
    };
    const QString off =
        u"tindrel: Sync is off; turn it on in the settings (tindrel --settings sync).\n"_s;
    const Case cases[] = {
        {{u"--pair"_s}, off},
        {{u"--pair"_s, u"4000"_s}, u"tindrel: A pairing window lasts 1 to 3600 seconds.\n"_s},
        {{u"--join"_s, u"ABC-DEF-GHJ"_s}, off},
        {{u"unpair"_s, u"Work laptop"_s},
         u"tindrel: No paired device is called or has the id \"Work laptop\".\n"_s},
    };
    for (const Case& c : cases) {
        const Command run = tindrelCommand(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(run.err.toStdString(), c.says.toStdString());
    }
    const Command devices = tindrelCommand({u"devices"_s});
    EXPECT_EQ(devices.exitCode, 0);
    EXPECT_EQ(devices.out, u"No paired devices.\n"_s);
    // A script reads an empty list.
    EXPECT_TRUE(QJsonDocument::fromJson(tindrelCommand({u"devices"_s, u"--json"_s}).out.toUtf8())
                    .array()
                    .isEmpty());
}

TEST_F(BusInterface, WithoutARunningTindrelCommandsSaySoAndHelpNeedsNothing) {
    const Command list = tindrelCommand({u"list"_s});
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_EQ(list.err, u"tindrel: Tindrel is not running.\n"_s);
    EXPECT_EQ(tindrelCommand({u"--toggle-panel"_s}).exitCode, 1);

    // Neither a display nor a bus.
    QProcessEnvironment bare = environment();
    bare.remove(u"DISPLAY"_s);
    bare.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    for (const auto& [argument, says] : {std::pair{u"--help"_s, u"Usage: tindrel"_s},
                                         std::pair{u"--version"_s, u"Tindrel 0."_s}}) {
        QProcess run;
        run.setProcessEnvironment(bare);
        run.start(QStringLiteral(TINDREL_BINARY), {argument});
        ASSERT_TRUE(run.waitForFinished(10000));
        EXPECT_EQ(run.exitCode(), 0);
        EXPECT_TRUE(run.readAllStandardOutput().startsWith(says.toUtf8()))
            << argument.toStdString();
    }
}

TEST_F(BusInterface, TheInterfaceIsTheOneItsDescriptionInTheTreeGives) {
    start();
    QFile file(QStringLiteral(TINDREL_BUS_INTERFACE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QSet<QString> described = members(QString::fromUtf8(file.readAll()), service);
    const QDBusMessage reply = callOn(u"org.freedesktop.DBus.Introspectable"_s, u"Introspect"_s);
    const QSet<QString> offered = members(reply.arguments().value(0).toString(), service);
    EXPECT_GT(described.size(), 10);
    EXPECT_EQ(offered, described);
}

TEST_F(BusInterface, TheInstalledServiceFileLetsTheBusStartTindrelOnDemand) {
    const std::unique_ptr<PrivateBus> activating = activatingBus();
    ASSERT_NE(activating, nullptr);
    const QDBusMessage reply = showPanelOn(*activating);
    QDBusConnection connection = activating->connection();
    const QDBusMessage owner = connection.call(
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"GetConnectionUnixProcessID"_s)
        << service);
    const pid_t pid = pid_t(owner.arguments().value(0).toUInt());
    const auto end = qScopeGuard([pid] {
        // The bus started it, so it is ours to end.
        if (pid > 0 && ::kill(pid, SIGTERM) == 0)
            waitUntil([pid] { return ::kill(pid, 0) != 0; }, 10000ms);
    });
    ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }, 10000ms));
    EXPECT_EQ(QFile::symLinkTarget(u"/proc/%1/exe"_s.arg(pid)),
              xdg.path(u"prefix"_s) + u"/bin/tindrel"_s);
}

// A session bus whose environment lacks the display (a session that never
// passed it on) starts Tindrel for a call: the caller is told why it cannot
// run and what to do, and the stand-in leaves the name again.
TEST_F(BusInterface, AStartByTheBusWithoutADisplaySaysWhy) {
    const std::unique_ptr<PrivateBus> activating =
        activatingBus({u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s});
    ASSERT_NE(activating, nullptr);
    const QDBusMessage reply = showPanelOn(*activating);
    QDBusConnection connection = activating->connection();
    EXPECT_EQ(reply.errorName(), u"io.tindrel.Tindrel.Error.CannotStart"_s);
    EXPECT_TRUE(reply.errorMessage().contains(u"without DISPLAY or WAYLAND_DISPLAY"_s))
        << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.errorMessage().contains(u"dbus-update-activation-environment"_s));
    EXPECT_TRUE(waitUntil(
        [&] { return !connection.interface()->isServiceRegistered(service).value(); }, 10000ms));
}

#include "BusInterfaceTest.moc"
