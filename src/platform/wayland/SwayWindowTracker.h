#pragma once

#include "platform/FrontmostApp.h"
#include "platform/wayland/WindowTracker.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QByteArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <memory>
#include <optional>

// The focused window as sway's IPC reports it: Wayland gives no client the
// window of another, but sway tells whoever asks on its socket. Kept up to
// date from sway's window and workspace events, so asking costs nothing and
// never waits on sway.
class SwayWindowTracker final : public QObject, public WindowTracker {
    Q_OBJECT
public:
    // None when there is no sway socket to talk to (`socketPath` empty means
    // SWAYSOCK); the connection itself completes later, on the event loop.
    static std::unique_ptr<SwayWindowTracker> connect(const QString& socketPath,
                                                      QObject* parent = nullptr);

    // The focused window; none while sway has not told us yet, focus is on
    // an empty workspace, or the connection is gone.
    std::optional<FrontmostApp> frontmost() const override { return m_front; }
    // Asks sway to focus the window; false when the request could not be sent.
    bool activate(const FrontmostApp& app) override;

    // Reads a get_tree answer: the focused node when it is a window. For tests.
    std::optional<FrontmostApp> focusedIn(const QJsonObject& tree);

Q_SIGNALS:
    // frontmost() may have changed.
    void frontChanged();

private:
    explicit SwayWindowTracker(QObject* parent);
    void send(quint32 type, const QByteArray& payload);
    void readMessages();
    void askTree();
    void takeTree(const QByteArray& json);

    std::unique_ptr<QLocalSocket> m_socket;
    QByteArray m_buffer;
    std::optional<FrontmostApp> m_front;
    // One tree asked for at a time; events meanwhile ask again after it.
    bool m_treeAsked = false;
    bool m_treeStale = false;
    DesktopEntryIndex m_entries;
};
