#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

class QSocketNotifier;

// Frees what libxcb allocated (replies, events, errors).
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbPtr = std::unique_ptr<T, XcbFree>;

// A window property as read from the server.
struct XcbProperty {
    xcb_atom_t type = XCB_ATOM_NONE;
    quint8 format = 0;
    QByteArray value;
};

// One connection of our own to the X server. Ours rather than Qt's, so that
// key grabs, synthesis and selection reads neither depend on a GUI
// application object nor disturb Qt's own event handling.
class XcbConnection final : public QObject {
    Q_OBJECT
public:
    // Connects to the display named by DISPLAY; check isValid().
    explicit XcbConnection(QObject* parent = nullptr);
    ~XcbConnection() override;

    bool isValid() const;
    xcb_connection_t* get() const { return m_conn; }
    xcb_window_t root() const { return m_root; }
    xcb_visualid_t rootVisual() const { return m_rootVisual; }

    // Atoms and their names, each asked of the server once.
    xcb_atom_t atom(const QByteArray& name);
    QString atomName(xcb_atom_t atom);
    QStringList atomNames(const QList<xcb_atom_t>& atoms);

    // Reads a whole property (up to maxBytes); none when it is not set.
    std::optional<XcbProperty> property(xcb_window_t window, xcb_atom_t name,
                                        quint32 maxBytes = 1 << 16);
    // Whether a resource id (a window) was created by this connection.
    bool ownsResource(quint32 xid) const;
    // The X error code of a checked request, 0 when it succeeded.
    int check(xcb_void_cookie_t cookie);
    void flush();

    // From now on, events are read as they arrive and handed to the handlers,
    // on the thread of this object.
    void watchEvents();
    using EventHandler = std::function<void(const xcb_generic_event_t& event)>;
    void addEventHandler(QObject* context, EventHandler handler);

private:
    void dispatch(XcbPtr<xcb_generic_event_t> event);
    void readEvents();
    void readQueuedEvents();

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_visualid_t m_rootVisual = 0;
    quint32 m_resourceBase = 0;
    quint32 m_resourceMask = 0;
    QHash<QByteArray, xcb_atom_t> m_atoms;
    QHash<xcb_atom_t, QString> m_atomNames;
    QSocketNotifier* m_notifier = nullptr;
    struct Handler {
        QObject* context;
        EventHandler handler;
    };
    QList<Handler> m_handlers;
};
