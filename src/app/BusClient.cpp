#include "app/BusClient.h"

#include "app/BusService.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {
constexpr int callTimeoutMs = 10000;
// More than any text the instance accepts, so it is the instance that says no.
constexpr qint64 maxInputBytes = qint64(32) * 1024 * 1024;

void print(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
}

// One line of a clip for the terminal: its first line, cut short.
QString preview(const QString& text) {
    constexpr qsizetype width = 72;
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

bool BusClient::instanceRuns() {
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(QString::fromLatin1(BusService::serviceName));
}

bool BusClient::waitForInstance(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!instanceRuns()) {
        if (deadline.hasExpired() || !m_bus.isConnected())
            return false;
        QThread::msleep(100);
    }
    return true;
}

std::optional<QDBusMessage> BusClient::call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(BusService::serviceName), QString::fromLatin1(BusService::objectPath),
        QString::fromLatin1(BusService::interfaceName), method);
    message.setArguments(arguments);
    // A command asks the Tindrel that runs; it never starts one.
    message.setAutoStartService(false);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, callTimeoutMs);
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
    switch (line.kind) {
    case Kind::start:
    case Kind::showPanel:
        return done(call(u"ShowPanel"_s));
    case Kind::togglePanel:
        return done(call(u"TogglePanel"_s));
    case Kind::pause:
        return done(call(u"Pause"_s));
    case Kind::resume:
        return done(call(u"Resume"_s));
    case Kind::togglePause:
        return done(call(u"TogglePause"_s));
    case Kind::settings:
        return done(call(u"OpenSettings"_s, {argument}));
    case Kind::list:
        return list(line);
    case Kind::copy: {
        bool isNumber = false;
        const uint position = argument.toUInt(&isNumber);
        if (isNumber)
            return done(call(u"CopyAt"_s, {position}));
        return done(call(u"Copy"_s, {argument}));
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
    case Kind::pin:
        return done(call(u"Pin"_s, {argument}));
    case Kind::unpin:
        return done(call(u"Unpin"_s, {argument}));
    case Kind::remove:
        return done(call(u"Delete"_s, {argument}));
    case Kind::clear:
        return done(call(u"ClearHistory"_s));
    case Kind::help:
    case Kind::version:
    case Kind::invalid:
        break;
    }
    return 1;
}

int BusClient::list(const CommandLine& line) {
    const auto reply = call(u"List"_s, {line.pinnedOnly});
    if (!reply)
        return 1;
    qDBusRegisterMetaType<QList<QVariantMap>>();
    const auto clips = qdbus_cast<QList<QVariantMap>>(reply->arguments().value(0));
    QJsonArray array;
    QString lines;
    int position = 0;
    for (const QVariantMap& clip : clips) {
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
