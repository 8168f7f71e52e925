#pragma once

#include "platform/Pasteboard.h"

#include <QObject>
#include <QStringList>
#include <memory>

class XcbSelectionReader;

// The CLIPBOARD selection. Changes are counted from QClipboard::changed,
// which Qt raises from XFixes owner notifications (and once for each of our
// own writes). Writes go through QClipboard too. Contents of other owners are
// read by our own XcbSelectionReader, which never waits for them: Qt 6.4's
// QClipboard would block the GUI thread for up to 5 s per step of a transfer
// (in 50 ms sleeps), with no bound on the total time or the size an owner
// may send.
// Needs a QGuiApplication on the xcb platform.
class X11Pasteboard final : public QObject, public Pasteboard {
    Q_OBJECT
public:
    explicit X11Pasteboard(std::unique_ptr<XcbSelectionReader> reader, QObject* parent = nullptr);
    ~X11Pasteboard() override;

    qint64 changeCount() const override { return m_changeCount; }
    void watchChanges(QObject* context, std::function<void()> changed) override;
    // Counted and reported in the same handler of QClipboard::changed.
    bool reportsEveryChange() const override { return true; }
    void requestTypes(QObject* context, std::function<void(QStringList)> done) override;
    void requestText(QObject* context, std::function<void(std::optional<QString>)> done) override;
    std::optional<QString> ownText() const override;
    void writeText(const QString& text) override;
    void writePrimaryText(const QString& text) override;

Q_SIGNALS:
    // changeCount was raised.
    void counted();

private:
    bool weOwnIt() const;
    void foreignTargets(QObject* context, std::function<void(const QStringList&)> done);
    void readText(QObject* context, QStringList targets, qsizetype next,
                  std::function<void(std::optional<QString>)> done);

    std::unique_ptr<XcbSelectionReader> m_reader;
    qint64 m_changeCount = 0;
    QStringList m_targets;
    qint64 m_targetsCount = -1;
};
