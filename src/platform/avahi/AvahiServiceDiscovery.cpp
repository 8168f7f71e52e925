#include "platform/avahi/AvahiServiceDiscovery.h"

#include "platform/avahi/AvahiQtPoll.h"

#include <QMap>
#include <QtEndian>
#include <algorithm>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <net/if.h>
#include <utility>

namespace {

// Past this many renames in a row something on the network claims every
// name we try; give up rather than probe forever.
constexpr int kMaxRenames = 50;
using std::chrono::milliseconds;
constexpr milliseconds kFirstRetry{1000};
constexpr milliseconds kMaxRetry{30000};
constexpr milliseconds kRebrowse{5000};
constexpr milliseconds kResolveRetry{15000};
constexpr milliseconds kSettle{500};

// A DNS label holds at most 63 bytes; cut at a character boundary (and at a
// NUL, which the C API would cut at anyway).
QByteArray serviceLabel(const QString& name) {
    QByteArray utf8 = name.toUtf8();
    if (const qsizetype nul = utf8.indexOf('\0'); nul >= 0)
        utf8.truncate(nul);
    if (utf8.size() <= 63)
        return utf8;
    qsizetype cut = 63;
    while (cut > 0 && (static_cast<quint8>(utf8[cut]) & 0xC0) == 0x80)
        --cut;
    return utf8.left(cut);
}

// Builds the TXT record in the map's key order. Fails on an entry DNS-SD
// cannot carry: an empty key, a key with "=", an entry over 255 bytes.
bool buildTxt(const ServiceDiscovery::Txt& txt, AvahiStringList** out) {
    AvahiStringList* list = nullptr;
    for (auto it = txt.begin(); it != txt.end(); ++it) {
        const QByteArray key = it.key().toUtf8();
        const QByteArray value = it.value().toUtf8();
        if (key.isEmpty() || key.contains('=') || key.contains('\0') ||
            key.size() + 1 + value.size() > 255) {
            avahi_string_list_free(list);
            return false;
        }
        list = avahi_string_list_add_pair_arbitrary(
            list, key.constData(), reinterpret_cast<const uint8_t*>(value.constData()),
            static_cast<size_t>(value.size()));
    }
    // Avahi prepends; reverse so the record keeps our order.
    *out = avahi_string_list_reverse(list);
    return true;
}

ServiceDiscovery::Txt parseTxt(AvahiStringList* list) {
    ServiceDiscovery::Txt txt;
    for (AvahiStringList* l = list; l; l = avahi_string_list_get_next(l)) {
        const QByteArrayView entry(reinterpret_cast<const char*>(avahi_string_list_get_text(l)),
                                   static_cast<qsizetype>(avahi_string_list_get_size(l)));
        const qsizetype eq = entry.indexOf('=');
        const QByteArrayView key = eq < 0 ? entry : entry.first(eq);
        // An entry without a key means nothing; of repeated keys the first counts.
        if (key.isEmpty())
            continue;
        const QString name = QString::fromUtf8(key);
        if (!txt.contains(name))
            txt.insert(name, eq < 0 ? QString() : QString::fromUtf8(entry.sliced(eq + 1)));
    }
    return txt;
}

QHostAddress hostAddress(const AvahiAddress& address, AvahiIfIndex interface) {
    if (address.proto == AVAHI_PROTO_INET)
        return QHostAddress(qFromBigEndian(address.data.ipv4.address));
    if (address.proto != AVAHI_PROTO_INET6)
        return {};
    QHostAddress ip(address.data.ipv6.address);
    // A link-local address means nothing without the link it is on.
    if (ip.isLinkLocal()) {
        char name[IF_NAMESIZE] = {};
        ip.setScopeId(if_indextoname(static_cast<unsigned>(interface), name)
                          ? QString::fromLocal8Bit(name)
                          : QString::number(interface));
    }
    return ip;
}

bool sameServices(const QList<ServiceDiscovery::Service>& a,
                  const QList<ServiceDiscovery::Service>& b) {
    const auto same = [](const ServiceDiscovery::Service& x, const ServiceDiscovery::Service& y) {
        if (x.name != y.name || x.port != y.port || x.txt != y.txt ||
            x.addresses.size() != y.addresses.size())
            return false;
        for (qsizetype i = 0; i < x.addresses.size(); ++i) {
            // toString() carries the scope, which operator== may not weigh.
            if (x.addresses[i].toString() != y.addresses[i].toString())
                return false;
        }
        return true;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

} // namespace

struct AvahiDiscoveryCallbacks {
    static AvahiServiceDiscovery* self(void* userdata) {
        return static_cast<AvahiServiceDiscovery*>(userdata);
    }

    static void client(AvahiClient* client, AvahiClientState state, void* userdata) {
        // While avahi_client_new runs, m_client is not set yet; the state it
        // ends in is read once it returns.
        if (client == self(userdata)->m_client)
            self(userdata)->clientStateChanged(client, state);
    }

    static void group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
        self(userdata)->groupStateChanged(group, state);
    }

    static void browse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type,
                       const char* domain, AvahiLookupResultFlags, void* userdata) {
        AvahiServiceDiscovery* d = self(userdata);
        if (browser != d->m_browser)
            return;
        switch (event) {
        case AVAHI_BROWSER_NEW:
            d->sightingAppeared({interface, protocol, name, domain}, type);
            break;
        case AVAHI_BROWSER_REMOVE:
            d->sightingGone({interface, protocol, name, domain});
            break;
        case AVAHI_BROWSER_FAILURE:
            d->browserFailed();
            break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    static void resolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                        AvahiResolverEvent event, const char*, const char*, const char*,
                        const char*, const AvahiAddress* address, uint16_t port,
                        AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
        AvahiServiceDiscovery* d = self(userdata);
        const auto key = d->m_resolverKeys.constFind(resolver);
        if (key == d->m_resolverKeys.cend())
            return;
        if (event == AVAHI_RESOLVER_FOUND && address) {
            QHostAddress ip = hostAddress(*address, interface);
            if (!ip.isNull()) {
                d->resolved(*key, std::move(ip), port, parseTxt(txt));
                return;
            }
        }
        d->resolveFailed(resolver, *key);
    }
};

AvahiServiceDiscovery::AvahiServiceDiscovery(QObject* parent)
    : QObject(parent), m_poll(std::make_unique<AvahiQtPoll>()) {
    m_reconnectDelay = kFirstRetry;
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &AvahiServiceDiscovery::connectClient);
    m_rebrowseTimer.setSingleShot(true);
    connect(&m_rebrowseTimer, &QTimer::timeout, this, [this] {
        dropBrowser();
        startBrowser();
    });
    m_reportTimer.setSingleShot(true);
    connect(&m_reportTimer, &QTimer::timeout, this, &AvahiServiceDiscovery::reportServices);
    m_resolveRetryTimer.setSingleShot(true);
    connect(&m_resolveRetryTimer, &QTimer::timeout, this, &AvahiServiceDiscovery::retryResolving);
    connectClient();
}

AvahiServiceDiscovery::~AvahiServiceDiscovery() {
    // Freeing a client frees its groups, browsers and resolvers with it.
    freeDeadClient();
    // Forgotten first, so that nothing Avahi reports while it goes is taken
    // for news.
    m_publication.reset();
    m_browseType.reset();
    m_group = nullptr;
    m_browser = nullptr;
    m_resolverKeys.clear();
    m_sightings.clear();
    if (AvahiClient* client = std::exchange(m_client, nullptr))
        avahi_client_free(client);
}

// ---- the daemon ----

void AvahiServiceDiscovery::connectClient() {
    freeDeadClient();
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one instead of failing,
    // and reports it through its state when it appears.
    AvahiClient* client = avahi_client_new(m_poll->api(), AVAHI_CLIENT_NO_FAIL,
                                           &AvahiDiscoveryCallbacks::client, this, &error);
    if (!client) {
        // No system bus at all: try again later, less and less often.
        setAvailable(false);
        m_reconnectTimer.start(nextRetryDelay());
        return;
    }
    m_client = client;
    clientStateChanged(client, avahi_client_get_state(client));
}

std::chrono::milliseconds AvahiServiceDiscovery::nextRetryDelay() {
    const milliseconds delay = m_reconnectDelay;
    m_reconnectDelay = std::clamp(delay * 2, kFirstRetry, kMaxRetry);
    return delay;
}

void AvahiServiceDiscovery::clientStateChanged(AvahiClient* client, int state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        m_reconnectDelay = milliseconds(0);
        setAvailable(true);
        if (m_publication && (!m_group || avahi_entry_group_is_empty(m_group)))
            registerService();
        startBrowser();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The daemon is (re)claiming its host name: our records would name
        // a host that is not settled yet, so they wait for S_RUNNING.
        setAvailable(true);
        if (m_group)
            avahi_entry_group_reset(m_group);
        startBrowser();
        break;
    case AVAHI_CLIENT_CONNECTING:
        setAvailable(false);
        break;
    case AVAHI_CLIENT_FAILURE:
    default:
        clientFailed(client);
        break;
    }
}

void AvahiServiceDiscovery::clientFailed(AvahiClient* client) {
    // Everything under the client dies with it. It may not be freed inside
    // its own callback, so that waits for the next turn of the loop.
    m_deadClient = client;
    m_client = nullptr;
    m_group = nullptr;
    m_browser = nullptr;
    m_sightings.clear();
    m_resolverKeys.clear();
    if (m_publication) {
        m_publishedName = m_publication->name;
        m_renames = 0;
    }
    servicesMayHaveChanged();
    setAvailable(false);
    // After the daemon served us (it went away or restarted) a new client
    // is made at once and waits for it; repeated failures back off.
    m_reconnectTimer.start(nextRetryDelay());
}

void AvahiServiceDiscovery::freeDeadClient() {
    if (AvahiClient* client = std::exchange(m_deadClient, nullptr))
        avahi_client_free(client);
}

bool AvahiServiceDiscovery::clientAnswers() const {
    if (!m_client)
        return false;
    const AvahiClientState state = avahi_client_get_state(m_client);
    return state == AVAHI_CLIENT_S_RUNNING || state == AVAHI_CLIENT_S_REGISTERING ||
           state == AVAHI_CLIENT_S_COLLISION;
}

void AvahiServiceDiscovery::setAvailable(bool available) {
    if (m_availabilityKnown && available == m_available)
        return;
    const bool first = !m_availabilityKnown;
    m_availabilityKnown = true;
    m_available = available;
    // Being there from the start is no news; not being there is.
    if (first && available)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, available] {
            if (onAvailabilityChanged)
                onAvailabilityChanged(available);
        },
        Qt::QueuedConnection);
}

// ---- publishing ----

void AvahiServiceDiscovery::publish(const QString& type, const QString& name, quint16 port,
                                    const Txt& txt) {
    unpublish();
    Publication publication{type.toUtf8(), serviceLabel(name), port, txt};
    if (publication.name.isEmpty()) {
        reportPublishFailed(AVAHI_ERR_INVALID_SERVICE_NAME);
        return;
    }
    // Checked now, so that a record that can never go out is refused at
    // once, daemon or not.
    AvahiStringList* checked = nullptr;
    if (!buildTxt(txt, &checked)) {
        reportPublishFailed(AVAHI_ERR_INVALID_RECORD);
        return;
    }
    avahi_string_list_free(checked);
    m_publication = std::move(publication);
    m_publishedName = m_publication->name;
    m_renames = 0;
    if (m_client && avahi_client_get_state(m_client) == AVAHI_CLIENT_S_RUNNING)
        registerService();
}

void AvahiServiceDiscovery::unpublish() {
    m_publication.reset();
    if (m_group)
        avahi_entry_group_free(m_group);
    m_group = nullptr;
}

void AvahiServiceDiscovery::registerService() {
    if (!m_group) {
        m_group = avahi_entry_group_new(m_client, &AvahiDiscoveryCallbacks::group, this);
        if (!m_group) {
            publishFailed(avahi_client_errno(m_client));
            return;
        }
    } else {
        avahi_entry_group_reset(m_group);
    }
    AvahiStringList* txt = nullptr;
    if (!buildTxt(m_publication->txt, &txt)) {
        publishFailed(AVAHI_ERR_INVALID_RECORD);
        return;
    }
    int result = 0;
    for (;;) {
        result = avahi_entry_group_add_service_strlst(
            m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
            m_publishedName.constData(), m_publication->type.constData(), nullptr, nullptr,
            m_publication->port, txt);
        // Another service of this very host holds the name: the daemon says
        // so at once instead of through the group's state.
        if (result != AVAHI_ERR_COLLISION || m_renames >= kMaxRenames)
            break;
        rename();
    }
    if (result >= 0)
        result = avahi_entry_group_commit(m_group);
    avahi_string_list_free(txt);
    if (result < 0)
        publishFailed(result);
}

void AvahiServiceDiscovery::rename() {
    char* alternative = avahi_alternative_service_name(m_publishedName.constData());
    m_publishedName = alternative;
    avahi_free(alternative);
    ++m_renames;
}

void AvahiServiceDiscovery::groupStateChanged(AvahiEntryGroup* group, int state) {
    if (group != m_group || !m_publication)
        return;
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED: {
        m_renames = 0;
        const QString name = QString::fromUtf8(m_publishedName);
        QMetaObject::invokeMethod(
            this,
            [this, name] {
                if (onPublished)
                    onPublished(name);
            },
            Qt::QueuedConnection);
        break;
    }
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Someone on the network holds the name: take the next one, as
        // every DNS-SD responder does.
        if (m_renames >= kMaxRenames) {
            publishFailed(AVAHI_ERR_COLLISION);
            break;
        }
        rename();
        registerService();
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        publishFailed(avahi_client_errno(m_client));
        break;
    default:
        break;
    }
}

void AvahiServiceDiscovery::publishFailed(int error) {
    // The group may be inside its own callback here; emptying it is allowed
    // there, freeing it is not. The next publish or unpublish frees it.
    m_publication.reset();
    if (m_group)
        avahi_entry_group_reset(m_group);
    reportPublishFailed(error);
}

void AvahiServiceDiscovery::reportPublishFailed(int error) {
    const QString reason = QString::fromUtf8(avahi_strerror(error));
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (onPublishFailed)
                onPublishFailed(reason);
        },
        Qt::QueuedConnection);
}

// ---- browsing ----

void AvahiServiceDiscovery::browse(const QString& type) {
    const QByteArray utf8 = type.toUtf8();
    if (m_browseType == utf8)
        return;
    stopBrowsing();
    m_browseType = utf8;
    startBrowser();
}

void AvahiServiceDiscovery::stopBrowsing() {
    m_browseType.reset();
    dropBrowser();
    m_rebrowseTimer.stop();
    m_lastReported.reset();
}

void AvahiServiceDiscovery::startBrowser() {
    if (m_browser || !m_browseType || !clientAnswers())
        return;
    m_browser = avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                          m_browseType->constData(), nullptr, AvahiLookupFlags(0),
                                          &AvahiDiscoveryCallbacks::browse, this);
    if (!m_browser)
        m_rebrowseTimer.start(kRebrowse);
}

void AvahiServiceDiscovery::dropBrowser() {
    for (AvahiServiceResolver* resolver : m_resolverKeys.keys())
        avahi_service_resolver_free(resolver);
    m_resolverKeys.clear();
    m_sightings.clear();
    m_resolveRetryTimer.stop();
    if (m_browser)
        avahi_service_browser_free(m_browser);
    m_browser = nullptr;
    servicesMayHaveChanged();
}

void AvahiServiceDiscovery::browserFailed() {
    // Not freed inside its own callback: a fresh browser on a later turn.
    m_rebrowseTimer.start(kRebrowse);
}

void AvahiServiceDiscovery::sightingAppeared(const SightingKey& key, const char* type) {
    if (m_sightings.contains(key))
        return;
    if (m_sightings.size() >= kMaxSightings) {
        if (!m_warnedFull)
            qWarning("DNS-SD: more than %d services on the network; ignoring the rest",
                     kMaxSightings);
        m_warnedFull = true;
        return;
    }
    Sighting& sighting = m_sightings[key];
    sighting.type = type;
    startResolver(key, sighting);
}

void AvahiServiceDiscovery::startResolver(const SightingKey& key, Sighting& sighting) {
    // Resolve the address of the protocol the service was seen on: IPv4
    // over IPv4, IPv6 over IPv6. The resolver keeps running and reports
    // changes of address, port or TXT.
    sighting.resolver =
        avahi_service_resolver_new(m_client, key.interface, key.protocol, key.name.constData(),
                                   sighting.type.constData(), key.domain.constData(), key.protocol,
                                   AvahiLookupFlags(0), &AvahiDiscoveryCallbacks::resolve, this);
    if (sighting.resolver)
        m_resolverKeys.insert(sighting.resolver, key);
    else
        m_resolveRetryTimer.start(kResolveRetry);
}

void AvahiServiceDiscovery::sightingGone(const SightingKey& key) {
    const auto it = m_sightings.find(key);
    if (it == m_sightings.end())
        return;
    const bool wasResolved = it->resolved;
    if (it->resolver) {
        m_resolverKeys.remove(it->resolver);
        avahi_service_resolver_free(it->resolver);
    }
    m_sightings.erase(it);
    if (wasResolved)
        servicesMayHaveChanged();
}

void AvahiServiceDiscovery::resolved(const SightingKey& key, QHostAddress address, quint16 port,
                                     Txt txt) {
    const auto it = m_sightings.find(key);
    if (it == m_sightings.end())
        return;
    it->resolved = true;
    it->address = std::move(address);
    it->port = port;
    it->txt = std::move(txt);
    servicesMayHaveChanged();
}

void AvahiServiceDiscovery::resolveFailed(AvahiServiceResolver* resolver, const SightingKey& key) {
    // Freeing a resolver inside its own callback is allowed.
    m_resolverKeys.remove(resolver);
    avahi_service_resolver_free(resolver);
    const auto it = m_sightings.find(key);
    if (it == m_sightings.end())
        return;
    it->resolver = nullptr;
    const bool wasResolved = it->resolved;
    it->resolved = false;
    // Still listed by the browser: the answer may have been lost; ask again
    // later.
    m_resolveRetryTimer.start(kResolveRetry);
    if (wasResolved)
        servicesMayHaveChanged();
}

void AvahiServiceDiscovery::retryResolving() {
    if (!clientAnswers())
        return;
    for (auto it = m_sightings.begin(); it != m_sightings.end(); ++it) {
        if (!it->resolver)
            startResolver(it.key(), *it);
    }
}

void AvahiServiceDiscovery::servicesMayHaveChanged() {
    // A service seen over IPv4 and IPv6 resolves twice, moments apart. While
    // a first resolution is under way the report waits a little, so that a
    // peer does not first learn only the address that came back first.
    const bool settling = std::ranges::any_of(
        m_sightings, [](const Sighting& s) { return s.resolver && !s.resolved; });
    if (!settling)
        m_reportTimer.start(0);
    else if (!m_reportTimer.isActive())
        m_reportTimer.start(kSettle);
}

void AvahiServiceDiscovery::reportServices() {
    if (!m_browseType)
        return;
    QList<Service> now = currentServices();
    // Nothing found yet is no change; losing what was found is.
    if (m_lastReported ? sameServices(*m_lastReported, now) : now.isEmpty())
        return;
    m_lastReported = now;
    if (onServicesChanged)
        onServicesChanged(now);
}

QList<ServiceDiscovery::Service> AvahiServiceDiscovery::currentServices() const {
    // Seen over IPv4 first, then by interface, so that the first address,
    // port and TXT are those of IPv4 when there are both.
    QMap<QByteArray, QList<std::pair<SightingKey, const Sighting*>>> byName;
    for (auto it = m_sightings.cbegin(); it != m_sightings.cend(); ++it) {
        if (it->resolved)
            byName[it.key().name].append({it.key(), &*it});
    }
    QList<Service> services;
    for (auto it = byName.begin(); it != byName.end(); ++it) {
        auto& seen = *it;
        std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) {
            const bool a4 = a.first.protocol == AVAHI_PROTO_INET;
            const bool b4 = b.first.protocol == AVAHI_PROTO_INET;
            if (a4 != b4)
                return a4;
            return a.first.interface < b.first.interface;
        });
        Service service;
        service.name = QString::fromUtf8(it.key());
        service.port = seen.first().second->port;
        service.txt = seen.first().second->txt;
        QList<QHostAddress> v4, v6;
        for (const auto& [key, sighting] : seen) {
            QList<QHostAddress>& into =
                sighting->address.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6;
            if (!into.contains(sighting->address))
                into.append(sighting->address);
        }
        service.addresses = v4 + v6;
        services.append(std::move(service));
    }
    return services;
}
