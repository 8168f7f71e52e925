/* Tindrel's helper inside GNOME Shell 43 and 44.
 *
 * GNOME gives ordinary programs no tray, no global shortcuts and no way to
 * learn which app is in front. This extension lends Tindrel the Shell's:
 * it grabs Tindrel's shortcuts and reports their presses, reports the
 * focused window, and shows Tindrel's menu in the top bar, all for as long
 * as Tindrel holds its name on the session bus, and for no one else.
 */
const { Clutter, Gio, GLib, GObject, Meta, Shell, St } = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;

const TINDREL_NAME = 'io.tindrel.Tindrel';
const TINDREL_PATH = '/io/tindrel/Tindrel';
const TINDREL_INTERFACE = 'io.tindrel.Tindrel';
const CALLBACK_PATH = '/io/tindrel/ShellExtension';
const CALLBACK_INTERFACE = 'io.tindrel.ShellExtension';
const SHELL_PATH = '/io/tindrel/Shell';
const NOT_TINDREL = 'io.tindrel.Shell.Error.NotTindrel';

const SHELL_INTERFACE = `
<node>
  <interface name="io.tindrel.Shell">
    <property name="Version" type="u" access="read"/>
    <method name="GrabAccelerator">
      <arg name="id" type="u" direction="in"/>
      <arg name="accelerator" type="s" direction="in"/>
      <arg name="granted" type="b" direction="out"/>
    </method>
    <method name="UngrabAccelerator">
      <arg name="id" type="u" direction="in"/>
      <arg name="released" type="b" direction="out"/>
    </method>
    <method name="ActivateWindow">
      <arg name="window" type="t" direction="in"/>
      <arg name="found" type="b" direction="out"/>
    </method>
    <method name="ReportFocus"/>
  </interface>
</node>`;

const TindrelButton = GObject.registerClass(
class TindrelButton extends PanelMenu.Button {
    _init(extension) {
        super._init(0.0, 'Tindrel');
        this._extension = extension;
        this.add_child(new St.Icon({
            // Tindrel's own icon where the theme has it.
            gicon: new Gio.ThemedIcon({
                names: ['io.tindrel.Tindrel-symbolic', 'edit-paste-symbolic'],
            }),
            style_class: 'system-status-icon',
        }));
        this._pause = new PopupMenu.PopupMenuItem('Pause Tracking');
        this._pause.connect('activate', () => extension.callTindrel('TogglePause'));
        this.menu.addMenuItem(this._pause);
        this.menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
        this._addItem('Settings\u2026', 'OpenSettings', new GLib.Variant('(s)', ['']));
        this._addItem('Clear History', 'ClearHistory');
        this.menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
        this._addItem('Quit Tindrel', 'Quit');
    }

    _addItem(label, method, args = null) {
        const item = new PopupMenu.PopupMenuItem(label);
        item.connect('activate', () => this._extension.callTindrel(method, args));
        this.menu.addMenuItem(item);
    }

    setPaused(paused) {
        this._pause.label.text = paused ? 'Resume Tracking' : 'Pause Tracking';
    }

    // A left click opens Tindrel's panel; any other button opens the menu.
    vfunc_event(event) {
        if (event.type() === Clutter.EventType.BUTTON_PRESS &&
            event.get_button() === Clutter.BUTTON_PRIMARY) {
            this.menu.close();
            this._extension.callTindrel('TogglePanel');
            return Clutter.EVENT_STOP;
        }
        return super.vfunc_event(event);
    }
});

class TindrelExtension {
    enable() {
        this._owner = null;
        // Tindrel's shortcut id -> { action, accelerator } of the Shell's grab.
        this._grabs = new Map();
        this._button = null;
        this._pausedSubscription = 0;
        this._dbus = Gio.DBusExportedObject.wrapJSObject(SHELL_INTERFACE, this);
        this._dbus.export(Gio.DBus.session, SHELL_PATH);
        this._acceleratorSignal = global.display.connect('accelerator-activated',
            (_display, action) => this._onAccelerator(action));
        this._focusSignal = global.display.connect('notify::focus-window',
            () => this._reportFocus());
        this._watch = Gio.bus_watch_name_on_connection(Gio.DBus.session, TINDREL_NAME,
            Gio.BusNameWatcherFlags.NONE,
            (_connection, _name, owner) => this._onTindrelAppeared(owner),
            () => this._onTindrelVanished());
    }

    disable() {
        Gio.bus_unwatch_name(this._watch);
        this._onTindrelVanished();
        global.display.disconnect(this._acceleratorSignal);
        global.display.disconnect(this._focusSignal);
        this._dbus.flush();
        this._dbus.unexport();
        this._dbus = null;
    }

    _onTindrelAppeared(owner) {
        if (this._owner !== null)
            this._onTindrelVanished(); // a new instance: nothing of the old one is kept
        this._owner = owner;
        this._button = new TindrelButton(this);
        Main.panel.addToStatusArea('tindrel', this._button);
        this._pausedSubscription = Gio.DBus.session.signal_subscribe(owner,
            'org.freedesktop.DBus.Properties', 'PropertiesChanged', TINDREL_PATH,
            TINDREL_INTERFACE, Gio.DBusSignalFlags.NONE,
            (_c, _s, _p, _i, _n, params) => {
                const paused = params.deepUnpack()[1]['Paused'];
                if (paused !== undefined)
                    this._button?.setPaused(paused.unpack());
            });
        Gio.DBus.session.call(owner, TINDREL_PATH, 'org.freedesktop.DBus.Properties', 'Get',
            new GLib.Variant('(ss)', [TINDREL_INTERFACE, 'Paused']), null,
            Gio.DBusCallFlags.NO_AUTO_START, -1, null, (connection, result) => {
                try {
                    const [value] = connection.call_finish(result).deepUnpack();
                    if (this._owner === owner)
                        this._button?.setPaused(value.unpack());
                } catch (e) {
                    // An older Tindrel, or gone again: the menu offers Pause.
                }
            });
        this._reportFocus();
    }

    // Tindrel quit or crashed: its shortcuts go back to the desktop.
    _onTindrelVanished() {
        for (const id of [...this._grabs.keys()])
            this._release(id);
        if (this._pausedSubscription) {
            Gio.DBus.session.signal_unsubscribe(this._pausedSubscription);
            this._pausedSubscription = 0;
        }
        this._button?.destroy();
        this._button = null;
        this._owner = null;
    }

    callTindrel(method, args = null) {
        if (this._owner === null)
            return;
        Gio.DBus.session.call(this._owner, TINDREL_PATH, TINDREL_INTERFACE, method, args, null,
            Gio.DBusCallFlags.NO_AUTO_START, -1, null, (connection, result) => {
                try {
                    connection.call_finish(result);
                } catch (e) {
                    logError(e, `Tindrel: ${method}`);
                }
            });
    }

    // Addressed to Tindrel's own connection: what is in front is nobody
    // else's business.
    _notifyTindrel(method, args) {
        if (this._owner === null)
            return;
        Gio.DBus.session.call(this._owner, CALLBACK_PATH, CALLBACK_INTERFACE, method, args, null,
            Gio.DBusCallFlags.NO_AUTO_START, -1, null, (connection, result) => {
                try {
                    connection.call_finish(result);
                } catch (e) {
                    // Tindrel went away meanwhile: the watcher cleans up.
                }
            });
    }

    _onAccelerator(action) {
        for (const [id, grab] of this._grabs) {
            if (grab.action === action) {
                this._notifyTindrel('ShortcutPressed', new GLib.Variant('(u)', [id]));
                return;
            }
        }
    }

    _reportFocus() {
        const win = global.display.focus_window;
        let args = [0, '', '', '', 0, '', false];
        if (win) {
            let desktopId = Shell.WindowTracker.get_default().get_window_app(win)?.get_id() ?? '';
            // Windows of no known app get a made-up "window:N" app.
            desktopId = desktopId.startsWith('window:') ? '' : desktopId.replace(/\.desktop$/, '');
            const pid = win.get_pid();
            args = [win.get_id(), desktopId, win.get_wm_class() ?? '',
                win.get_wm_class_instance() ?? '', pid > 0 ? pid : 0, win.get_title() ?? '',
                win.get_client_type() === Meta.WindowClientType.X11];
        }
        this._notifyTindrel('FocusChanged', new GLib.Variant('(tsssusb)', args));
    }

    _grab(accelerator) {
        const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
        if (action === Meta.KeyBindingAction.NONE)
            return null;
        // The Shell lets a grab fire only in the modes it is allowed in.
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
            Shell.ActionMode.ALL);
        return action;
    }

    _release(id) {
        const grab = this._grabs.get(id);
        if (!grab)
            return false;
        global.display.ungrab_accelerator(grab.action);
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(grab.action),
            Shell.ActionMode.NONE);
        this._grabs.delete(id);
        return true;
    }

    // Runs `handler` for a caller that owns Tindrel's name, and refuses
    // anyone else. The owner is asked again when the sender is not the one
    // known: Tindrel may call before the news of its name has arrived here.
    _fromTindrel(invocation, handler) {
        const sender = invocation.get_sender();
        const answer = () => {
            try {
                invocation.return_value(handler());
            } catch (e) {
                invocation.return_dbus_error('io.tindrel.Shell.Error.Failed', e.message);
            }
        };
        if (sender !== null && sender === this._owner) {
            answer();
            return;
        }
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetNameOwner', new GLib.Variant('(s)', [TINDREL_NAME]),
            null, Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                let owner = null;
                try {
                    [owner] = connection.call_finish(result).deepUnpack();
                } catch (e) {
                    // No owner: refused below.
                }
                if (owner !== null && owner === sender && this._dbus !== null)
                    answer();
                else
                    invocation.return_dbus_error(NOT_TINDREL,
                        `only the owner of ${TINDREL_NAME} may call this`);
            });
    }

    /* io.tindrel.Shell */

    get Version() {
        return 1;
    }

    GrabAcceleratorAsync([id, accelerator], invocation) {
        this._fromTindrel(invocation, () => {
            const old = this._grabs.get(id);
            if (old && old.accelerator === accelerator)
                return new GLib.Variant('(b)', [true]);
            this._release(id);
            if (accelerator === '')
                return new GLib.Variant('(b)', [true]);
            const action = this._grab(accelerator);
            if (action !== null) {
                this._grabs.set(id, { action, accelerator });
                return new GLib.Variant('(b)', [true]);
            }
            // Refused: the id keeps the key it had.
            if (old) {
                const again = this._grab(old.accelerator);
                if (again !== null)
                    this._grabs.set(id, { action: again, accelerator: old.accelerator });
            }
            return new GLib.Variant('(b)', [false]);
        });
    }

    UngrabAcceleratorAsync([id], invocation) {
        this._fromTindrel(invocation, () => new GLib.Variant('(b)', [this._release(id)]));
    }

    ActivateWindowAsync([window], invocation) {
        this._fromTindrel(invocation, () => {
            const win = global.display.list_all_windows().find(w => w.get_id() === window);
            if (win)
                Main.activateWindow(win);
            return new GLib.Variant('(b)', [win !== undefined]);
        });
    }

    ReportFocusAsync(_args, invocation) {
        this._fromTindrel(invocation, () => {
            this._reportFocus();
            return null;
        });
    }
}

function init() {
    return new TindrelExtension();
}
