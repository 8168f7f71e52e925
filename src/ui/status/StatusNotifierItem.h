#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>

class QDBusServiceWatcher;

// One picture of the icon as the tray protocol sends it: ARGB32, big-endian.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};
Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip);

// The tray icon as a StatusNotifierItem of our own, for the trays that
// listen on the session bus (Plasma's among them). Qt's own item sends
// pictures only and drops where the tray was clicked; this one names its
// icon, so the icon theme's version is drawn where there is one, and passes
// the click's position on. The menu opens where the tray asks for it.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
public:
    static const QString watcherService;

    // Answers `done` with whether a tray watcher is on `bus`, without waiting.
    static void askForWatcher(const QDBusConnection& bus, QObject* context,
                              std::function<void(bool)> done);
    // Registers on `bus` and with its watcher (again whenever a watcher comes).
    explicit StatusNotifierItem(QDBusConnection bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // `name` is the icon theme's name for what `pixmaps` show, or empty.
    void setIcon(const QString& name, const QIcon& pixmaps);
    void setToolTip(const QString& text);
    // A message for the user, through the desktop's notifications.
    void showMessage(const QString& title, const QString& text);

    QString serviceName() const { return m_service; }
    QString category() const;
    QString id() const;
    QString title() const;
    QString status() const;
    int windowId() const { return 0; }
    QString iconName() const { return m_iconName; }
    SniPixmaps iconPixmap() const { return m_pixmaps; }
    SniToolTip toolTip() const;
    bool itemIsMenu() const { return false; }

public Q_SLOTS:
    // From the tray: a click, a middle click, a right click at screen
    // position (x, y); (0, 0) from trays that do not say.
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();

    // For the program; a null position when the tray gave none.
    void activated(QPoint at);
    void secondaryActivated();
    void contextMenuRequested(QPoint at);

private:
    void registerWithWatcher();

    QDBusConnection m_bus;
    QString m_service;
    QString m_iconName;
    SniPixmaps m_pixmaps;
    QString m_toolTip;
    QDBusServiceWatcher* m_watcher = nullptr;
};
