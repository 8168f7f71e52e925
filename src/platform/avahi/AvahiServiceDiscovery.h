#pragma once

#include "platform/ServiceDiscovery.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

class AvahiQtPoll;
struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

// DNS-SD through avahi-daemon (libavahi-client over D-Bus), driven by the Qt
// event loop of the thread that creates it.
//
// Availability: isAvailable() tells whether avahi-daemon answers. When it is
// not there at construction, onAvailabilityChanged(false) is reported once;
// after that every change is reported. The daemon is picked up again when it
// appears (or restarts), and what was asked for is published and browsed
// anew.
//
// Every callback is delivered from the event loop, never from inside Avahi's
// own dispatch, so a callback may call back into this object or destroy it.
class AvahiServiceDiscovery final : public QObject, public ServiceDiscovery {
    Q_OBJECT
public:
    explicit AvahiServiceDiscovery(QObject* parent = nullptr);
    ~AvahiServiceDiscovery() override;

    bool isAvailable() const override { return m_available; }
    void publish(const QString& type, const QString& name, quint16 port, const Txt& txt) override;
    void unpublish() override;
    void browse(const QString& type) override;
    void stopBrowsing() override;

    // What a hostile network can make us track at most.
    static constexpr int kMaxSightings = 512;

private:
    struct Publication {
        QByteArray type;
        QByteArray name; // as asked for, at most 63 bytes
        quint16 port = 0;
        Txt txt;
    };
    // One service seen on one interface over one IP protocol.
    struct SightingKey {
        int interface = 0;
        int protocol = 0;
        QByteArray name;
        QByteArray domain;
        friend bool operator==(const SightingKey&, const SightingKey&) = default;
        friend size_t qHash(const SightingKey& k, size_t seed = 0) {
            return qHashMulti(seed, k.interface, k.protocol, k.name, k.domain);
        }
    };
    struct Sighting {
        QByteArray type;
        AvahiServiceResolver* resolver = nullptr;
        bool resolved = false;
        QHostAddress address;
        quint16 port = 0;
        Txt txt;
    };

    // Avahi's C callbacks, which forward to the members below.
    friend struct AvahiDiscoveryCallbacks;

    void connectClient();
    std::chrono::milliseconds nextRetryDelay();
    void clientStateChanged(AvahiClient* client, int state);
    void clientFailed(AvahiClient* client);
    void freeDeadClient();
    bool clientAnswers() const;
    void setAvailable(bool available);

    void registerService();
    void rename();
    void groupStateChanged(AvahiEntryGroup* group, int state);
    void publishFailed(int error);
    void reportPublishFailed(int error);

    void startBrowser();
    void dropBrowser();
    void browserFailed();
    void sightingAppeared(const SightingKey& key, const char* type);
    void startResolver(const SightingKey& key, Sighting& sighting);
    void sightingGone(const SightingKey& key);
    void resolved(const SightingKey& key, QHostAddress address, quint16 port, Txt txt);
    void resolveFailed(AvahiServiceResolver* resolver, const SightingKey& key);
    void retryResolving();
    void servicesMayHaveChanged();
    void reportServices();
    QList<Service> currentServices() const;

    // Declared first: it must outlive the client and everything under it.
    std::unique_ptr<AvahiQtPoll> m_poll;
    AvahiClient* m_client = nullptr;
    // A client that failed inside its own callback, freed on the next turn.
    AvahiClient* m_deadClient = nullptr;
    QTimer m_reconnectTimer;
    std::chrono::milliseconds m_reconnectDelay{0};
    bool m_available = false;
    bool m_availabilityKnown = false;

    std::optional<Publication> m_publication;
    QByteArray m_publishedName; // the name tried now, after any renames
    int m_renames = 0;
    AvahiEntryGroup* m_group = nullptr;

    std::optional<QByteArray> m_browseType;
    AvahiServiceBrowser* m_browser = nullptr;
    QTimer m_rebrowseTimer;
    QTimer m_resolveRetryTimer;
    QHash<SightingKey, Sighting> m_sightings;
    QHash<AvahiServiceResolver*, SightingKey> m_resolverKeys;
    bool m_warnedFull = false;
    QTimer m_reportTimer;
    std::optional<QList<Service>> m_lastReported;
};
