// The desktop's windows as GNOME Shell sees them, offered to the Quellan
// program alone on the session bus (org.quellan.GnomeShell.Windows.xml).
// The entry file around this text supplies Gio, GLib and Meta; `global` is
// the shell's own. One text serves the shell's two ways of loading
// extensions.

const QUELLAN_BUS_NAME = 'org.quellan.GnomeShell';
const QUELLAN_OBJECT_PATH = '/org/quellan/GnomeShell';
const QUELLAN_INTERFACE = 'org.quellan.GnomeShell.Windows';
const QUELLAN_INTERFACE_XML = `@QUELLAN_INTERFACE_XML@`;
// The installed program, written in when installing, once the prefix is final.
const QUELLAN_PROGRAM = '@QUELLAN_PROGRAM@';

const QUELLAN_KIND_STANDARD = 0;
const QUELLAN_KIND_DIALOG = 1;
const QUELLAN_KIND_FLOATING = 2;
const QUELLAN_KIND_AUXILIARY = 3;
const QUELLAN_KIND_DESKTOP = 4;

// Popups, tooltips, notifications and drag icons are never sent.
const QUELLAN_SENT_TYPES = new Map([
    [Meta.WindowType.NORMAL, QUELLAN_KIND_STANDARD],
    [Meta.WindowType.DIALOG, QUELLAN_KIND_DIALOG],
    [Meta.WindowType.MODAL_DIALOG, QUELLAN_KIND_DIALOG],
    [Meta.WindowType.UTILITY, QUELLAN_KIND_FLOATING],
    [Meta.WindowType.TOOLBAR, QUELLAN_KIND_FLOATING],
    [Meta.WindowType.MENU, QUELLAN_KIND_FLOATING], // torn off: popup menus are other types
    [Meta.WindowType.SPLASHSCREEN, QUELLAN_KIND_AUXILIARY],
    [Meta.WindowType.DESKTOP, QUELLAN_KIND_DESKTOP],
    [Meta.WindowType.DOCK, QUELLAN_KIND_DESKTOP],
]);

const QUELLAN_WINDOW_SIGNALS = [
    'notify::title', 'notify::wm-class', 'notify::minimized', 'notify::skip-taskbar',
    'notify::window-type', 'workspace-changed', 'notify::on-all-workspaces',
    // Notified from Mutter 44 on; connecting to it earlier is harmless.
    'notify::transient-for',
];

// Override-redirect windows are never tracked (_track).
function quellanIsSent(window) {
    return QUELLAN_SENT_TYPES.has(window.get_window_type());
}

// As the X11 backend classifies: the type first; a normal window is a
// dialog when transient, auxiliary when kept off the taskbar.
function quellanKind(window) {
    const kind = QUELLAN_SENT_TYPES.get(window.get_window_type());
    if (kind !== QUELLAN_KIND_STANDARD)
        return kind;
    if (window.get_transient_for())
        return QUELLAN_KIND_DIALOG;
    return window.is_skip_taskbar() ? QUELLAN_KIND_AUXILIARY : QUELLAN_KIND_STANDARD;
}

// The window as the interface's (tissubbb), or null when it is not sent.
function quellanRecord(window, activeWorkspace) {
    if (!quellanIsSent(window))
        return null;
    const pid = window.get_pid();
    const shown = window.is_on_all_workspaces() || window.get_workspace() === activeWorkspace;
    return [window.get_id(), pid > 0 ? pid : 0, window.get_wm_class() ?? '', window.get_title() ?? '',
        quellanKind(window), window.minimized, window.can_minimize(), shown];
}

function quellanSameList(a, b) {
    return a.length === b.length && a.every((value, i) => value === b[i]);
}

// Whose calls are answered: the installed program and, when the shell was
// started with QUELLAN_TEST_CALLER set to an absolute path, that program.
// The shell's environment, not a GSettings key: dconf is writable by every
// program of the user, the shell's environment only by whoever starts the
// shell, so no other program can let itself in.
function quellanAllowedPrograms() {
    const test = GLib.getenv('QUELLAN_TEST_CALLER');
    return [QUELLAN_PROGRAM, test].filter(path => path?.startsWith('/'));
}

// A program replaced on disk while it runs (an upgrade) reads as
// "<path> (deleted)"; it is still that program.
function quellanProgramOf(pid) {
    let path;
    try {
        path = GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {
        return null;
    }
    const deleted = ' (deleted)';
    return path.endsWith(deleted) ? path.slice(0, -deleted.length) : path;
}

class QuellanWindows {
    enable() {
        this._allowed = quellanAllowedPrograms();
        this._letIn = new Map(); // unique name -> its name watch
        this._listeners = new Set(); // let in, and asked for the windows
        this._checking = new Map(); // unique name -> calls waiting for its check
        this._windows = new Map(); // Meta.Window -> {handlers, record: as last sent}
        this._byId = new Map();
        this._dirty = new Set();
        this._closed = [];
        this._focusMoves = [];
        this._stacking = [];
        this._serial = 0;
        this._idleId = 0;

        const display = global.display;
        this._focusedId = this._sentId(display.focus_window);
        for (const window of display.list_all_windows())
            this._track(window);
        this._flush();
        this._displayHandlers = [
            display.connect('window-created', (_display, window) => this._track(window)),
            display.connect('notify::focus-window', () => this._focusMoved()),
            display.connect('restacked', () => this._schedule()),
        ];
        this._workspaceHandler = global.workspace_manager.connect('active-workspace-changed', () => {
            for (const window of this._windows.keys())
                this._dirty.add(window);
            this._schedule();
        });

        this._object = Gio.DBusExportedObject.wrapJSObject(QUELLAN_INTERFACE_XML, this);
        this._object.export(Gio.DBus.session, QUELLAN_OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, QUELLAN_BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._nameId);
        this._object.unexport();
        this._object = null;
        for (const id of this._displayHandlers)
            global.display.disconnect(id);
        global.workspace_manager.disconnect(this._workspaceHandler);
        for (const [window, entry] of this._windows) {
            for (const id of entry.handlers)
                window.disconnect(id);
        }
        this._windows.clear();
        this._byId.clear();
        if (this._idleId)
            GLib.source_remove(this._idleId);
        this._idleId = 0;
        for (const watch of this._letIn.values())
            Gio.bus_unwatch_name(watch);
        this._letIn.clear();
        this._listeners.clear();
        // Whoever waits for a check is told rather than left to time out.
        for (const calls of this._checking.values()) {
            for (const [invocation] of calls) {
                invocation.return_dbus_error('org.freedesktop.DBus.Error.UnknownObject',
                    'The Quellan extension was disabled');
            }
        }
        this._checking.clear();
    }

    GetWindowsAsync(_params, invocation) {
        this._admit(invocation, () => {
            this._flush();
            this._listeners.add(invocation.get_sender());
            const records = [];
            for (const entry of this._windows.values()) {
                if (entry.record)
                    records.push(entry.record);
            }
            const focus = global.display.focus_window;
            const focused = focus && this._windows.get(focus)?.record ? focus.get_id() : 0;
            invocation.return_value(new GLib.Variant('(ua(tissubbb)att)',
                [this._serial, records, this._stacking, focused]));
        });
    }

    MinimizeAsync([id], invocation) {
        this._admit(invocation, () => {
            const window = this._byId.get(id);
            const asked = Boolean(window) && quellanIsSent(window) && window.can_minimize() &&
                !window.minimized;
            if (asked)
                window.minimize();
            invocation.return_value(new GLib.Variant('(b)', [asked]));
        });
    }

    // The program learns its request was read from the Changed before this
    // answer, so every change made so far goes out first.
    PingAsync(_params, invocation) {
        this._admit(invocation, () => {
            this._flush();
            invocation.return_value(new GLib.Variant('(u)', [this._serial]));
        });
    }

    // Runs `answer` once the caller is known to be an allowed program. The
    // check asks the bus for the caller's process without waiting for it:
    // the shell must never block on another program.
    _admit(invocation, answer) {
        const sender = invocation.get_sender();
        if (this._letIn.has(sender)) {
            answer();
            return;
        }
        const waiting = this._checking.get(sender);
        if (waiting) {
            waiting.push([invocation, answer]);
            return;
        }
        if (!sender) {
            this._deny(invocation);
            return;
        }
        const calls = [[invocation, answer]];
        this._checking.set(sender, calls);
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
            'GetConnectionUnixProcessID', new GLib.Variant('(s)', [sender]), new GLib.VariantType('(u)'),
            Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                // Disabled meanwhile: those calls were answered then.
                if (this._checking.get(sender) !== calls)
                    return;
                this._checking.delete(sender);
                let allowed = false;
                try {
                    const [pid] = connection.call_finish(result).deepUnpack();
                    allowed = this._allowed.includes(quellanProgramOf(pid));
                } catch (e) {
                    // The caller left before the bus could say who it was.
                }
                if (allowed)
                    this._letIn.set(sender, this._watch(sender));
                for (const [call, callAnswer] of calls) {
                    if (allowed)
                        callAnswer();
                    else
                        this._deny(call);
                }
            });
    }

    _deny(invocation) {
        invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
            'Only the Quellan program may use this interface');
    }

    // A unique name is never reused, but it is kept only while its owner is
    // on the bus.
    _watch(sender) {
        return Gio.bus_watch_name_on_connection(Gio.DBus.session, sender, Gio.BusNameWatcherFlags.NONE,
            null, () => {
                const watch = this._letIn.get(sender);
                if (watch === undefined)
                    return;
                Gio.bus_unwatch_name(watch);
                this._letIn.delete(sender);
                this._listeners.delete(sender);
            });
    }

    _sentId(window) {
        return window && quellanIsSent(window) ? window.get_id() : 0;
    }

    // Every window but override-redirect ones (menus and tooltips, which
    // never become anything else) is watched, as its type may change.
    // Override-redirect is X11's; asked only where Mutter offers it.
    _track(window) {
        if (this._windows.has(window) || window.is_override_redirect?.())
            return;
        const changed = () => {
            this._dirty.add(window);
            this._schedule();
        };
        const handlers = QUELLAN_WINDOW_SIGNALS.map(signal => window.connect(signal, changed));
        handlers.push(window.connect('unmanaged', () => this._untrack(window)));
        this._windows.set(window, {handlers, record: null});
        this._byId.set(window.get_id(), window);
        changed();
    }

    _untrack(window) {
        const entry = this._windows.get(window);
        for (const id of entry.handlers)
            window.disconnect(id);
        this._windows.delete(window);
        this._byId.delete(window.get_id());
        this._dirty.delete(window);
        if (entry.record)
            this._closed.push(entry.record[0]);
        this._schedule();
    }

    // Kept as it happens, so that a focus held for less than a turn of the
    // main loop is still sent.
    _focusMoved() {
        const focus = global.display.focus_window;
        if (focus)
            this._track(focus);
        const id = this._sentId(focus);
        if (id === this._focusedId)
            return;
        this._focusedId = id;
        this._focusMoves.push(id);
        this._schedule();
    }

    _schedule() {
        if (this._idleId)
            return;
        // Not at idle priority: the shell's redraws come first, and while it
        // animates an idle source would wait, holding back what changed.
        this._idleId = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
            this._idleId = 0;
            this._flush();
            return GLib.SOURCE_REMOVE;
        });
    }

    // Sends what changed since the last Changed, if anything did, as one.
    _flush() {
        if (this._idleId) {
            GLib.source_remove(this._idleId);
            this._idleId = 0;
        }
        const active = global.workspace_manager.get_active_workspace();
        const records = [];
        const closed = this._closed;
        for (const window of this._dirty) {
            const entry = this._windows.get(window);
            const record = quellanRecord(window, active);
            if (!record) {
                if (entry.record)
                    closed.push(entry.record[0]);
                entry.record = null;
            } else if (!entry.record || !quellanSameList(record, entry.record)) {
                records.push(record);
                entry.record = record;
            }
        }
        this._dirty.clear();
        const sent = [...this._windows].filter(([, entry]) => entry.record).map(([window]) => window);
        const stacking = global.display.sort_windows_by_stacking(sent).map(window => window.get_id());
        const focus = this._focusMoves;
        this._closed = [];
        this._focusMoves = [];
        if (!records.length && !closed.length && !focus.length && quellanSameList(stacking, this._stacking))
            return;
        this._stacking = stacking;
        this._serial = (this._serial + 1) % 2 ** 32;
        // Only to the callers let in: titles reach nobody else.
        const body = new GLib.Variant('(ua(tissubbb)atatat)', [this._serial, records, closed, stacking, focus]);
        for (const listener of this._listeners) {
            try {
                Gio.DBus.session.emit_signal(listener, QUELLAN_OBJECT_PATH, QUELLAN_INTERFACE, 'Changed', body);
            } catch (e) {
                logError(e, 'Quellan: could not send Changed');
            }
        }
    }
}
