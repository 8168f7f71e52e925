#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <optional>

class Pasteboard;
class Preferences;
class Workspace;

// Watches the clipboard's change counter and hands every plain text the user
// copies, with the identifier of the application in front, to copied(), unless
// a privacy rule says it must not be recorded: a concealed or password-manager
// marker among the declared types, an ignored application in front, or the
// user's pause. Rules about the text itself are the store's.
//
// It looks as soon as the clipboard reports a change. Where the clipboard
// cannot promise a report for every change, it also looks on a timer, which
// catches a change whose report was lost; where it does, no timer runs and
// an idle program sleeps. The owner's answers arrive later; the look is
// finished when they do, and no second look starts before.
class ClipboardMonitor : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isPaused READ isPaused WRITE setPaused NOTIFY isPausedChanged)
public:
    // Types that mark a copy as concealed, transient or generated.
    static const QStringList concealedTypes;
    // Types password managers add to what they copy; their presence counts,
    // whatever their value.
    static const QStringList passwordManagerTypes;

    ClipboardMonitor(Preferences& prefs, Pasteboard& pasteboard, Workspace& workspace,
                     QObject* parent = nullptr);

    // (Re)starts watching: polls every pollInterval where the pasteboard does
    // not report every change, and leaves the timer off where it does. An
    // `interval` given polls every `interval` seconds whatever the pasteboard
    // promises, for a caller that expects reports to go missing. Periods are
    // kept within the range the preferences allow.
    void start(std::optional<double> interval = std::nullopt);
    // One look at the clipboard; the timer and every change report call it.
    void poll();
    // Whether a look waits for the clipboard owner's answer.
    bool isReading() const { return m_reading; }

    bool isPaused() const { return m_paused; }
    // While paused, changes are consumed without being recorded.
    void setPaused(bool paused);

    qint64 lastChangeCount() const { return m_lastChangeCount; }
    // Raised by whoever writes the clipboard for us, so that write is skipped.
    void setLastChangeCount(qint64 count) { m_lastChangeCount = count; }
    // Writes a text of our own to the clipboard without recording it.
    void writeOwnText(const QString& text);

    // The polling period, in use or kept for when polling is needed, and
    // whether polling runs.
    std::chrono::milliseconds pollPeriod() const { return m_timer.intervalAsDuration(); }
    bool isPolling() const { return m_timer.isActive(); }

Q_SIGNALS:
    void isPausedChanged();
    // Each accepted copy: the text as read, and the identifier of the
    // application in front (none when unknown).
    void copied(const QString& text, const std::optional<QString>& sourceApp);

private:
    void typesArrived(qint64 count, const QStringList& types);
    void textArrived(qint64 count, const std::optional<QString>& source,
                     const std::optional<QString>& text);
    void readDone();

    Preferences& m_prefs;
    Pasteboard& m_pasteboard;
    Workspace& m_workspace;
    QTimer m_timer;
    qint64 m_lastChangeCount = 0;
    bool m_paused = false;
    bool m_reading = false;
    // A tick came while reading: look again once the read is over.
    bool m_pollAgain = false;
};
