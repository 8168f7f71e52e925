#pragma once

#include "platform/PointerWatcher.h"

#include <QObject>
#include <xcb/xcb.h>

class XcbConnection;

// Button presses from XInput 2 raw events on the root window. Raw events go
// to every client that asks for them, next to the normal event the window
// under the pointer gets, and also while another client grabs the pointer
// (an open menu), so watching takes nothing away from anyone. A raw event
// carries no screen position; the pointer is asked where it is when one
// arrives. Stopped, the selection is withdrawn and the server sends nothing.
class X11PointerWatcher final : public QObject, public PointerWatcher {
    Q_OBJECT
public:
    explicit X11PointerWatcher(XcbConnection& connection, QObject* parent = nullptr);
    ~X11PointerWatcher() override;

    bool isAvailable() const override { return m_opcode != 0; }
    void start() override;
    void stop() override;
    bool isWatching() const override { return m_watching; }

private:
    void select(quint32 mask);
    void handleEvent(const xcb_generic_event_t& event);

    XcbConnection& m_conn;
    quint8 m_opcode = 0; // XInput's major opcode; 0 without XInput 2
    bool m_watching = false;
};
