#include "support/DesktopSession.h"
#include "platform/Workspace.h"
#include "support/FixtureFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

DesktopSession DesktopSession::read(const QString& envFile, const QString& notRun,
                                    const QHash<QString, QString>& desktopVariables) {
    const FixtureFile fixture = FixtureFile::read(envFile, notRun);
    DesktopSession session;
    session.skip = fixture.skip;
    session.values = fixture.values;
    session.desktopVariables = desktopVariables;
    session.waylandDisplay = fixture.values.value(u"WAYLAND_DISPLAY"_s);
    session.runtimeDir = fixture.values.value(u"XDG_RUNTIME_DIR"_s);
    session.x11Display = fixture.values.value(u"DISPLAY"_s);
    session.busAddress = fixture.values.value(u"DBUS_SESSION_BUS_ADDRESS"_s);
    return session;
}

QProcessEnvironment DesktopSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir);
    env.insert(u"WAYLAND_DISPLAY"_s, waylandDisplay);
    env.insert(u"DISPLAY"_s, x11Display);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
    // XWayland under mutter admits only holders of its own cookie.
    if (const QString cookie = values.value(u"XAUTHORITY"_s); !cookie.isEmpty())
        env.insert(u"XAUTHORITY"_s, cookie);
    env.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
    for (auto it = desktopVariables.begin(); it != desktopVariables.end(); ++it)
        env.insert(it.key(), it.value());
    env.remove(u"QT_QPA_PLATFORM"_s);
    return env;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void DesktopTest::SetUp() {
    session = m_reader();
    if (!session.skip.isEmpty())
        GTEST_SKIP() << "no desktop session: " << session.skip.toStdString();
    const QProcessEnvironment env = session.environment();
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY",
                             "DBUS_SESSION_BUS_ADDRESS", "XDG_CURRENT_DESKTOP"}) {
        const QString value = env.value(QString::fromLatin1(name));
        m_savedEnvironment.append({name, qgetenv(name)});
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }
}

void DesktopTest::TearDown() {
    for (QProcess& process : clients) {
        process.kill();
        process.waitForFinished();
    }
    for (const auto& [name, value] : m_savedEnvironment) {
        if (value.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QProcess& DesktopTest::client(const QString& program, const QStringList& args) {
    QProcess& process = clients.emplace_back();
    process.setProcessEnvironment(session.environment());
    process.start(program, args);
    EXPECT_TRUE(process.waitForStarted()) << program.toStdString();
    return process;
}

QString DesktopTest::output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(session.environment());
    process.start(program, arguments);
    return process.waitForFinished(10000) ? QString::fromUtf8(process.readAllStandardOutput())
                                          : QString();
}

quint32 DesktopTest::x11Editor(const QString& helper, const QString& saved, Workspace& xwayland) {
    QProcess& editor = clients.emplace_back();
    QProcessEnvironment env = session.environment();
    // Qt would pick Wayland where both are there.
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    editor.setProcessEnvironment(env);
    editor.start(helper, {u"editor"_s, saved});
    EXPECT_TRUE(waitUntil([&] { return editor.canReadLine(); }))
        << editor.readAllStandardError().toStdString();
    const quint32 window = QString::fromLatin1(editor.readLine().trimmed().mid(6)).toUInt();
    EXPECT_TRUE(waitUntil([&] {
        const auto front = xwayland.frontmost();
        return front && front->window == window;
    })) << "XWayland does not name the editor as the active window";
    return window;
}

bool DesktopTest::tindrelWindowShown() {
    return !output(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--class"_s, u"tindrel"_s})
                .trimmed()
                .isEmpty();
}

void DesktopTindrelTest::TearDown() {
    if (tindrel.state() != QProcess::NotRunning) {
        tindrel.terminate();
        if (!tindrel.waitForFinished(5000)) {
            tindrel.kill();
            tindrel.waitForFinished();
        }
    }
    DesktopTest::TearDown();
}

void DesktopTindrelTest::start(const QByteArray& settings) {
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
    tindrel.start(m_binary, {});
    ASSERT_TRUE(tindrel.waitForStarted());
    ASSERT_TRUE(waitUntil([this] { return log().contains(u"Tindrel: clipboard through"_s); }))
        << log().toStdString();
}

QString DesktopTindrelTest::log() {
    m_log += QString::fromUtf8(tindrel.readAll());
    return m_log;
}

QString DesktopTindrelTest::command(const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(tindrel.processEnvironment());
    process.start(m_binary, arguments);
    EXPECT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool DesktopTindrelTest::recorded(const QString& text) {
    // Until it has taken its name on the bus, `list` fails: asked again.
    return waitUntil([&] {
        QProcess list;
        list.setProcessEnvironment(tindrel.processEnvironment());
        list.start(m_binary, {u"list"_s});
        return list.waitForFinished(15000) && list.exitCode() == 0 &&
               QString::fromUtf8(list.readAllStandardOutput()).contains(text);
    });
}
