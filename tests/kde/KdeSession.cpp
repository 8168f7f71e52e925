#include "KdeSession.h"
#include "support/FixtureFile.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

KdeSession KdeSession::read() {
    const FixtureFile fixture = FixtureFile::read(QStringLiteral(TINDREL_KDE_ENV_FILE),
                                                  u"the headless KWin fixture has not run"_s);
    KdeSession session;
    session.skip = fixture.skip;
    session.waylandDisplay = fixture.values.value(u"WAYLAND_DISPLAY"_s);
    session.runtimeDir = fixture.values.value(u"XDG_RUNTIME_DIR"_s);
    session.x11Display = fixture.values.value(u"DISPLAY"_s);
    session.busAddress = fixture.values.value(u"DBUS_SESSION_BUS_ADDRESS"_s);
    return session;
}

QProcessEnvironment KdeSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir);
    env.insert(u"WAYLAND_DISPLAY"_s, waylandDisplay);
    env.insert(u"DISPLAY"_s, x11Display);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
    env.insert(u"XDG_CURRENT_DESKTOP"_s, u"KDE"_s);
    env.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
    env.insert(u"KDE_SESSION_VERSION"_s, u"5"_s);
    env.insert(u"KDE_FULL_SESSION"_s, u"true"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    return env;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void KdeTest::SetUp() {
    session = KdeSession::read();
    if (!session.skip.isEmpty())
        GTEST_SKIP() << "no KDE session: " << session.skip.toStdString();
    const QProcessEnvironment env = session.environment();
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DISPLAY",
                             "DBUS_SESSION_BUS_ADDRESS", "XDG_CURRENT_DESKTOP"}) {
        m_savedEnvironment.append({name, qgetenv(name)});
        qputenv(name, env.value(QString::fromLatin1(name)).toLocal8Bit());
    }
}

void KdeTest::TearDown() {
    for (QProcess& process : clients) {
        process.kill();
        process.waitForFinished();
    }
    for (const auto& [name, value] : m_savedEnvironment)
        qputenv(name.constData(), value);
}

QProcess& KdeTest::client(const QString& program, const QStringList& args) {
    QProcess& process = clients.emplace_back();
    process.setProcessEnvironment(session.environment());
    process.start(program, args);
    EXPECT_TRUE(process.waitForStarted()) << program.toStdString();
    return process;
}

void KdeTindrelTest::SetUp() {
    KdeTest::SetUp();
}

void KdeTindrelTest::TearDown() {
    if (tindrel.state() != QProcess::NotRunning) {
        tindrel.terminate();
        if (!tindrel.waitForFinished(5000)) {
            tindrel.kill();
            tindrel.waitForFinished();
        }
    }
    KdeTest::TearDown();
}

void KdeTindrelTest::start(const QByteArray& settings) {
    if (!settings.isEmpty()) {
        QFile file(xdg.path(u"config/Tindrel/Tindrel.conf"_s));
        ASSERT_TRUE(QDir().mkpath(xdg.path(u"config/Tindrel"_s)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + settings);
    }
    QProcessEnvironment env = session.environment();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
        env.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    tindrel.setProcessEnvironment(env);
    tindrel.setProcessChannelMode(QProcess::MergedChannels);
    tindrel.start(QStringLiteral(TINDREL_BINARY), {});
    ASSERT_TRUE(tindrel.waitForStarted());
    ASSERT_TRUE(waitUntil([this] { return log().contains(u"Tindrel: clipboard through"_s); }))
        << log().toStdString();
}

QString KdeTindrelTest::log() {
    m_log += QString::fromUtf8(tindrel.readAll());
    return m_log;
}

QString KdeTindrelTest::command(const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(tindrel.processEnvironment());
    process.start(QStringLiteral(TINDREL_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool KdeTindrelTest::recorded(const QString& text) {
    // Until it has taken its name on the bus, `list` fails: asked again.
    return waitUntil([&] {
        QProcess list;
        list.setProcessEnvironment(tindrel.processEnvironment());
        list.start(QStringLiteral(TINDREL_BINARY), {u"list"_s});
        return list.waitForFinished(15000) && list.exitCode() == 0 &&
               QString::fromUtf8(list.readAllStandardOutput()).contains(text);
    });
}
