// The GNOME Shell extension, from an entry file the build wrote, against
// fakes of the shell, the session bus and /proc:
//   gjs -m extension-tests.js legacy|modules <extension.js> <program> <scratch folder>
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import System from 'system';

const [variant, entryPath, program, scratch] = System.programArgs;
const TYPES = ['NORMAL', 'DESKTOP', 'DOCK', 'DIALOG', 'MODAL_DIALOG', 'TOOLBAR', 'MENU', 'UTILITY',
    'SPLASHSCREEN', 'DROPDOWN_MENU', 'POPUP_MENU', 'TOOLTIP', 'NOTIFICATION', 'COMBO', 'DND', 'OVERRIDE_OTHER'];
const T = Object.fromEntries(TYPES.map((name, i) => [name, i]));

class Emitter {
    constructor() { this.handlers = new Map(); this.next = 1; }
    connect(name, fn) { this.handlers.set(this.next, [name, fn]); return this.next++; }
    disconnect(id) { if (!this.handlers.delete(id)) throw new Error(`disconnected twice: ${id}`); }
    emit(name, ...args) { for (const [n, fn] of [...this.handlers.values()]) if (n === name) fn(this, ...args); }
}

let world;
class FakeWindow extends Emitter {
    constructor(props) {
        super();
        Object.assign(this, {id: world.nextId++, type: T.NORMAL, title: 'Title', wmClass: 'App', pid: 42, or: false,
            transient: null, skip: false, minimized: false, minimizable: true, workspace: 1, all: false}, props);
        world.created.push(this);
    }
    get_id() { return this.id; }
    get_pid() { return this.pid; }
    get_wm_class() { return this.wmClass; }
    get_title() { return this.title; }
    get_window_type() { return this.type; }
    is_override_redirect() { return this.or; }
    get_transient_for() { return this.transient; }
    is_skip_taskbar() { return this.skip; }
    can_minimize() { return this.minimizable; }
    is_on_all_workspaces() { return this.all; }
    get_workspace() { return this.workspace; }
    minimize() { this.change({minimized: true}, 'notify::minimized'); }
    change(props, signal) { Object.assign(this, props); this.emit(signal); }
}

// Fakes of what the extension is given; one world of windows and bus per case.
const session = {
    call(bus, path, iface, method, params, replyType, flags, timeout, cancellable, callback) {
        world.checks.push(() => callback(session, params.deepUnpack()[0]));
    },
    call_finish(sender) {
        if (!(sender in world.pids)) throw new Error('org.freedesktop.DBus.Error.NameHasNoOwner');
        return new GLib.Variant('(u)', [world.pids[sender]]);
    },
    emit_signal(dest, path, iface, name, body) { world.log.push(['signal', dest, name, body.deepUnpack()]); },
};
const fakeGio = {
    DBus: {session}, DBusCallFlags: Gio.DBusCallFlags, BusNameOwnerFlags: Gio.BusNameOwnerFlags,
    BusNameWatcherFlags: Gio.BusNameWatcherFlags,
    DBusExportedObject: {
        wrapJSObject(xml, impl) {
            const info = Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0];
            return {export: (c, path) => { world.exported = {info, impl, path}; }, unexport: () => { world.exported = null; }};
        },
    },
    bus_own_name_on_connection: (c, name) => { world.owned = name; return 1; },
    bus_unown_name: () => { world.owned = null; },
    bus_watch_name_on_connection: (c, name, flags, appeared, vanished) => {
        world.watches.set(world.nextId, {name, vanished});
        return world.nextId++;
    },
    bus_unwatch_name: id => { if (!world.watches.delete(id)) throw new Error('unwatched twice'); },
};
const fakeGLib = {
    Variant: GLib.Variant, VariantType: GLib.VariantType, PRIORITY_DEFAULT_IDLE: 200, SOURCE_REMOVE: false,
    idle_add: (priority, fn) => { world.idle.set(world.nextId, fn); return world.nextId++; },
    source_remove: id => { if (!world.idle.delete(id)) throw new Error('no such source'); },
    getenv: name => world.env[name] ?? null,
    file_read_link(path) {
        const exe = world.exes[/^\/proc\/(\d+)\/exe$/.exec(path)?.[1]];
        if (!exe) throw new Error(`cannot read ${path}`);
        return exe;
    },
};
const fakeMeta = {WindowType: T};
globalThis.quellanFakes = {Gio: fakeGio, GLib: fakeGLib, Meta: fakeMeta};

async function loadExtension() {
    const text = new TextDecoder().decode(GLib.file_get_contents(entryPath)[1]);
    if (variant === 'legacy')
        return new Function('imports', `${text}\nreturn init();`)({gi: globalThis.quellanFakes});
    GLib.mkdir_with_parents(scratch, 0o755);
    const fakes = {'gi://Gio': 'Gio', 'gi://GLib': 'GLib', 'gi://Meta': 'Meta'};
    let rewritten = text;
    for (const [specifier, name] of Object.entries(fakes)) {
        GLib.file_set_contents(`${scratch}/${name}.js`, `export default globalThis.quellanFakes.${name};`);
        rewritten = rewritten.replace(`'${specifier}'`, `'./${name}.js'`);
    }
    GLib.file_set_contents(`${scratch}/base.js`, 'export class Extension { constructor(m) { this.metadata = m; } }');
    rewritten = rewritten.replace("'resource:///org/gnome/shell/extensions/extension.js'", "'./base.js'");
    if (/from '(gi|resource):/.test(rewritten)) throw new Error('an import left unfaked');
    GLib.file_set_contents(`${scratch}/extension.js`, rewritten);
    const {default: QuellanExtension} = await import(`file://${scratch}/extension.js`);
    return new QuellanExtension({uuid: 'quellan@quellan.org'});
}
const extension = await loadExtension();

function check(ok, what) { if (!ok) throw new Error(what); }
function same(actual, expected, what) {
    check(JSON.stringify(actual) === JSON.stringify(expected), `${what}: ${JSON.stringify(actual)}, not ${JSON.stringify(expected)}`);
}

// The program (:1.1), the test's own caller (:1.2), a program upgraded
// while running (:1.3), something else (:1.4), one that left (:1.5), one
// whose program cannot be read (:1.6).
function begin(windowProps = [], env = {QUELLAN_TEST_CALLER: '/opt/test-caller'}) {
    world = {nextId: 1000, created: [], checks: [], log: [], idle: new Map(), watches: new Map(), env, owned: null, exported: null,
        pids: {':1.1': 11, ':1.2': 12, ':1.3': 13, ':1.4': 14, ':1.6': 16},
        exes: {11: program, 12: '/opt/test-caller', 13: `${program} (deleted)`, 14: '/usr/bin/other'}};
    const display = Object.assign(new Emitter(), {focus_window: null, windows: [],
        list_all_windows: () => display.windows,
        sort_windows_by_stacking: ws => [...ws].sort((a, b) => display.windows.indexOf(a) - display.windows.indexOf(b))});
    display.windows = windowProps.map(props => new FakeWindow(props));
    const workspaces = Object.assign(new Emitter(), {active: 1, get_active_workspace: () => workspaces.active});
    globalThis.global = {display, workspace_manager: workspaces};
    extension.enable();
    same([world.owned, world.exported?.path], ['org.quellan.GnomeShell', '/org/quellan/GnomeShell'], 'published');
    return [...display.windows];
}

function end() {
    extension.disable();
    same([world.owned, world.exported, world.idle.size, world.watches.size], [null, null, 0, 0], 'left after disable');
    for (const source of [global.display, global.workspace_manager, ...world.created])
        check(source.handlers.size === 0, 'a handler left connected');
}

// Calls a method as gjs does; the answer lands in world.log.
function call(sender, method, args = []) {
    const {info, impl} = world.exported;
    const m = info.lookup_method(method);
    const answer = kind => (...value) => {
        check(!invocation.answered, `${method} answered twice`);
        invocation.answered = true;
        world.log.push([kind, sender, method, kind === 'reply' ? value[0].deepUnpack() : value[0]]);
        if (kind === 'reply')
            same(value[0].get_type_string(), `(${m.out_args.map(a => a.signature).join('')})`, `${method} answer`);
    };
    const invocation = {get_sender: () => sender, return_value: answer('reply'), return_dbus_error: answer('error')};
    impl[`${method}Async`](new GLib.Variant(`(${m.in_args.map(a => a.signature).join('')})`, args).deepUnpack(), invocation);
}
function answerChecks() { for (const check of world.checks.splice(0)) check(); }
function turn() { const fns = [...world.idle.values()]; world.idle.clear(); fns.forEach(fn => fn()); }
function taken() { return world.log.splice(0); }
function windowsOf(sender) {
    call(sender, 'GetWindows');
    answerChecks();
    const reply = taken().find(e => e[0] === 'reply');
    check(reply, `no windows for ${sender}`);
    return reply[3];
}
function focus(window) {
    global.display.focus_window = window;
    global.display.emit('notify::focus-window');
}
function open(props) {
    const window = new FakeWindow(props);
    global.display.windows.push(window);
    global.display.emit('window-created', window);
    return window;
}
function close(window) {
    global.display.windows.splice(global.display.windows.indexOf(window), 1);
    window.emit('unmanaged');
}
const record = (w, shown = true) => [w.id, w.pid, w.wmClass, w.title, 0, w.minimized, w.minimizable, shown];
const ids = windows => windows.map(w => w.id);
const changed = (to, serial, windows, closed, stacking, moves) =>
    ['signal', to, 'Changed', [serial, windows, closed, stacking, moves]];

const cases = {
    'windows sent, their kinds, and type changes'() {
        const kinds = [[{}, 0], [{type: T.DIALOG}, 1], [{type: T.MODAL_DIALOG}, 1], [{transient: {}}, 1],
            [{type: T.UTILITY}, 2], [{type: T.TOOLBAR}, 2], [{type: T.MENU}, 2], [{type: T.UTILITY, transient: {}}, 2],
            [{type: T.SPLASHSCREEN}, 3], [{skip: true}, 3], [{type: T.DESKTOP}, 4], [{type: T.DOCK}, 4],
            [{type: T.POPUP_MENU}], [{type: T.DROPDOWN_MENU}], [{type: T.TOOLTIP}], [{type: T.NOTIFICATION}],
            [{type: T.OVERRIDE_OTHER, or: true}], [{or: true}]];
        const ws = begin(kinds.map(([props]) => props));
        const sent = ws.filter((w, i) => kinds[i].length > 1);
        const [serial, windows, stacking] = windowsOf(':1.1');
        same(windows.map(r => [r[0], r[4]]), sent.map(w => [w.id, kinds[ws.indexOf(w)][1]]), 'kinds');
        same(stacking, ids(sent), 'stacking');
        ws[0].change({pid: -1, wmClass: null, title: null, minimizable: false}, 'notify::title');
        ws[12].change({type: T.NORMAL}, 'notify::window-type');
        ws[1].change({type: T.POPUP_MENU}, 'notify::window-type');
        open({or: true, type: T.NORMAL});
        turn();
        const stackingNow = ids([ws[0], ...ws.slice(2, 13)]);
        same(taken(), [changed(':1.1', serial + 1, [[ws[0].id, 0, '', '', 0, false, false, true], record(ws[12])],
            [ws[1].id], stackingNow, [])], 'the type changes');
        end();
    },

    'shown: on the active workspace or on all of them'() {
        const ws = begin([{workspace: 1}, {workspace: 2}, {workspace: null, all: true}]);
        const [serial, windows] = windowsOf(':1.1');
        same(windows.map(r => r[7]), [true, false, true], 'shown on the first');
        global.workspace_manager.active = 2;
        global.workspace_manager.emit('active-workspace-changed');
        turn();
        same(taken(), [changed(':1.1', serial + 1, [record(ws[0], false), record(ws[1])], [], ids(ws), [])], 'switched');
        ws[1].change({workspace: 1}, 'workspace-changed');
        ws[2].change({all: false, workspace: 1}, 'notify::on-all-workspaces');
        turn();
        same(taken(), [changed(':1.1', serial + 2, [record(ws[1], false), record(ws[2], false)], [], ids(ws), [])],
            'moved away');
        end();
    },

    'the changes of one turn go out as one Changed, with every focus move'() {
        const ws = begin([{}, {}, {type: T.POPUP_MENU}]);
        const [serial] = windowsOf(':1.1');
        focus(ws[0]);
        focus(ws[1]);
        focus(ws[2]);
        focus(null);
        focus(ws[0]);
        ws[1].change({title: 'Renamed'}, 'notify::title');
        const opened = open({});
        close(open({}));
        close(ws[1]);
        global.display.windows.reverse();
        global.display.emit('restacked');
        same(taken(), [], 'sent before the turn ended');
        turn();
        same(taken(), [changed(':1.1', serial + 1, [record(opened)], [ws[1].id], ids([opened, ws[0]]),
            [ws[0].id, ws[1].id, 0, ws[0].id])], 'one turn');
        global.display.windows.reverse();
        global.display.emit('restacked');
        turn();
        same(taken(), [changed(':1.1', serial + 2, [], [], ids([ws[0], opened]), [])], 'restacked');
        global.display.emit('restacked');
        turn();
        same(taken(), [], 'sent with nothing changed');
        end();
    },

    'Minimize asks only for windows it can, Ping answers after their Changed'() {
        const ws = begin([{}, {minimizable: false}, {minimized: true}, {type: T.TOOLTIP}]);
        const [serial] = windowsOf(':1.1');
        for (const id of [ws[1].id, ws[2].id, ws[3].id, 1, ws[0].id])
            call(':1.1', 'Minimize', [id]);
        call(':1.1', 'Ping');
        same(taken(), [...[false, false, false, false, true].map(asked => ['reply', ':1.1', 'Minimize', [asked]]),
            changed(':1.1', serial + 1, [record(ws[0])], [], ids(ws.slice(0, 3)), []), ['reply', ':1.1', 'Ping', [serial + 1]]],
        'minimized and pinged');
        check(!ws[1].minimized && !ws[3].minimized, 'minimized a window it may not');
        turn();
        call(':1.1', 'Ping');
        same(taken(), [['reply', ':1.1', 'Ping', [serial + 1]]], 'pinged with nothing changed');
        end();
    },

    'only the program is let in, and only it hears Changed'() {
        const ws = begin([{}]);
        call(':1.1', 'GetWindows');
        call(':1.4', 'Minimize', [ws[0].id]);
        call(':1.1', 'Ping');
        call(':1.4', 'Ping');
        call(':1.5', 'Ping');
        same([taken(), world.checks.length], [[], 3], 'answered before the check, or checked twice');
        answerChecks();
        const denied = 'org.freedesktop.DBus.Error.AccessDenied';
        same(taken().map(([kind, sender, method, value]) => [kind, sender, method, kind === 'error' ? value : '']),
            [['reply', ':1.1', 'GetWindows', ''], ['reply', ':1.1', 'Ping', ''], ['error', ':1.4', 'Minimize', denied],
                ['error', ':1.4', 'Ping', denied], ['error', ':1.5', 'Ping', denied]], 'answers');
        check(!ws[0].minimized, 'minimized for a caller denied');
        windowsOf(':1.2');
        windowsOf(':1.3');
        const heard = () => {
            ws[0].change({title: `${ws[0].title}.`}, 'notify::title');
            turn();
            return taken().map(([, to]) => to);
        };
        same(heard(), [':1.1', ':1.2', ':1.3'], 'Changed went to');
        for (const {name, vanished} of [...world.watches.values()]) {
            if (name === ':1.1')
                vanished(session, name);
        }
        same(heard(), [':1.2', ':1.3'], 'Changed went, once :1.1 left, to');
        call(':1.1', 'Ping');
        same(world.checks.length, 1, 'checks of a caller that came back');
        answerChecks();
        end();

        begin([], {});
        call(':1.2', 'Ping');
        call(':1.6', 'Ping');
        answerChecks();
        same(taken(), [['error', ':1.2', 'Ping', denied], ['error', ':1.6', 'Ping', denied]],
            'without QUELLAN_TEST_CALLER');
        end();
    },

    'disable answers the calls still waiting for their check'() {
        begin();
        call(':1.1', 'Ping');
        end();
        answerChecks();
        same(taken(), [['error', ':1.1', 'Ping', 'org.freedesktop.DBus.Error.UnknownObject']], 'answers');
    },
};

let failed = 0;
for (const [name, test] of Object.entries(cases)) {
    try {
        test();
        print(`ok - ${variant}: ${name}`);
    } catch (e) {
        failed++;
        print(`not ok - ${variant}: ${name}: ${e.message}\n${e.stack}`);
    }
}
if (failed)
    System.exit(1);
