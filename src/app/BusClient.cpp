#include "app/BusClient.h"

#include "app/BusService.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {
using std::chrono::milliseconds;
constexpr milliseconds callTimeout{10000};
constexpr milliseconds statusPoll{200};
// How long --join waits for an answer; a paired device answers at once.
constexpr milliseconds joinAnswer{30000};
// Discovery may still be starting when a code is typed right after launch.
constexpr milliseconds joinDiscovery{5000};
constexpr auto notSentError = "io.tindrel.Tindrel.Error.NotSent";
constexpr auto unknownClipError = "io.tindrel.Tindrel.Error.UnknownClip";
// Pages of a list that changes as it is read are read again from the start,
// this many times at most.
constexpr int listAttempts = 5;
constexpr qsizetype previewWidth = 72;

volatile std::sig_atomic_t interrupted = 0;
// More than any text the instance accepts, so it is the instance that says no.
constexpr qint64 maxInputBytes = qint64(32) * 1024 * 1024;

void print(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
}

// One line of a clip for the terminal: its first line, cut short.
QString preview(const QString& text) {
    constexpr qsizetype width = previewWidth;
    QString line = text.trimmed();
    bool cut = false;
    if (const qsizetype end = line.indexOf(u'\n'); end != -1) {
        line.truncate(end);
        cut = true;
    }
    if (line.size() > width) {
        // Never between the halves of a surrogate pair.
        line.truncate(line.at(width - 1).isHighSurrogate() ? width - 1 : width);
        cut = true;
    }
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control)
            c = u' ';
    return cut ? line + u'…' : line;
}

// Whether the preview of a text that starts with `start` is the preview of
// `start`: it is when the first line ends within it, or runs past the width.
bool previewKnown(const QString& start) {
    const QString shown = start.trimmed();
    return shown.contains(u'\n') || shown.size() > previewWidth;
}

std::optional<QString> readAll(std::FILE* input) {
    QByteArray bytes;
    char buffer[65536];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, input)) {
        bytes.append(buffer, qsizetype(n));
        if (bytes.size() > maxInputBytes)
            return std::nullopt;
    }
    // `echo text | tindrel add` means the text, not the text and a line feed.
    if (bytes.endsWith('\n'))
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    return QString::fromUtf8(bytes);
}
} // namespace

BusClient::BusClient(QDBusConnection bus) : m_bus(std::move(bus)) {}

void BusClient::registerTypes() {
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusArgument>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusError>();
}

bool BusClient::instanceRuns() {
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(QString::fromLatin1(BusService::serviceName));
}

bool BusClient::waitForInstance(std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!instanceRuns()) {
        if (deadline.hasExpired() || !m_bus.isConnected())
            return false;
        QThread::msleep(100);
    }
    return true;
}

QDBusMessage BusClient::ask(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(BusService::serviceName), QString::fromLatin1(BusService::objectPath),
        QString::fromLatin1(BusService::interfaceName), method);
    message.setArguments(arguments);
    // A command asks the Tindrel that runs; it never starts one.
    message.setAutoStartService(false);
    return m_bus.call(message, QDBus::Block, int(callTimeout.count()));
}

std::optional<QDBusMessage> BusClient::call(const QString& method, const QVariantList& arguments) {
    const QDBusMessage reply = ask(method, arguments);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        print(stderr, u"tindrel: "_s + reply.errorMessage() + u'\n');
        return std::nullopt;
    }
    return reply;
}

int BusClient::run(const CommandLine& line, std::FILE* input) {
    using Kind = CommandLine::Kind;
    if (!instanceRuns()) {
        print(stderr, u"tindrel: Tindrel is not running.\n"_s);
        return 1;
    }
    const auto done = [](const std::optional<QDBusMessage>& reply) { return reply ? 0 : 1; };
    const QString argument = line.argument.value_or(QString());
    // Commands that are one call, with the line's argument where they take one.
    struct Simple {
        Kind kind;
        QString method;
        bool takesArgument = false;
    };
    static const Simple simple[] = {
        {Kind::start, u"ShowPanel"_s},
        {Kind::showPanel, u"ShowPanel"_s},
        {Kind::togglePanel, u"TogglePanel"_s},
        {Kind::pause, u"Pause"_s},
        {Kind::resume, u"Resume"_s},
        {Kind::togglePause, u"TogglePause"_s},
        {Kind::settings, u"OpenSettings"_s, true},
        {Kind::clear, u"ClearHistory"_s},
        {Kind::quit, u"Quit"_s},
        {Kind::pauseDevice, u"PauseDevice"_s, true},
        {Kind::resumeDevice, u"ResumeDevice"_s, true},
        {Kind::unpair, u"UnpairDevice"_s, true},
    };
    for (const Simple& command : simple)
        if (command.kind == line.kind)
            return done(command.takesArgument ? call(command.method, {argument})
                                              : call(command.method));
    switch (line.kind) {
    case Kind::list:
        return list(line);
    case Kind::copy:
    case Kind::pin:
    case Kind::unpin:
    case Kind::remove: {
        // A clip by its place in the list, or by its id.
        const QString method = line.kind == Kind::copy    ? u"Copy"_s
                               : line.kind == Kind::pin   ? u"Pin"_s
                               : line.kind == Kind::unpin ? u"Unpin"_s
                                                          : u"Delete"_s;
        bool isNumber = false;
        const uint position = argument.toUInt(&isNumber);
        if (isNumber)
            return done(call(method + u"At"_s, {position}));
        return done(call(method, {argument}));
    }
    case Kind::add: {
        std::optional<QString> text = line.argument;
        if (!text)
            text = readAll(input);
        if (!text) {
            print(stderr, u"tindrel: the text on standard input is too long.\n"_s);
            return 1;
        }
        const auto reply = call(u"Add"_s, {*text});
        if (reply)
            print(stdout, reply->arguments().value(0).toString() + u'\n');
        return done(reply);
    }
    case Kind::pair:
        return pair(line);
    case Kind::join:
        return join(line);
    case Kind::devices:
        return devices(line);
    default:
        break;
    }
    return 1;
}

std::optional<QList<QVariantMap>> BusClient::clips(bool pinnedOnly, bool wholeTexts) {
    qDBusRegisterMetaType<QList<QVariantMap>>();
    for (int attempt = 0; attempt < listAttempts; ++attempt) {
        QList<QVariantMap> all;
        std::optional<uint> revision;
        bool moved = false;
        for (uint first = 1; !moved;) {
            const QDBusMessage reply = ask(u"ListPage"_s, {pinnedOnly, first});
            if (reply.type() == QDBusMessage::ErrorMessage) {
                // A Tindrel started before pages existed: all in one answer.
                if (reply.errorName() == u"org.freedesktop.DBus.Error.UnknownMethod"_s) {
                    const auto old = call(u"List"_s, {pinnedOnly});
                    if (!old)
                        return std::nullopt;
                    return qdbus_cast<QList<QVariantMap>>(old->arguments().value(0));
                }
                print(stderr, u"tindrel: "_s + reply.errorMessage() + u'\n');
                return std::nullopt;
            }
            const auto page = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
            const uint total = reply.arguments().value(1).toUInt();
            const uint now = reply.arguments().value(2).toUInt();
            if (revision && *revision != now) {
                moved = true;
                break;
            }
            revision = now;
            for (QVariantMap clip : page) {
                QString text = clip.value(u"text"_s).toString();
                if (!clip.value(u"complete"_s, true).toBool() &&
                    (wholeTexts || !previewKnown(text))) {
                    const QDBusMessage rest = fetchRest(clip.value(u"id"_s).toString(), text);
                    if (rest.type() == QDBusMessage::ErrorMessage) {
                        // Deleted since the page came: the list has moved.
                        if (rest.errorName() == QLatin1StringView(unknownClipError)) {
                            moved = true;
                            break;
                        }
                        print(stderr, u"tindrel: "_s + rest.errorMessage() + u'\n');
                        return std::nullopt;
                    }
                    clip.insert(u"text"_s, text);
                }
                all.append(clip);
            }
            first += uint(page.size());
            if (page.isEmpty() || first > total)
                break;
        }
        if (!moved)
            return all;
    }
    print(stderr, u"tindrel: the clips kept changing while they were listed; try again.\n"_s);
    return std::nullopt;
}

QDBusMessage BusClient::fetchRest(const QString& id, QString& start) {
    while (true) {
        const uint offset = uint(start.size());
        QDBusMessage reply = ask(u"Text"_s, {id, offset});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reply;
        start += reply.arguments().value(0).toString();
        const uint next = reply.arguments().value(1).toUInt();
        // Zero at the end; a part that brings nothing would never end.
        if (next == 0 || next <= offset || next != uint(start.size()))
            return reply;
    }
}

int BusClient::list(const CommandLine& line) {
    const std::optional<QList<QVariantMap>> clips = this->clips(line.pinnedOnly, line.json);
    if (!clips)
        return 1;
    QJsonArray array;
    QString lines;
    int position = 0;
    for (const QVariantMap& clip : *clips) {
        ++position;
        const QDateTime time =
            QDateTime::fromMSecsSinceEpoch(clip.value(u"time"_s).toLongLong(), Qt::UTC);
        if (line.json) {
            QJsonObject entry{
                {u"position"_s, position},
                {u"id"_s, clip.value(u"id"_s).toString()},
                {u"text"_s, clip.value(u"text"_s).toString()},
                {u"pinned"_s, clip.value(u"pinned"_s).toBool()},
                {u"time"_s, time.toString(Qt::ISODateWithMs)},
            };
            if (clip.contains(u"source"_s))
                entry.insert(u"source"_s, clip.value(u"source"_s).toString());
            array.append(entry);
            continue;
        }
        lines += u"%1\t%2\t%3\t%4\n"_s.arg(position).arg(
            clip.value(u"id"_s).toString(),
            clip.value(u"pinned"_s).toBool() ? u"pinned"_s : u"recent"_s,
            preview(clip.value(u"text"_s).toString()));
    }
    if (line.json)
        print(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    else
        print(stdout, lines);
    return 0;
}

std::optional<QVariantMap> BusClient::syncStatus() {
    const auto reply = call(u"SyncStatus"_s);
    if (!reply)
        return std::nullopt;
    return qdbus_cast<QVariantMap>(reply->arguments().value(0));
}

int BusClient::pair(const CommandLine& line) {
    // Ctrl+C closes the window rather than leave it open unseen; caught from
    // before the window opens, so that no moment after it kills us outright.
    interrupted = 0;
    if (line.wait) {
        const auto onSignal = [](int) { interrupted = 1; };
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const auto reply = call(u"StartPairing"_s, {line.pairingSeconds});
    if (!reply)
        return 1;
    const QVariantMap opened = qdbus_cast<QVariantMap>(reply->arguments().value(0));
    const QString code = opened.value(u"pairingCode"_s).toString();
    const uint pairingsBefore = opened.value(u"pairings"_s).toUInt();
    const QDateTime expires =
        QDateTime::fromMSecsSinceEpoch(opened.value(u"pairingExpires"_s).toLongLong());
    // To the nearest second: the window opened a moment ago, not a second.
    const qint64 left =
        std::max<qint64>(0, (QDateTime::currentDateTime().msecsTo(expires) + 500) / 1000);
    QString text = u"Pairing code: "_s + code + u'\n';
    if (opened.contains(u"pairingLink"_s))
        text += u"Pairing link: "_s + opened.value(u"pairingLink"_s).toString() + u'\n';
    text += u"Open for %1:%2, until %3. On the other computer, type the code in the Sync "
            u"settings, or run: tindrel --join %4\n"_s.arg(left / 60)
                .arg(left % 60, 2, 10, QChar(u'0'))
                .arg(expires.toString(u"HH:mm:ss"_s), code);
    print(stdout, text);
    std::fflush(stdout);
    if (!line.wait)
        return 0;

    while (true) {
        QThread::msleep(statusPoll.count());
        if (interrupted) {
            ask(u"EndPairing"_s);
            print(stderr, u"Pairing cancelled.\n"_s);
            return 1;
        }
        const std::optional<QVariantMap> status = syncStatus();
        if (!status)
            return 1;
        if (status->value(u"pairings"_s).toUInt() > pairingsBefore) {
            print(stdout, u"Paired with "_s + status->value(u"lastPaired"_s).toString() + u'\n');
            return 0;
        }
        const QString now = status->value(u"pairingCode"_s).toString();
        if (now != code) {
            print(stderr, now.isEmpty() ? u"The pairing window closed; no computer paired.\n"_s
                                        : u"Another pairing window replaced this one.\n"_s);
            return 1;
        }
    }
}

int BusClient::join(const CommandLine& line) {
    const std::optional<QVariantMap> before = syncStatus();
    if (!before)
        return 1;
    const uint pairingsBefore = before->value(u"pairings"_s).toUInt();
    const QString codeOrLink = line.argument.value_or(QString());
    const bool isLink = codeOrLink.contains(u"://"_s);
    QDeadlineTimer discovery(joinDiscovery);
    QDBusMessage reply;
    while (true) {
        reply = ask(u"JoinPairing"_s, {codeOrLink});
        // Only a code waits on discovery; a link names where to go.
        if (reply.type() != QDBusMessage::ErrorMessage ||
            reply.errorName() != QLatin1StringView(notSentError) || isLink ||
            discovery.hasExpired())
            break;
        QThread::msleep(statusPoll.count());
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        print(stderr, u"tindrel: "_s + reply.errorMessage() + u'\n');
        return 1;
    }
    print(stdout, reply.arguments().value(0).toString() + u'\n');
    std::fflush(stdout);
    QDeadlineTimer answer(joinAnswer);
    while (!answer.hasExpired()) {
        QThread::msleep(statusPoll.count());
        const std::optional<QVariantMap> status = syncStatus();
        if (!status)
            return 1;
        if (status->value(u"pairings"_s).toUInt() > pairingsBefore) {
            print(stdout, u"Paired with "_s + status->value(u"lastPaired"_s).toString() + u'\n');
            return 0;
        }
        if (status->value(u"pendingJoins"_s).toInt() == 0)
            break;
    }
    print(stderr, u"No computer accepted the code. Check it, and that the other computer still "
                  u"shows it.\n"_s);
    return 1;
}

int BusClient::devices(const CommandLine& line) {
    const auto reply = call(u"SyncDevices"_s);
    if (!reply)
        return 1;
    qDBusRegisterMetaType<QList<QVariantMap>>();
    const auto devices = qdbus_cast<QList<QVariantMap>>(reply->arguments().value(0));
    QJsonArray array;
    QString lines;
    for (const QVariantMap& device : devices) {
        const bool enabled = device.value(u"enabled"_s).toBool();
        const bool direct = device.value(u"connected"_s).toBool();
        const bool relay = device.value(u"relayConnected"_s).toBool();
        if (line.json) {
            QJsonObject entry = QJsonObject::fromVariantMap(device);
            if (device.contains(u"lastSeen"_s))
                entry.insert(u"lastSeen"_s, QDateTime::fromMSecsSinceEpoch(
                                                device.value(u"lastSeen"_s).toLongLong(), Qt::UTC)
                                                .toString(Qt::ISODateWithMs));
            array.append(entry);
            continue;
        }
        const QString state = !enabled ? u"paused"_s
                              : direct ? u"connected"_s
                              : relay  ? u"connected through the relay"_s
                                       : u"not connected"_s;
        lines += u"%1\t%2\t%3\n"_s.arg(device.value(u"id"_s).toString(),
                                       preview(device.value(u"name"_s).toString()), state);
    }
    if (line.json)
        print(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    else
        print(stdout, devices.isEmpty() ? u"No paired devices.\n"_s : lines);
    return 0;
}
