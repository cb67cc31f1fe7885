// The GNOME Shell extension, from an entry file the build wrote, against
// fakes of the shell, the session bus and /proc:
//   gjs -m extension-tests.js legacy|modules <extension.js> <program> <scratch folder>
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import System from 'system';

const [variant, entryPath, program, scratch] = System.programArgs;
const T = Object.fromEntries(['NORMAL', 'DESKTOP', 'DOCK', 'DIALOG', 'MODAL_DIALOG', 'TOOLBAR', 'MENU', 'UTILITY',
    'SPLASHSCREEN', 'DROPDOWN_MENU', 'POPUP_MENU', 'TOOLTIP', 'NOTIFICATION', 'OVERRIDE_OTHER'].map((n, i) => [n, i]));
const DENIED = 'org.freedesktop.DBus.Error.AccessDenied';
let world; // one desktop and bus per case

class Emitter {
    handlers = new Map();
    connect(name, fn) { this.handlers.set(++world.nextId, [name, fn]); return world.nextId; }
    disconnect(id) { if (!this.handlers.delete(id)) throw new Error(`disconnected twice: ${id}`); }
    emit(name, ...args) { for (const [n, fn] of [...this.handlers.values()]) if (n === name) fn(this, ...args); }
}
class FakeWindow extends Emitter {
    constructor(props) {
        super();
        Object.assign(this, {id: ++world.nextId, type: T.NORMAL, title: 'Title', wmClass: 'App', pid: 42, or: false,
            transient: null, skip: false, minimized: false, minimizable: true, workspace: 1, all: false}, props);
        world.created.push(this);
    }
    minimize() { this.change({minimized: true}, 'notify::minimized'); }
    change(props, signal) { Object.assign(this, props); this.emit(signal); }
}
for (const [method, prop] of Object.entries({get_id: 'id', get_pid: 'pid', get_wm_class: 'wmClass', get_title: 'title',
    get_window_type: 'type', is_override_redirect: 'or', get_transient_for: 'transient', is_skip_taskbar: 'skip',
    can_minimize: 'minimizable', is_on_all_workspaces: 'all', get_workspace: 'workspace'}))
    FakeWindow.prototype[method] = function () { return this[prop]; };

// GetConnectionUnixProcessID is answered when the test says (answerChecks).
const session = {
    call: (bus, path, iface, method, params, ...rest) =>
        world.checks.push(() => rest.at(-1)(session, params.deepUnpack()[0])),
    call_finish(sender) {
        if (!(sender in world.pids)) throw new Error('org.freedesktop.DBus.Error.NameHasNoOwner');
        return new GLib.Variant('(u)', [world.pids[sender]]);
    },
    emit_signal: (dest, path, iface, name, body) => world.log.push(['signal', dest, name, body.deepUnpack()]),
};
const fakes = {Meta: {WindowType: T}, Gio: {
    DBus: {session}, DBusCallFlags: Gio.DBusCallFlags, BusNameOwnerFlags: Gio.BusNameOwnerFlags,
    BusNameWatcherFlags: Gio.BusNameWatcherFlags,
    DBusExportedObject: {wrapJSObject: (xml, impl) => ({
        export: (c, path) => { world.exported = {info: Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], impl, path}; },
        unexport: () => { world.exported = null; }})},
    bus_own_name_on_connection: (c, name) => { world.owned = name; return 1; },
    bus_unown_name: () => { world.owned = null; },
    bus_watch_name_on_connection: (c, name, f, a, vanished) => { world.watches.set(++world.nextId, {name, vanished}); return world.nextId; },
    bus_unwatch_name: id => { if (!world.watches.delete(id)) throw new Error('unwatched twice'); },
}, GLib: {
    Variant: GLib.Variant, VariantType: GLib.VariantType, PRIORITY_DEFAULT: 0, SOURCE_REMOVE: false,
    idle_add: (p, fn) => { world.idle.set(++world.nextId, fn); return world.nextId; },
    source_remove: id => { if (!world.idle.delete(id)) throw new Error('no such source'); },
    getenv: name => world.env[name] ?? null,
    // A program not known fails as readlink does.
    file_read_link: path => world.exes[/^\/proc\/(\d+)\/exe$/.exec(path)?.[1]] ?? GLib.file_read_link('/nonexistent'),
}};
globalThis.quellanFakes = fakes;

// The legacy file as the shell's importer runs it; the module one with its
// imports turned to the fakes.
async function load() {
    const text = new TextDecoder().decode(GLib.file_get_contents(entryPath)[1]);
    if (variant === 'legacy')
        return new Function('imports', `${text}\nreturn init();`)({gi: fakes});
    GLib.mkdir_with_parents(scratch, 0o755);
    let rewritten = text.replace("'resource:///org/gnome/shell/extensions/extension.js'", "'./base.js'");
    GLib.file_set_contents(`${scratch}/base.js`, 'export class Extension { constructor(m) { this.metadata = m; } }');
    for (const name of Object.keys(fakes)) {
        GLib.file_set_contents(`${scratch}/${name}.js`, `export default globalThis.quellanFakes.${name};`);
        rewritten = rewritten.replace(`'gi://${name}'`, `'./${name}.js'`);
    }
    if (/from '(gi|resource):/.test(rewritten)) throw new Error('an import left unfaked');
    GLib.file_set_contents(`${scratch}/extension.js`, rewritten);
    return new (await import(`file://${scratch}/extension.js`)).default({uuid: 'quellan@quellan.org'});
}
const extension = await load();

function same(actual, expected, what) {
    const [a, e] = [JSON.stringify(actual), JSON.stringify(expected)];
    if (a !== e) throw new Error(`${what}: ${a}, not ${e}`);
}

// Callers: the program (:1.1), the test's (:1.2), the program upgraded while
// running (:1.3), another (:1.4), one gone (:1.5), one not readable (:1.6).
function begin(windowProps = [], env = {QUELLAN_TEST_CALLER: '/opt/test-caller'}) {
    world = {nextId: 1000, created: [], checks: [], log: [], idle: new Map(), watches: new Map(), env,
        pids: {':1.1': 11, ':1.2': 12, ':1.3': 13, ':1.4': 14, ':1.6': 16},
        exes: {11: program, 12: '/opt/test-caller', 13: `${program} (deleted)`, 14: '/usr/bin/other'}};
    const display = Object.assign(new Emitter(), {focus_window: null, list_all_windows: () => display.windows,
        sort_windows_by_stacking: ws => [...ws].sort((a, b) => display.windows.indexOf(a) - display.windows.indexOf(b))});
    display.windows = windowProps.map(props => new FakeWindow(props));
    const workspaces = Object.assign(new Emitter(), {active: 1, get_active_workspace: () => workspaces.active});
    globalThis.global = {display, workspace_manager: workspaces};
    extension.enable();
    same([world.owned, world.exported.path], ['org.quellan.GnomeShell', '/org/quellan/GnomeShell'], 'published');
    return [...display.windows];
}
function end() {
    extension.disable();
    same([world.owned, world.exported, world.idle.size, world.watches.size], [null, null, 0, 0], 'left after disable');
    same([global.display, global.workspace_manager, ...world.created].filter(s => s.handlers.size), [], 'connected');
}

// Calls a method as gjs does; the answer lands in world.log.
function call(sender, method, args = []) {
    const {info, impl} = world.exported;
    const m = info.lookup_method(method);
    const signature = list => `(${list.map(a => a.signature).join('')})`;
    const answer = kind => value => {
        same(invocation.answered, undefined, `${method} answered twice`);
        invocation.answered = true;
        world.log.push([kind, sender, method, kind === 'reply' ? value.deepUnpack() : value]);
        if (kind === 'reply')
            same(value.get_type_string(), signature(m.out_args), `${method} answer`);
    };
    const invocation = {get_sender: () => sender, return_value: answer('reply'), return_dbus_error: answer('error')};
    impl[`${method}Async`](new GLib.Variant(signature(m.in_args), args).deepUnpack(), invocation);
}
const answerChecks = () => world.checks.splice(0).forEach(check => check());
function turn() {
    const sources = [...world.idle.values()];
    world.idle.clear();
    sources.forEach(fn => fn());
}
const taken = () => world.log.splice(0);
function windowsOf(sender) {
    call(sender, 'GetWindows');
    answerChecks();
    return taken().find(e => e[0] === 'reply')[3];
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
const changed = (serial, windows, closed, stacking, moves, to = ':1.1') =>
    ['signal', to, 'Changed', [serial, windows, closed, stacking, moves]];

const cases = {
    'windows sent, their kinds, type changes, and shown by workspace'() {
        const kinds = [[{}, 0], [{type: T.DIALOG}, 1], [{type: T.MODAL_DIALOG}, 1], [{transient: {}}, 1],
            [{type: T.UTILITY}, 2], [{type: T.TOOLBAR}, 2], [{type: T.MENU}, 2], [{type: T.UTILITY, transient: {}}, 2],
            [{type: T.SPLASHSCREEN}, 3], [{skip: true}, 3], [{type: T.DESKTOP}, 4], [{type: T.DOCK}, 4],
            [{type: T.POPUP_MENU}], [{type: T.DROPDOWN_MENU}], [{type: T.TOOLTIP}], [{type: T.NOTIFICATION}],
            [{type: T.OVERRIDE_OTHER, or: true}], [{or: true}]];
        const ws = begin(kinds.map(([props]) => props));
        const [serial, windows, stacking] = windowsOf(':1.1');
        same(windows.map(r => [r[0], r[4]]), kinds.flatMap(([, kind], i) => kind === undefined ? [] : [[ws[i].id, kind]]),
            'kinds');
        same(stacking, ids(ws.slice(0, 12)), 'stacking');
        ws[0].change({pid: -1, wmClass: null, title: null, minimizable: false}, 'notify::title');
        ws[12].change({type: T.NORMAL}, 'notify::window-type');
        ws[1].change({type: T.POPUP_MENU}, 'notify::window-type');
        open({or: true, type: T.NORMAL});
        turn();
        same(taken(), [changed(serial + 1, [[ws[0].id, 0, '', '', 0, false, false, true], record(ws[12])], [ws[1].id],
            ids([ws[0], ...ws.slice(2, 13)]), [])], 'the type changes');
        end();

        const [here, there, everywhere] = begin([{workspace: 1}, {workspace: 2}, {workspace: null, all: true}]);
        same(windowsOf(':1.1')[1].map(r => r[7]), [true, false, true], 'shown');
        global.workspace_manager.active = 2;
        global.workspace_manager.emit('active-workspace-changed');
        turn();
        there.change({workspace: 1}, 'workspace-changed');
        everywhere.change({all: false, workspace: 1}, 'notify::on-all-workspaces');
        turn();
        same(taken().map(signal => signal[3][1]), [[record(here, false), record(there)],
            [record(there, false), record(everywhere, false)]], 'shown after the switch, then the moves');
        end();
    },

    'the changes of one turn go out as one Changed, with every focus move'() {
        const ws = begin([{}, {}, {type: T.POPUP_MENU}]);
        const [serial] = windowsOf(':1.1');
        for (const window of [ws[0], ws[1], ws[2], null, ws[0]]) {
            global.display.focus_window = window;
            global.display.emit('notify::focus-window');
        }
        ws[1].change({title: 'Renamed'}, 'notify::title');
        const opened = open({});
        close(open({}));
        close(ws[1]);
        global.display.windows.reverse();
        same(taken(), [], 'sent before the turn ended');
        turn();
        same(taken(), [changed(serial + 1, [record(opened)], [ws[1].id], ids([opened, ws[0]]),
            [ws[0].id, ws[1].id, 0, ws[0].id])], 'one turn');
        for (const order of [[ws[0], opened], [ws[0], opened]]) {
            global.display.windows = [...order, ws[2]];
            global.display.emit('restacked');
            turn();
        }
        same(taken(), [changed(serial + 2, [], [], ids([ws[0], opened]), [])], 'restacked, then not');
        end();
    },

    'Minimize asks only for windows it can, Ping answers after their Changed'() {
        const ws = begin([{}, {minimizable: false}, {minimized: true}, {type: T.TOOLTIP}]);
        const [serial] = windowsOf(':1.1');
        for (const id of [ws[1].id, ws[2].id, ws[3].id, 1, ws[0].id])
            call(':1.1', 'Minimize', [id]);
        call(':1.1', 'Ping');
        turn();
        call(':1.1', 'Ping');
        same(taken(), [...[false, false, false, false, true].map(asked => ['reply', ':1.1', 'Minimize', [asked]]),
            changed(serial + 1, [record(ws[0])], [], ids(ws.slice(0, 3)), []), ['reply', ':1.1', 'Ping', [serial + 1]],
            ['reply', ':1.1', 'Ping', [serial + 1]]], 'minimized and pinged');
        same([ws[1].minimized, ws[3].minimized], [false, false], 'minimized where it may not');
        end();
    },

    'only the program is let in, and only it hears Changed'() {
        const [window] = begin([{}]);
        for (const [sender, method, args] of [[':1.1', 'GetWindows'], [':1.4', 'Minimize', [window.id]], [':1.1', 'Ping'],
            [':1.4', 'Ping'], [':1.5', 'Ping']])
            call(sender, method, args);
        same([taken(), world.checks.length], [[], 3], 'answered before the check, or checked twice');
        answerChecks();
        same(taken().map(([kind, sender, method, value]) => [kind, sender, method, kind === 'error' ? value : '']),
            [['reply', ':1.1', 'GetWindows', ''], ['reply', ':1.1', 'Ping', ''], ['error', ':1.4', 'Minimize', DENIED],
                ['error', ':1.4', 'Ping', DENIED], ['error', ':1.5', 'Ping', DENIED]], 'answers');
        same(window.minimized, false, 'minimized for a caller denied');
        windowsOf(':1.2');
        windowsOf(':1.3');
        const heard = () => {
            window.change({title: `${window.title}.`}, 'notify::title');
            turn();
            return taken().map(([, to]) => to);
        };
        same(heard(), [':1.1', ':1.2', ':1.3'], 'Changed went to');
        [...world.watches.values()].find(w => w.name === ':1.1').vanished(session, ':1.1');
        same(heard(), [':1.2', ':1.3'], 'Changed went, once :1.1 left, to');
        call(':1.1', 'Ping');
        same(world.checks.length, 1, 'checks of a caller back');
        end();
        answerChecks();
        same(taken(), [['error', ':1.1', 'Ping', 'org.freedesktop.DBus.Error.UnknownObject']], 'answers on disable');

        begin([], {});
        call(':1.2', 'Ping');
        call(':1.6', 'Ping');
        answerChecks();
        same(taken(), [['error', ':1.2', 'Ping', DENIED], ['error', ':1.6', 'Ping', DENIED]], 'without QUELLAN_TEST_CALLER');
        end();
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
System.exit(failed ? 1 : 0);
