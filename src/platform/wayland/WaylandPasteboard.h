#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <memory>
#include <vector>

struct wl_display;
struct wl_proxy;
struct wl_registry;
struct wl_seat;

// The clipboard of a Wayland session, through the data-control protocol
// (ext-data-control-v1, else wlroots' zwlr_data_control_manager_v1): the one
// way a client without a focused surface sees and sets the selection. Runs
// its own compositor connection, read from the Qt event loop, so it works
// whichever platform Qt itself runs on (also xcb through XWayland).
//
// Every new selection raises the change count; our own write raises it once
// when made, and its echo from the compositor is not counted again.
class WaylandPasteboard final : public QObject, public Pasteboard {
    Q_OBJECT
public:
    // None, with the reason in `why`, when there is no Wayland display or it
    // offers no data-control global. `display` is a socket name or path; empty
    // means WAYLAND_DISPLAY.
    static std::unique_ptr<WaylandPasteboard> connect(const QString& display, QString* why);
    ~WaylandPasteboard() override;

    // Which protocol is in use: "ext_data_control_manager_v1" or
    // "zwlr_data_control_manager_v1".
    QString protocolName() const;

    qint64 changeCount() const override { return m_changeCount; }
    void watchChanges(QObject* context, std::function<void()> changed) override;
    // Each selection event and each write of ours is counted and reported
    // at once.
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
    struct Offer;

    explicit WaylandPasteboard(wl_display* display);
    bool bind(QString* why);
    void dispatch();
    void flush();
    void lost(const QString& why);

    wl_proxy* makeSource(const QString& text, QByteArray* bytesOut);
    void onSelection(wl_proxy* offer);
    void onPrimarySelection(wl_proxy* offer);
    void onSend(wl_proxy* source, const char* mimeType, int fd);
    void onCancelled(wl_proxy* source);
    void dropOffer(wl_proxy* offer);

    static void registryGlobal(void* data, wl_registry* registry, uint32_t name,
                               const char* interface, uint32_t version);
    static void registryGlobalRemove(void* data, wl_registry* registry, uint32_t name);

    wl_display* m_display;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Candidates for the manager, filled while the globals are listed.
    uint32_t m_extName = 0;
    uint32_t m_wlrName = 0;
    uint32_t m_wlrVersion = 0;
    QString m_protocolName;
    bool m_canSetPrimary = false;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_device = nullptr;
    bool m_dead = false;

    // Offers announced but not yet made a selection, and the current one.
    std::vector<std::unique_ptr<Offer>> m_offers;
    Offer* findOffer(wl_proxy* proxy) const;
    wl_proxy* m_selection = nullptr;

    // Our own clipboard and primary contents while we hold them.
    wl_proxy* m_source = nullptr;
    QByteArray m_sourceBytes;
    QString m_sourceText;
    wl_proxy* m_primarySource = nullptr;
    QByteArray m_primaryBytes;

    qint64 m_changeCount = 0;
};
