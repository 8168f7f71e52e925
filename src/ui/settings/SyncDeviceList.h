#pragma once

#include "core/sync/SyncDevice.h"

#include <QList>
#include <QWidget>
#include <functional>
#include <optional>
#include <utility>

class Clock;
class QCheckBox;
class QLabel;
class SyncService;

// The paired devices, a row each: icon, name, how it is doing, the switch
// that pauses it and the button that unpairs it. Rows are rebuilt only when
// the devices themselves change; every redraw updates them in place.
class SyncDeviceList : public QWidget {
    Q_OBJECT
public:
    using Confirm = std::function<bool(const SyncDevice&)>;

    // Asks confirmUnpair at the time of each unpair, so the owner may swap it.
    SyncDeviceList(SyncService& sync, const Clock& clock, const Confirm& confirmUnpair,
                   QWidget* parent = nullptr);

    // Redraws from the service; false when there are no devices to show.
    bool redraw();
    // Draws every icon anew on the next redraw: the palette changed.
    void forgetIcons();

private:
    struct DeviceRow {
        QString id;
        QWidget* row;
        QLabel* icon;
        QLabel* subtitle;
        QCheckBox* active;
        // What the icon was last drawn for: drawing it is an SVG render.
        std::optional<std::pair<QString, bool>> iconDrawn;
    };

    void build();
    void unpair(const QString& id);
    void setActive(const QString& id, bool active);
    std::optional<SyncDevice> device(const QString& id) const;

    SyncService& m_sync;
    const Clock& m_clock;
    const Confirm& m_confirmUnpair;
    QList<DeviceRow> m_rows;
};
