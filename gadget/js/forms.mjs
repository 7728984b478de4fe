// Draws the host's open forms at their designed bounds and reports what the user does with them. The form
// model decides everything: this module only mirrors its data and sends clicks, typing, selections, keys
// and the close box back.

import {formAction} from './host.mjs';

const layer = () => document.getElementById('forms');
const drawn = new Map(); // form id -> drawn form

// Actions on a form go out one after the other, so the host plays them in the order the user made them. Each
// form has its own line: an action whose handler shows another form (a message box) is answered only when
// that form has closed, and the actions on the new form must not wait behind it.
const outgoing = new Map(); // form id -> the promise of its last action
// Typing and choosing set a value, so they may be sent again: an edit lost to a dropped connection would
// leave the host with an empty field that the page still shows filled. A click is sent once.
const repeatable = new Set(['text', 'select']);
// The host takes no longer text in a field: a paste is cut here, before it travels.
const maxText = 8192;

async function deliver(id, action, name, value) {
    for (let attempt = 1; ; attempt++) {
        try {
            return await formAction(id, action, name, value);
        } catch (e) {
            // The host's own refusal (no such form, a wrong value) stays as it is.
            const transient = e.status === 0 || e.status === 408 || e.status >= 500;
            if (!repeatable.has(action) || !transient || attempt >= 3) throw e;
            console.warn(`form action ${action} on ${name} failed (${e.message}); sending it again`);
            await new Promise((resolve) => setTimeout(resolve, 100 * attempt));
        }
    }
}

// Events and answers travel on separate connections, so an event may come after the answer to a later action
// and still show the form as it was before it. The answer tells the form's version after the action; what
// the user changed (a field's value, the focus) takes the host's word again only from an event that new.
function send(id, action, name = '', value = null, element = null) {
    const d = drawn.get(id);
    if (d) d.pending += 1;
    if (element) element.kovaPending = (element.kovaPending || 0) + 1;
    const sent = (outgoing.get(id) ?? Promise.resolve())
        .then(() => deliver(id, action, name, value))
        .then((answer) => {
            const version = answer?.version ?? 0;
            if (d) d.answered = Math.max(d.answered, version);
            if (element) element.kovaAnswered = Math.max(element.kovaAnswered || 0, version);
        })
        .catch((e) => console.warn(`form action ${action} on ${name}: ${e.message}`))
        .finally(() => {
            if (element) element.kovaPending -= 1;
            if (!d) return;
            d.pending -= 1;
            // Redraws skipped while the user's own changes were on their way catch up now, from the latest
            // event if it already shows them, else from the next one.
            if (d.pending === 0 && drawn.get(id) === d && d.latest) updateForm(d, d.latest, d.onTop);
        });
    outgoing.set(id, sent);
    // The line of a form that has closed goes with its last action.
    sent.finally(() => outgoing.get(id) === sent && outgoing.delete(id));
    return sent;
}

const fontFamilies = {
    'ms sans serif': '"MS Sans Serif", "Microsoft Sans Serif", Tahoma, "Liberation Sans", Arial, sans-serif',
    'tahoma': 'Tahoma, "Liberation Sans", Arial, sans-serif',
    'arial': 'Arial, "Liberation Sans", sans-serif',
    'verdana': 'Verdana, "DejaVu Sans", sans-serif',
    'courier new': '"Courier New", "Liberation Mono", monospace',
};

function applyFont(style, font) {
    if (!font) return;
    const family = fontFamilies[(font.name || '').toLowerCase()];
    style.fontFamily = family || `"${font.name}", "Liberation Sans", Arial, sans-serif`;
    // Points as the design measured them: 96 pixels to the inch.
    style.fontSize = `${((font.size || 8) * 96) / 72}px`;
    style.fontWeight = font.bold ? 'bold' : 'normal';
    style.textDecoration = font.underline ? 'underline' : 'none';
    style.color = font.color || '';
}

// "&Close" draws as "Close" with its access key underlined; "&&" is a plain ampersand.
function setCaption(element, caption) {
    const text = (caption || '').replace(/\r\n?/g, '\n');
    // The wizard's timer redraws its form ten times a second: unchanged captions stay as they are.
    if (element.kovaCaption === text) return;
    element.kovaCaption = text;
    element.replaceChildren();
    let plain = '';
    for (let i = 0; i < text.length; i++) {
        if (text[i] === '&' && i + 1 < text.length) {
            i++;
            if (text[i] !== '&') {
                if (plain) element.append(plain);
                plain = '';
                const key = document.createElement('u');
                key.textContent = text[i];
                element.append(key);
                continue;
            }
        }
        plain += text[i];
    }
    if (plain) element.append(plain);
}

function create(tag, className) {
    const element = document.createElement(tag);
    if (className) element.className = className;
    return element;
}

// Builds the element of one component and wires the user's actions on it.
function createComponent(d, c) {
    const id = d.id;
    const entry = {latest: c};
    let outer;
    let focusable = null;
    switch (c.kind) {
    case 'label':
        outer = create('span', 'c-label');
        outer.addEventListener('click', () => send(id, 'click', c.name));
        // A label drawn as a link (the hand cursor) is one for the keyboard too.
        outer.addEventListener('keydown', (event) => {
            if (outer.getAttribute('role') !== 'link' || event.key !== 'Enter') return;
            event.preventDefault();
            event.stopPropagation();
            send(id, 'click', c.name);
        });
        break;
    case 'edit':
        outer = create('input', 'c-edit');
        outer.maxLength = maxText;
        outer.autocomplete = 'off';
        outer.spellcheck = false;
        outer.addEventListener('input', () => {
            if (outer.kovaHeld) {
                // A password the host holds is replaced as a whole by what the user types.
                outer.kovaHeld = false;
                outer.value = outer.value.replaceAll(heldMark, '');
            }
            outer.kovaUnconfirmed = true;
            send(id, 'text', c.name, outer.value, outer);
        });
        focusable = outer;
        break;
    case 'button':
        outer = create('button', 'c-button');
        outer.type = 'button';
        outer.addEventListener('click', () => send(id, 'click', c.name));
        focusable = outer;
        break;
    case 'checkbox': {
        outer = create('label', 'c-check');
        const box = create('input');
        box.type = 'checkbox';
        outer.append(box, create('span', 'c-check-caption'));
        box.addEventListener('click', () => send(id, 'click', c.name, null, box));
        focusable = box;
        break;
    }
    case 'combobox':
        if (c.style === 'dropDown') {
            outer = create('span', 'c-combo editable');
            const input = create('input');
            const list = create('datalist');
            list.id = `form${id}-${c.name}-items`;
            input.setAttribute('list', list.id);
            input.autocomplete = 'off';
            input.maxLength = maxText;
            outer.append(input, list);
            input.addEventListener('input', () => {
                const index = (entry.latest.items || []).indexOf(input.value);
                if (index >= 0) send(id, 'select', c.name, index, input);
                else send(id, 'text', c.name, input.value, input);
            });
            focusable = input;
        } else {
            outer = create('select', 'c-combo');
            outer.addEventListener('change', () => send(id, 'select', c.name, outer.selectedIndex, outer));
            focusable = outer;
        }
        break;
    case 'groupbox':
        outer = create('div', 'c-group');
        outer.append(create('span', 'c-group-caption'));
        break;
    case 'panel':
        outer = create('div', 'c-panel');
        outer.append(create('span', 'c-panel-caption'));
        break;
    case 'treeview':
        outer = create('ul', 'c-tree');
        outer.setAttribute('role', 'tree');
        outer.tabIndex = 0;
        outer.addEventListener('keydown', (event) => {
            const step = {ArrowDown: 1, ArrowUp: -1}[event.key];
            if (!step) return;
            event.preventDefault();
            const count = (entry.latest.nodes || []).length;
            const next = Math.min(count - 1, Math.max(0, (entry.latest.itemIndex ?? -1) + step));
            if (next !== entry.latest.itemIndex) send(id, 'select', c.name, next);
        });
        focusable = outer;
        break;
    case 'progressbar':
        outer = create('div', 'c-progress');
        outer.setAttribute('role', 'progressbar');
        outer.append(create('div', 'c-progress-bar'));
        break;
    default:
        outer = create('div', 'c-unknown');
    }
    outer.dataset.name = c.name;
    outer.dataset.kind = c.kind;
    if (focusable) {
        focusable.addEventListener('focus', () => {
            if (!d.focusingByHost) send(id, 'focus', c.name);
        });
    }
    return Object.assign(entry, {outer, focusable});
}

// The host never sends a password's text. The field keeps what the user typed; a text the host holds on its
// own (a saved password) shows as that many marks, and one the host emptied empties the field.
// Until the stream has shown the host holding what the page typed, older states still on their way are
// not the host's answer to it.
const heldMark = '\uE000';
function showPassword(input, c) {
    if (c.textFromPage) input.kovaUnconfirmed = false;
    if (c.textFromPage || input.kovaUnconfirmed) return;
    const length = c.textLength ?? 0;
    input.kovaHeld = length > 0;
    const shown = heldMark.repeat(length);
    if (input.value !== shown) input.value = shown;
}

function effective(d, c, property) {
    for (let current = c; current; current = d.components.get(current.parent)?.latest) {
        if (!current[property]) return false;
        if (!current.parent) break;
    }
    return true;
}

function updateComponent(d, entry, c) {
    const {outer, focusable} = entry;
    entry.latest = c;
    const style = outer.style;
    style.left = `${c.left}px`;
    style.top = `${c.top}px`;
    style.width = c.width > 0 ? `${c.width}px` : '';
    style.height = c.height > 0 ? `${c.height}px` : '';
    style.display = c.visible ? '' : 'none';
    applyFont(style, c.font);
    if (c.kind !== 'progressbar') style.backgroundColor = c.color || '';
    outer.classList.toggle('hand', c.cursor === 'hand');
    if (c.kind === 'label' && c.cursor === 'hand') outer.setAttribute('role', 'link');
    else if (c.kind === 'label') outer.removeAttribute('role');
    const enabled = effective(d, c, 'enabled');
    outer.classList.toggle('disabled', !enabled);
    if (focusable) focusable.disabled = !enabled;
    // The host's value is drawn over the user's only when no change of the user's to the element is on its
    // way and the event already shows the last one.
    const settled = (element) => !element.kovaPending && d.version >= (element.kovaAnswered || 0);
    switch (c.kind) {
    case 'label':
        setCaption(outer, c.caption);
        break;
    case 'edit':
        outer.type = c.passwordChar ? 'password' : 'text';
        if (c.passwordChar) showPassword(outer, c);
        else if (outer.value !== (c.text ?? '') && settled(outer)) outer.value = c.text ?? '';
        break;
    case 'button':
        setCaption(outer, c.caption);
        outer.classList.toggle('default', Boolean(c.default));
        break;
    case 'checkbox':
        setCaption(outer.querySelector('.c-check-caption'), c.caption);
        if (settled(focusable)) focusable.checked = Boolean(c.checked);
        break;
    case 'combobox': {
        const items = c.items || [];
        if (c.style === 'dropDown') {
            const list = outer.querySelector('datalist');
            if (list.children.length !== items.length || [...list.children].some((o, i) => o.value !== items[i])) {
                list.replaceChildren(...items.map((text) => Object.assign(create('option'), {value: text})));
            }
            if (focusable.value !== (c.text ?? '') && settled(focusable)) focusable.value = c.text ?? '';
        } else {
            const texts = [...outer.options].map((o) => o.text);
            if (texts.length !== items.length || texts.some((t, i) => t !== items[i])) {
                outer.replaceChildren(...items.map((text) => Object.assign(create('option'), {text})));
            }
            if (settled(outer)) outer.selectedIndex = c.itemIndex ?? -1;
        }
        break;
    }
    case 'groupbox':
        setCaption(outer.querySelector('.c-group-caption'), c.caption);
        break;
    case 'panel':
        setCaption(outer.querySelector('.c-panel-caption'), c.caption);
        break;
    case 'treeview': {
        const signature = JSON.stringify([c.nodes, c.itemIndex]);
        if (outer.kovaSignature === signature) break;
        outer.kovaSignature = signature;
        outer.replaceChildren(
            ...(c.nodes || []).map((node, index) => {
                const item = create('li', 'c-tree-node');
                item.setAttribute('role', 'treeitem');
                item.textContent = node.text;
                item.style.paddingLeft = `${4 + (node.level || 0) * 16}px`;
                const selected = index === c.itemIndex;
                item.classList.toggle('selected', selected);
                item.setAttribute('aria-selected', String(selected));
                item.addEventListener('click', () => send(d.id, 'select', c.name, index));
                return item;
            }),
        );
        break;
    }
    case 'progressbar': {
        const range = (c.max ?? 100) - (c.min ?? 0);
        const share = range > 0 ? ((c.position ?? 0) - (c.min ?? 0)) / range : 0;
        const bar = outer.querySelector('.c-progress-bar');
        bar.style.width = `${Math.max(0, Math.min(1, share)) * 100}%`;
        bar.style.backgroundColor = c.barColor || '';
        style.backgroundColor = c.barBackColor || c.color || '';
        outer.setAttribute('aria-valuenow', String(c.position ?? 0));
        break;
    }
    }
}

function createForm(form) {
    // pending: the page's actions on the form still on their way; answered: the form's version after the
    // last one the host answered; version: that of the event drawn last.
    const d = {id: form.id, components: new Map(), focusingByHost: false, focused: null, pending: 0, answered: 0,
               version: 0};
    d.root = create('div', 'form-layer');
    d.root.dataset.formId = String(form.id);
    d.root.dataset.formName = form.name;
    d.window = create('div', 'form-window');
    d.window.setAttribute('role', 'dialog');
    d.window.setAttribute('aria-modal', 'true');
    const title = create('div', 'form-title');
    d.caption = create('span', 'form-caption');
    d.caption.id = `form${form.id}-caption`;
    d.window.setAttribute('aria-labelledby', d.caption.id);
    const close = create('button', 'form-close');
    close.type = 'button';
    close.tabIndex = -1;
    close.setAttribute('aria-label', 'Close window');
    close.textContent = '\u00d7';
    close.addEventListener('click', () => send(form.id, 'close'));
    title.append(d.caption, close);
    d.client = create('div', 'form-client');
    d.window.append(title, d.client);
    d.root.append(d.window);
    d.window.addEventListener('keydown', (event) => {
        if (event.key === 'Escape') {
            event.preventDefault();
            send(form.id, 'key', '', 'Escape');
        } else if (event.key === 'Enter' && event.target.tagName !== 'BUTTON') {
            // A focused button takes Enter itself, as a click; everywhere else it is the default button's.
            event.preventDefault();
            send(form.id, 'key', '', 'Enter');
        }
    });
    layer().append(d.root);
    return d;
}

// A tab order counts among the controls of one parent, as the design's forms count it. The controls stand at
// their designed places whatever their order in the page, so Tab follows the page's order: the stops of one
// parent take each other's places in the tab order (a control without one, -1, after those with one), and
// the other elements keep theirs, so that nothing drawn over another changes.
function orderTabs(d) {
    const key = (c) => (c.tabOrder >= 0 ? c.tabOrder : Infinity);
    const parents = new Map();
    for (const entry of d.components.values()) {
        const c = entry.latest;
        const stop = entry.focusable ?? (c.kind === 'label' && c.cursor === 'hand' ? entry.outer : null);
        if (!stop) continue;
        if (stop.tabIndex !== 0) stop.tabIndex = 0;
        const parent = entry.outer.parentElement;
        if (!parents.has(parent)) parents.set(parent, []);
        parents.get(parent).push(entry);
    }
    for (const [parent, stops] of parents) {
        const children = [...parent.children];
        const slots = children
            .map((child, index) => (stops.some((e) => e.outer === child) ? index : -1))
            .filter((i) => i >= 0);
        // A stable sort: equal orders keep the order the controls were made in.
        const sorted = stops.toSorted((a, b) => (key(a.latest) === key(b.latest) ? 0 : key(a.latest) - key(b.latest)));
        if (slots.every((slot, i) => children[slot] === sorted[i].outer)) continue;
        slots.forEach((slot, i) => (children[slot] = sorted[i].outer));
        parent.replaceChildren(...children);
    }
}

// A field's name for a screen reader: the label beside it on its left, else the one just above it, as the
// eye reads the form; else its own name without the kind ("edtDevID": "DevID").
function nameFields(d) {
    const labels = [...d.components.values()].filter((e) => e.latest.kind === 'label' && e.latest.caption);
    for (const entry of d.components.values()) {
        const c = entry.latest;
        const field = entry.focusable;
        if (!field || !['edit', 'combobox', 'treeview'].includes(c.kind) || field.kovaNamed) continue;
        field.kovaNamed = true;
        const mid = c.top + (c.height || 21) / 2;
        const same = labels.filter((l) => (l.latest.parent || '') === (c.parent || ''));
        const beside = same
            .filter((l) => l.latest.left < c.left && Math.abs(l.latest.top + (l.latest.height || 16) / 2 - mid) < 12)
            .sort((a, b) => b.latest.left - a.latest.left)[0];
        const above = same
            .filter((l) => l.latest.top < c.top && c.top - l.latest.top < 30 && Math.abs(l.latest.left - c.left) < 24)
            .sort((a, b) => b.latest.top - a.latest.top)[0];
        const label = beside ?? above;
        if (label) {
            label.outer.id ||= `form${d.id}-${label.latest.name}`;
            field.setAttribute('aria-labelledby', label.outer.id);
        } else {
            field.setAttribute('aria-label', c.name.replace(/^[a-z]+(?=[A-Z])/, ''));
        }
    }
}

// A dialog larger than the window is drawn smaller, down to minZoom, so that its buttons and close box stay in
// sight; below that it scrolls within the window.
const minZoom = 0.6;

function placeWindow(d, form) {
    d.window.style.width = '';
    d.window.style.zoom = '';
    d.window.style.maxWidth = '';
    d.window.style.maxHeight = '';
    d.window.classList.remove('scrolls');
    const width = d.window.offsetWidth;
    const height = d.window.offsetHeight;
    const fits = form.left + width <= innerWidth && form.top + height <= innerHeight;
    const designed = form.position === 'designed' && form.left >= 0 && form.top >= 0 && fits;
    const zoom = Math.max(minZoom, Math.min(1, innerWidth / width, innerHeight / height));
    if (zoom < 1) d.window.style.zoom = String(zoom);
    if (width * zoom > innerWidth || height * zoom > innerHeight) {
        d.window.classList.add('scrolls');
        d.window.style.maxWidth = `${Math.floor(innerWidth / zoom)}px`;
        d.window.style.maxHeight = `${Math.floor(innerHeight / zoom)}px`;
    }
    const drawnWidth = Math.min(width * zoom, innerWidth);
    const drawnHeight = Math.min(height * zoom, innerHeight);
    const left = designed ? form.left : Math.max(0, (innerWidth - drawnWidth) / 2);
    const top = designed ? form.top : Math.max(0, (innerHeight - drawnHeight) / 3);
    // A zoomed element's own offsets are zoomed too.
    d.window.style.left = `${Math.round(left / zoom)}px`;
    d.window.style.top = `${Math.round(top / zoom)}px`;
    d.placedSize = `${form.clientWidth}x${d.client.style.height}`;
}

// A label whose text needs more lines than its designed height holds (a long reason, a translated text) grows,
// and what stands below it in its panel, the panels below that one and the form grow or move down with it:
// no text is cut and nothing is covered.
function fitLabels(d) {
    const entries = [...d.components.values()];
    const shift = new Map(); // component name -> pixels it moves down
    const grow = new Map(); // container name ('' for the form) -> pixels it grows
    for (const entry of entries) {
        entry.outer.classList.remove('grown');
        entry.outer.style.transform = '';
    }
    const labels = entries.filter(({latest: c, outer}) => c.kind === 'label' && c.height > 0 && c.visible &&
                                   outer.getClientRects().length && outer.scrollHeight > c.height + 1);
    // Deepest first, so that a panel that grows moves what stands below it in its own container.
    const depth = (c) => (c.parent ? 1 + depth(d.components.get(c.parent)?.latest ?? {}) : 0);
    const growing = labels.map(({latest: c, outer}) => ({c, extra: outer.scrollHeight - c.height, outer}));
    growing.sort((a, b) => depth(b.c) - depth(a.c));
    const visit = (container, bottom, extra) => {
        grow.set(container, (grow.get(container) ?? 0) + extra);
        for (const other of entries) {
            const o = other.latest;
            if ((o.parent || '') === container && o.top >= bottom) shift.set(o.name, (shift.get(o.name) ?? 0) + extra);
        }
        if (!container) return;
        const parent = d.components.get(container)?.latest;
        if (parent) visit(parent.parent || '', parent.top + parent.height, extra);
    };
    for (const {c, extra, outer} of growing) {
        outer.classList.add('grown');
        visit(c.parent || '', c.top + c.height, extra);
    }
    for (const entry of entries) {
        const c = entry.latest;
        if (shift.has(c.name)) entry.outer.style.transform = `translateY(${shift.get(c.name)}px)`;
        if (grow.has(c.name) && c.height > 0) entry.outer.style.height = `${c.height + grow.get(c.name)}px`;
    }
    d.client.style.height = `${d.latest.clientHeight + (grow.get('') ?? 0)}px`;
}

function updateForm(d, form, onTop) {
    d.latest = form;
    d.onTop = onTop;
    d.version = form.version ?? 0;
    d.caption.textContent = form.caption;
    d.root.classList.toggle('message-box', form.name === 'MessageBox');
    d.client.style.width = `${form.clientWidth}px`;
    d.client.style.height = `${form.clientHeight}px`;
    applyFont(d.client.style, form.font);
    const seen = new Set();
    for (const c of form.components || []) {
        seen.add(c.name);
        let entry = d.components.get(c.name);
        if (!entry) {
            entry = createComponent(d, c);
            d.components.set(c.name, entry);
            const parent = c.parent ? d.components.get(c.parent)?.outer : null;
            (parent || d.client).append(entry.outer);
        }
    }
    for (const [name, entry] of d.components) {
        if (!seen.has(name)) {
            entry.outer.remove();
            d.components.delete(name);
        }
    }
    for (const c of form.components || []) updateComponent(d, d.components.get(c.name), c);
    orderTabs(d);
    nameFields(d);
    fitLabels(d);
    // Placed when it opens, and again when its size changed.
    if (d.placedSize !== `${form.clientWidth}x${d.client.style.height}`) placeWindow(d, form);
    // A form that another covers keeps where its focus was, to give it back when that one closes.
    if (!onTop && d.root.contains(document.activeElement)) d.lastFocus = document.activeElement;
    d.root.inert = !onTop;
    d.root.classList.toggle('covered', !onTop);
    // The host's focus is followed only once it has seen where the user went: an older one would pull the
    // caret back into the field the user has just left, and the next keys would land there.
    if (d.pending > 0 || d.version < d.answered) return;
    if (onTop && form.activeControl !== d.focused) {
        d.focused = form.activeControl;
        focusComponent(d, form.activeControl);
    } else if (onTop && !d.root.contains(document.activeElement)) {
        const back = d.lastFocus;
        d.lastFocus = null;
        if (back?.isConnected && d.root.contains(back)) focusElement(d, back);
        else focusComponent(d, d.focused);
    }
}

function focusComponent(d, name) {
    const target = d.components.get(name)?.focusable;
    const fallback = d.window.querySelector('input:not([disabled]), select:not([disabled]), button.default');
    const element = target && !target.disabled ? target : fallback;
    if (element) focusElement(d, element);
}

function focusElement(d, element) {
    d.focusingByHost = true;
    try {
        element.focus();
    } finally {
        d.focusingByHost = false;
    }
}

// Escape and Enter where no control of the dialog has the focus (a click on the veil) still reach the top one.
addEventListener('keydown', (event) => {
    if ((event.key !== 'Escape' && event.key !== 'Enter') || !drawn.size || layer().contains(event.target)) return;
    const top = [...drawn.values()].find((d) => d.onTop);
    if (!top) return;
    event.preventDefault();
    send(top.id, 'key', '', event.key);
});

// A window the user made smaller or larger places its dialogs anew.
addEventListener('resize', () => {
    for (const d of drawn.values()) if (d.latest) placeWindow(d, d.latest);
});

// Where the focus was when the first dialog opened: it goes back there when the last one closes.
let focusBefore = null;

// Mirrors the host's stack of open forms, the bottom one first; an empty list closes every form.
export function showForms(forms) {
    if (!drawn.size && forms.length && !layer().contains(document.activeElement)) focusBefore = document.activeElement;
    const open = new Set(forms.map((form) => form.id));
    for (const [id, d] of drawn) {
        if (!open.has(id)) {
            d.root.remove();
            drawn.delete(id);
        }
    }
    forms.forEach((form, index) => {
        let d = drawn.get(form.id);
        if (!d) {
            d = createForm(form);
            drawn.set(form.id, d);
        }
        updateForm(d, form, index === forms.length - 1);
    });
    document.body.classList.toggle('dialog-open', forms.length > 0);
    for (const id of ['gadget', 'details', 'banners']) {
        const element = document.getElementById(id);
        if (element) element.inert = forms.length > 0;
    }
    if (!forms.length && focusBefore) {
        const element = focusBefore;
        focusBefore = null;
        if (element.isConnected && element !== document.body && !element.closest('[inert], [hidden]')) element.focus();
    }
}
