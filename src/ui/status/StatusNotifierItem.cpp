#include "ui/status/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QtEndian>

using namespace Qt::StringLiterals;

const QString StatusNotifierItem::watcherService = u"org.kde.StatusNotifierWatcher"_s;

namespace {
const QString kPath = u"/StatusNotifierItem"_s;
const QString kBus = u"org.freedesktop.DBus"_s;

QDBusMessage busCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kBus, u"/org/freedesktop/DBus"_s, kBus, method);
    call.setArguments(arguments);
    return call;
}

SniPixmaps toPixmaps(const QIcon& icon) {
    SniPixmaps out;
    for (const QSize size : icon.availableSizes()) {
        const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out32 = reinterpret_cast<quint32*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out32++ = qToBigEndian(line[x]);
        }
        out.append(pixmap);
    }
    return out;
}
} // namespace

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.pixmaps << tip.title << tip.text;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    in.endStructure();
    return in;
}

void StatusNotifierItem::askForWatcher(const QDBusConnection& bus, QObject* context,
                                       std::function<void(bool)> done) {
    if (!bus.isConnected()) {
        done(false);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(busCall(u"NameHasOwner"_s, {watcherService})), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<bool> reply = *call;
                         done(!reply.isError() && reply.value());
                     });
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    // A name of its own, given up when the icon goes: the tray drops the
    // item when its name goes away, and the program's connection stays.
    static int count = 0;
    m_service =
        u"org.kde.StatusNotifierItem-%1-%2"_s.arg(QCoreApplication::applicationPid()).arg(++count);
    m_bus.registerObject(kPath, this,
                         QDBusConnection::ExportAllProperties |
                             QDBusConnection::ExportScriptableSlots |
                             QDBusConnection::ExportScriptableSignals);
    // A tray that starts (again) later finds the item too.
    m_watcher = new QDBusServiceWatcher(watcherService, m_bus,
                                        QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::registerWithWatcher);
    // Asked without waiting; the item registers once the name is ours.
    constexpr uint doNotQueue = 4;
    auto* call = new QDBusPendingCallWatcher(
        m_bus.asyncCall(busCall(u"RequestName"_s, {m_service, doNotQueue})), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* c) {
        c->deleteLater();
        registerWithWatcher();
    });
}

StatusNotifierItem::~StatusNotifierItem() {
    m_bus.unregisterObject(kPath);
    m_bus.call(busCall(u"ReleaseName"_s, {m_service}), QDBus::NoBlock);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, u"/StatusNotifierWatcher"_s, watcherService,
                                       u"RegisterStatusNotifierItem"_s);
    call.setArguments({m_service});
    m_bus.call(call, QDBus::NoBlock);
}

QString StatusNotifierItem::category() const {
    return u"ApplicationStatus"_s;
}

QString StatusNotifierItem::id() const {
    return QCoreApplication::applicationName();
}

QString StatusNotifierItem::title() const {
    return u"Tindrel"_s;
}

QString StatusNotifierItem::status() const {
    return u"Active"_s;
}

SniToolTip StatusNotifierItem::toolTip() const {
    return SniToolTip{QString(), {}, m_toolTip, QString()};
}

void StatusNotifierItem::setIcon(const QString& name, const QIcon& pixmaps) {
    m_iconName = name;
    m_pixmaps = toPixmaps(pixmaps);
    Q_EMIT NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    Q_EMIT NewToolTip();
}

void StatusNotifierItem::showMessage(const QString& title, const QString& text) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
        u"org.freedesktop.Notifications"_s, u"Notify"_s);
    call.setArguments({QCoreApplication::applicationName(), uint(0), u"io.tindrel.Tindrel"_s, title,
                       text, QStringList(), QVariantMap(), -1});
    m_bus.call(call, QDBus::NoBlock);
}

void StatusNotifierItem::Activate(int x, int y) {
    // Trays that do not know where they were clicked send the origin, taken
    // (as a null point) for none.
    Q_EMIT activated(QPoint(x, y));
}

void StatusNotifierItem::SecondaryActivate(int, int) {
    Q_EMIT secondaryActivated();
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    Q_EMIT contextMenuRequested(QPoint(x, y));
}

void StatusNotifierItem::Scroll(int, const QString&) {}
