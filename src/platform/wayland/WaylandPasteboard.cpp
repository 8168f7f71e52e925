#include "platform/wayland/WaylandPasteboard.h"

#include "core/util/Log.h"
#include "core/util/Utf8.h"
#include "platform/wayland/PipeReader.h"
#include "platform/wayland/PipeWriter.h"
#include "platform/wayland/WaylandClient.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Both protocols have the same requests and events in the same order, so one
// client drives either; only the interface descriptions differ.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

struct WaylandPasteboard::Offer {
    wl_proxy* proxy;
    QStringList types;
};

namespace {
constexpr auto kReadTimeout = 3000ms;
constexpr auto kRoundtripTimeout = 2000ms;

// Text types in the order we prefer them; STRING is Latin-1.
struct TextType {
    const char* name;
    bool latin1;
};
constexpr TextType kTextTypes[] = {
    {"text/plain;charset=utf-8", false},
    {"UTF8_STRING", false},
    {"text/plain", false},
    {"TEXT", false},
    {"STRING", true},
};
// What we offer for our own text, all as UTF-8 but STRING, which is
// Latin-1. XWayland's bridge names the first two UTF8_STRING and TEXT for X
// programs itself: offering those as well would list them twice there.
const char* const kOfferedTypes[] = {"text/plain;charset=utf-8", "text/plain", "STRING"};

QStringList offeredTypes() {
    QStringList types;
    for (const char* type : kOfferedTypes)
        types << QString::fromLatin1(type);
    return types;
}

// The listener tables, typed for wl_proxy since one set serves both protocols.
struct DeviceListener {
    void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
    void (*selection)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
    void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, int32_t);
    void (*cancelled)(void*, wl_proxy*);
};
struct OfferListener {
    void (*offer)(void*, wl_proxy*, const char*);
};

template <typename Listener> void listen(wl_proxy* proxy, const Listener* listener, void* data) {
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(listener)),
                          data);
}

void destroyVia(wl_proxy* proxy, uint32_t opcode) {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy),
                           WL_MARSHAL_FLAG_DESTROY);
}

} // namespace

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::connect(const QString& display,
                                                              QString* why) {
    wl_display* connection = WaylandClient::open(display, why);
    if (!connection)
        return nullptr;
    std::unique_ptr<WaylandPasteboard> board(new WaylandPasteboard(connection));
    if (!board->bind(why))
        return nullptr;
    return board;
}

WaylandPasteboard::WaylandPasteboard(wl_display* display) : m_display(display) {
    // An application that stops reading a paste midway closes its pipe; our
    // write must then fail, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}

WaylandPasteboard::~WaylandPasteboard() {
    m_notifier.reset();
    for (const auto& offer : m_offers)
        destroyVia(offer->proxy, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    if (m_source)
        destroyVia(m_source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (m_primarySource)
        destroyVia(m_primarySource, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (m_device)
        destroyVia(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
    if (m_manager)
        destroyVia(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

void WaylandPasteboard::registryGlobal(void* data, wl_registry* registry, uint32_t name,
                                       const char* interface, uint32_t version) {
    auto* self = static_cast<WaylandPasteboard*>(data);
    const std::string_view iface(interface);
    if (iface == "wl_seat" && !self->m_seat) {
        // The first seat is the one with the keyboard in every session we know.
        self->m_seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (iface == "ext_data_control_manager_v1") {
        self->m_extName = name;
    } else if (iface == "zwlr_data_control_manager_v1") {
        self->m_wlrName = name;
        self->m_wlrVersion = std::min<uint32_t>(version, 2);
    }
}

void WaylandPasteboard::registryGlobalRemove(void*, wl_registry*, uint32_t) {
    // A seat or manager going away ends the device, which reports finished.
}

bool WaylandPasteboard::bind(QString* why) {
    static const wl_registry_listener registryListener{&registryGlobal, &registryGlobalRemove};
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, this);
    if (!WaylandClient::roundtrip(m_display, kRoundtripTimeout)) {
        *why = u"the Wayland compositor did not answer"_s;
        return false;
    }
    if (m_extName) {
        // The standard protocol first: compositors that have both keep it current.
        m_manager = static_cast<wl_proxy*>(
            wl_registry_bind(m_registry, m_extName, &ext_data_control_manager_v1_interface, 1));
        m_protocolName = u"ext_data_control_manager_v1"_s;
        m_canSetPrimary = true;
    } else if (m_wlrName) {
        m_manager = static_cast<wl_proxy*>(wl_registry_bind(
            m_registry, m_wlrName, &zwlr_data_control_manager_v1_interface, m_wlrVersion));
        m_protocolName = u"zwlr_data_control_manager_v1"_s;
        m_canSetPrimary = m_wlrVersion >= 2;
    } else {
        *why = u"the Wayland compositor offers no data-control protocol"_s;
        return false;
    }
    if (!m_seat) {
        *why = u"the Wayland compositor has no seat"_s;
        return false;
    }

    const wl_interface* deviceInterface =
        m_extName ? &ext_data_control_device_v1_interface : &zwlr_data_control_device_v1_interface;
    m_device = wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE,
                                      deviceInterface, wl_proxy_get_version(m_manager), 0, nullptr,
                                      m_seat);
    static const DeviceListener deviceListener{
        [](void* data, wl_proxy*, wl_proxy* offer) {
            auto* self = static_cast<WaylandPasteboard*>(data);
            static const OfferListener offerListener{
                [](void* offerData, wl_proxy*, const char* type) {
                    static_cast<Offer*>(offerData)->types << QString::fromUtf8(type);
                }};
            self->m_offers.push_back(std::make_unique<Offer>(Offer{offer, {}}));
            listen(offer, &offerListener, self->m_offers.back().get());
        },
        [](void* data, wl_proxy*, wl_proxy* offer) {
            static_cast<WaylandPasteboard*>(data)->onSelection(offer);
        },
        [](void* data, wl_proxy*) {
            static_cast<WaylandPasteboard*>(data)->lost(
                u"the compositor withdrew the clipboard device"_s);
        },
        [](void* data, wl_proxy*, wl_proxy* offer) {
            static_cast<WaylandPasteboard*>(data)->onPrimarySelection(offer);
        },
    };
    listen(m_device, &deviceListener, this);
    // The current selection arrives now, before anyone counts changes.
    if (!WaylandClient::roundtrip(m_display, kRoundtripTimeout)) {
        *why = u"the Wayland compositor did not answer"_s;
        return false;
    }

    m_notifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                     &WaylandPasteboard::dispatch);
    return true;
}

QString WaylandPasteboard::protocolName() const {
    return m_protocolName;
}

void WaylandPasteboard::dispatch() {
    if (m_dead)
        return;
    if (!WaylandClient::dispatch(m_display)) {
        lost(u"the connection to the Wayland compositor broke"_s);
        return;
    }
    flush();
}

void WaylandPasteboard::flush() {
    if (!WaylandClient::flush(m_display))
        lost(u"the connection to the Wayland compositor broke"_s);
}

void WaylandPasteboard::lost(const QString& why) {
    if (m_dead)
        return;
    m_dead = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    Log::write(u"Tindrel: the Wayland clipboard stopped working: "_s + why);
}

WaylandPasteboard::Offer* WaylandPasteboard::findOffer(wl_proxy* proxy) const {
    for (const auto& offer : m_offers)
        if (offer->proxy == proxy)
            return offer.get();
    return nullptr;
}

void WaylandPasteboard::dropOffer(wl_proxy* proxy) {
    const auto it = std::find_if(m_offers.begin(), m_offers.end(),
                                 [proxy](const auto& offer) { return offer->proxy == proxy; });
    if (it == m_offers.end())
        return;
    destroyVia(proxy, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    m_offers.erase(it);
}

void WaylandPasteboard::onSelection(wl_proxy* offer) {
    if (m_selection && m_selection != offer)
        dropOffer(m_selection);
    m_selection = offer;
    // While our source is live, the selection is our own write coming back:
    // it was counted when made. Another client's copy cancels our source
    // before its selection arrives, so that one is counted.
    if (m_source)
        return;
    ++m_changeCount;
    Q_EMIT counted();
}

void WaylandPasteboard::onPrimarySelection(wl_proxy* offer) {
    // The primary selection is not followed; its offers are let go at once.
    if (offer && offer != m_selection)
        dropOffer(offer);
}

void WaylandPasteboard::watchChanges(QObject* context, std::function<void()> changed) {
    QObject::connect(this, &WaylandPasteboard::counted, context, std::move(changed));
}

void WaylandPasteboard::requestTypes(QObject*, std::function<void(QStringList)> done) {
    // An offer lists its types before it becomes the selection: nothing to ask.
    if (m_source) {
        done(offeredTypes());
        return;
    }
    const Offer* offer = m_dead ? nullptr : findOffer(m_selection);
    done(offer ? offer->types : QStringList());
}

std::optional<QString> WaylandPasteboard::ownText() const {
    if (!m_source)
        return std::nullopt;
    return m_sourceText;
}

void WaylandPasteboard::requestText(QObject* context,
                                    std::function<void(std::optional<QString>)> done) {
    if (m_source) {
        done(m_sourceText);
        return;
    }
    const Offer* offer = m_dead ? nullptr : findOffer(m_selection);
    const TextType* chosen = nullptr;
    if (offer) {
        for (const TextType& type : kTextTypes) {
            if (offer->types.contains(QLatin1String(type.name))) {
                chosen = &type;
                break;
            }
        }
    }
    int fds[2];
    if (!chosen || ::pipe2(fds, O_CLOEXEC) != 0) {
        done(std::nullopt);
        return;
    }
    wl_proxy_marshal_flags(offer->proxy, ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr,
                           wl_proxy_get_version(offer->proxy), 0, chosen->name, fds[1]);
    flush();
    // The compositor has its copy of the write end now; ours would keep the
    // pipe open and the end of the text from ever arriving.
    ::close(fds[1]);
    const bool latin1 = chosen->latin1;
    PipeReader::start(fds[0], maxTextBytes, kReadTimeout, context,
                      [latin1, done = std::move(done)](std::optional<QByteArray> bytes) {
                          if (!bytes) {
                              done(std::nullopt);
                              return;
                          }
                          done(latin1 ? QString::fromLatin1(*bytes) : Utf8::decode(*bytes));
                      });
}

wl_proxy* WaylandPasteboard::makeSource(const QString& text, QByteArray* bytesOut) {
    const wl_interface* sourceInterface = m_protocolName.startsWith(u"ext_"_s)
                                              ? &ext_data_control_source_v1_interface
                                              : &zwlr_data_control_source_v1_interface;
    wl_proxy* source =
        wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                               sourceInterface, wl_proxy_get_version(m_manager), 0, nullptr);
    static const SourceListener sourceListener{
        [](void* data, wl_proxy* from, const char* type, int32_t fd) {
            static_cast<WaylandPasteboard*>(data)->onSend(from, type, fd);
        },
        [](void* data, wl_proxy* from) {
            static_cast<WaylandPasteboard*>(data)->onCancelled(from);
        },
    };
    listen(source, &sourceListener, this);
    for (const char* type : kOfferedTypes)
        wl_proxy_marshal_flags(source, ZWLR_DATA_CONTROL_SOURCE_V1_OFFER, nullptr,
                               wl_proxy_get_version(source), 0, type);
    *bytesOut = text.toUtf8();
    return source;
}

void WaylandPasteboard::writeText(const QString& text) {
    if (m_dead)
        return;
    wl_proxy* previous = m_source;
    m_source = makeSource(text, &m_sourceBytes);
    m_sourceText = text;
    wl_proxy_marshal_flags(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION, nullptr,
                           wl_proxy_get_version(m_device), 0, m_source);
    // Replaced only now: dropping it first would clear the clipboard between.
    if (previous)
        destroyVia(previous, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    flush();
    ++m_changeCount;
    Q_EMIT counted();
}

void WaylandPasteboard::writePrimaryText(const QString& text) {
    if (m_dead || !m_canSetPrimary)
        return;
    wl_proxy* previous = m_primarySource;
    m_primarySource = makeSource(text, &m_primaryBytes);
    wl_proxy_marshal_flags(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION, nullptr,
                           wl_proxy_get_version(m_device), 0, m_primarySource);
    if (previous)
        destroyVia(previous, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    flush();
}

void WaylandPasteboard::onSend(wl_proxy* source, const char* type, int fd) {
    const QByteArray* bytes = source == m_source          ? &m_sourceBytes
                              : source == m_primarySource ? &m_primaryBytes
                                                          : nullptr;
    if (!bytes) {
        ::close(fd);
        return;
    }
    // Older X programs ask for STRING only; what Latin-1 cannot hold
    // becomes a question mark there.
    if (qstrcmp(type, "STRING") == 0)
        PipeWriter::start(fd, QString::fromUtf8(*bytes).toLatin1(), this);
    else
        PipeWriter::start(fd, *bytes, this);
}

void WaylandPasteboard::onCancelled(wl_proxy* source) {
    destroyVia(source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (source == m_source) {
        m_source = nullptr;
        m_sourceText.clear();
        m_sourceBytes.clear();
    } else if (source == m_primarySource) {
        m_primarySource = nullptr;
        m_primaryBytes.clear();
    }
}
