#pragma once

#include <QDBusVirtualObject>
#include <QString>
#include <QTimer>

// Stands in for Tindrel on the session bus when the bus started it for a
// call but Tindrel cannot run there (no display in the bus's environment):
// it takes the name, answers every call with the reason, and ends once the
// calls stop. Without it the caller only learns that the program exited.
class BusRefusal : public QDBusVirtualObject {
    Q_OBJECT
public:
    // The D-Bus error every call is answered with.
    static constexpr auto errorName = "io.tindrel.Tindrel.Error.CannotStart";

    explicit BusRefusal(QString reason, QObject* parent = nullptr);

    // Answers on the session bus until the calls stop; the exit status.
    static int answer(const QString& reason);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QString m_reason;
    QTimer m_idle;
};
