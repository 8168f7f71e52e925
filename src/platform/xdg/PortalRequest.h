#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>
#include <expected>
#include <functional>

// One call of a desktop-portal method that answers later: the method returns
// the path of a request object at once, and the result comes as that
// object's Response signal. The signal is followed from before the call, on
// the path the portal will pick from our token, so an early answer is not
// missed; a portal that picks another path is followed there.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    enum Response : uint { success = 0, cancelled = 1, failed = 2 };

    // Calls `method` of `interface` on the portal with `arguments` followed
    // by `options`, into which the request's handle token is put. Never
    // blocks; finished() comes exactly once, then the request deletes itself.
    static PortalRequest* start(const QDBusConnection& bus, const QString& interface,
                                const QString& method, const QVariantList& arguments,
                                QVariantMap options, QObject* parent);

    // Reads the version of one of the portal's interfaces without waiting:
    // `done` gets it, or an error message when the portal does not offer
    // the interface; never called once `context` is gone.
    static void readVersion(const QDBusConnection& bus, const QString& interface, QObject* context,
                            std::function<void(std::expected<uint, QString>)> done);

    // The session a CreateSession request answered with; empty when none.
    static QString sessionHandle(const QVariantMap& results);

    // Why the call failed, when it failed before the portal answered.
    const QString& errorText() const { return m_error; }

Q_SIGNALS:
    void finished(uint response, const QVariantMap& results);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    PortalRequest(const QDBusConnection& bus, QObject* parent);
    bool follow(const QString& path);
    void unfollow();
    void finish(uint response, const QVariantMap& results);

    QDBusConnection m_bus;
    QString m_path;
    QString m_error;
    bool m_done = false;
};
