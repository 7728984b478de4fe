// The list between loads: every remaining time on the page counts down on the gadget's clock (the host's
// exact time, not the browser's), rows whose price or bids changed at the last load are marked for a minute,
// and the details show the end as a local time and the price before. One timer serves the whole page; it
// runs only while something counts, and wakes at the next moment a shown text changes.

import {items as fetchItems} from './host.mjs';
import {localEndText, msUntilChange, parseTime, remainingText} from './remaining.mjs';

const markMs = 60000;
// The longest the timer sleeps while something counts: a clock that jumped (a machine that slept) is seen
// within it even when no text would change for a day.
const longestSleepMs = 60000;
// A wall clock that moved this much further (or less far) than the monotonic one since the last look.
const jumpMs = 2000;

const state = {
    // The host's time at perf (performance.now()), and the wall clock's lead over perf then.
    clock: null,
    byItem: new Map(),
    // itemId -> {signature, until (perf ms)} of the changes this page has seen.
    marks: new Map(),
    // The shown texts that count, by group: {node (a text node), endMs, text}.
    groups: {rows: [], details: [], status: [], banners: []},
    markedRows: [],
    timer: 0,
    fetching: null,
};

// The gadget's clock, ms since the epoch (UTC); the browser's own while the host has not said.
export function gadgetNow() {
    const {clock} = state;
    if (!clock) return Date.now();
    return clock.hostMs + (performance.now() - clock.perf);
}

function itemOf(itemId) {
    return state.byItem.get(String(itemId ?? ''));
}

function endOf(itemId) {
    const item = itemOf(itemId);
    return item && !item.ended ? parseTime(item.endTime) : NaN;
}

// Reads the items and the host's time; a host without the endpoint leaves the texts as it wrote them.
export function refreshItems() {
    state.fetching ??= (async () => {
        try {
            const before = performance.now();
            const answer = await fetchItems();
            const after = performance.now();
            const hostMs = parseTime(answer.now);
            const perf = (before + after) / 2;
            if (Number.isFinite(hostMs)) state.clock = {hostMs, perf, wallLead: Date.now() - performance.now()};
            state.byItem = new Map((answer.items || []).map((item) => [String(item.itemId), item]));
            // A change is marked from the moment this page first sees it, on whichever page of the list.
            for (const item of state.byItem.values()) marked(item);
        } catch (e) {
            if (e.status !== 404 && e.status !== 405 && !e.busy) throw e;
        } finally {
            state.fetching = null;
        }
        rebind();
    })();
    return state.fetching;
}

// --- What counts ------------------------------------------------------------------------------------------

// The text node an element shows, made when the element is empty.
function textNode(element) {
    const node = [...element.childNodes].find((n) => n.nodeType === Node.TEXT_NODE);
    if (node && element.childNodes.length === 1) return node;
    element.replaceChildren(document.createTextNode(element.textContent));
    return element.firstChild;
}

// A time that counts is not read out every second where it stands in a live region (the status line, a
// banner): its region still announces what comes new.
function counter(element, endMs) {
    if (!Number.isFinite(endMs)) return null;
    element.setAttribute('aria-live', 'off');
    return {node: textNode(element), endMs, text: null};
}

// Whether the item's change is still marked: the first time this page sees a change it marks it for a minute.
function marked(item) {
    if (!item?.changed?.length) return false;
    const signature = JSON.stringify([item.changed, item.price, item.bids, item.pricePrevious]);
    let mark = state.marks.get(String(item.itemId));
    if (!mark || mark.signature !== signature) {
        mark = {signature, until: performance.now() + markMs};
        state.marks.set(String(item.itemId), mark);
    }
    return performance.now() < mark.until;
}

const rowsSource = {list: null};

// The rows of "result.txt": the time cell is the first cell of each row's last table line.
export function bindRows(list) {
    rowsSource.list = list;
    state.groups.rows = [];
    state.markedRows = [];
    for (const row of list.querySelectorAll('.result[data-article]')) {
        const item = itemOf(row.dataset.article);
        const mark = marked(item);
        row.classList.toggle('changed', mark);
        if (mark) {
            row.title = item.changed.includes('price') ? 'New price since the last look' : 'New bid since the last look';
            state.markedRows.push({row, itemId: String(item.itemId)});
        } else {
            row.removeAttribute('title');
        }
        const cell = row.querySelector('tr:last-child > td');
        const count = cell && counter(cell, endOf(row.dataset.article));
        if (count) state.groups.rows.push(count);
    }
    tick();
}

function detailsRow(table, after, name, text, className) {
    const line = table.ownerDocument.createElement('tr');
    line.className = className;
    const head = table.ownerDocument.createElement('th');
    head.textContent = name;
    const cell = table.ownerDocument.createElement('td');
    cell.textContent = text;
    line.append(head, cell);
    after.after(line);
    return cell;
}

const detailsSource = {root: null, itemId: null};

// The details document of itemId in root: its "Time left" counts, "Ends" gives the local end, and a price that
// changed at the last load shows the one before it.
export function bindDetails(root, itemId) {
    detailsSource.root = root;
    detailsSource.itemId = itemId;
    state.groups.details = [];
    if (!root) return tick();
    root.querySelectorAll('tr.live').forEach((line) => line.remove());
    const lines = [...root.querySelectorAll('tr')];
    const named = (name) => lines.find((line) => line.querySelector('th')?.textContent.trim() === name);
    const item = itemOf(itemId);
    const endMs = parseTime(item?.endTime);
    const left = named('Time left');
    if (left && Number.isFinite(endMs)) {
        const count = counter(left.querySelector('td'), endOf(itemId));
        if (count) state.groups.details.push(count);
        detailsRow(left.parentNode, left, 'Ends', localEndText(endMs, gadgetNow()), 'live ends');
    }
    const price = named('Price');
    if (price && marked(item) && item.changed.includes('price') && item.pricePrevious)
        detailsRow(price.parentNode, price, 'Price before', String(item.pricePrevious), 'live before');
    tick();
}

// A banner's time left counts when the list knows the item's end.
export function bindBanner(element, itemId) {
    const count = counter(element, endOf(itemId));
    if (!count) return;
    state.groups.banners.push(count);
    tick();
}

const statusSource = {element: null};

// The status line's next end among the running auctions of the list: element holds a ".next-end-time" that
// counts, and hides while nothing runs.
export function bindStatus(element) {
    statusSource.element = element;
    state.groups.status = [];
    const time = element?.querySelector('.next-end-time');
    if (!time) return tick();
    const now = gadgetNow();
    let soonest = Infinity;
    for (const item of state.byItem.values()) {
        const endMs = parseTime(item.endTime);
        if (!item.ended && endMs < soonest && msUntilChange(endMs, now) !== Infinity) soonest = endMs;
    }
    element.hidden = soonest === Infinity;
    if (!element.hidden) state.groups.status.push(counter(time, soonest));
    tick();
}

function rebind() {
    if (rowsSource.list?.isConnected) bindRows(rowsSource.list);
    if (detailsSource.root) bindDetails(detailsSource.root, detailsSource.itemId);
    if (statusSource.element?.isConnected) bindStatus(statusSource.element);
    // A banner keeps the end it was given: the host's text stays where the list no longer holds the item.
    tick();
}

// --- The one timer ----------------------------------------------------------------------------------------

// A machine that slept: the monotonic clock stood still while the wall clock went on. The gadget's clock
// moves on by the wall clock's jump at once, and the host is asked again.
function clockJumped() {
    const {clock} = state;
    if (!clock) return false;
    const lead = Date.now() - performance.now();
    const jump = lead - clock.wallLead;
    if (Math.abs(jump) < jumpMs) return false;
    clock.hostMs += jump;
    clock.wallLead = lead;
    return true;
}

function tick() {
    clearTimeout(state.timer);
    state.timer = 0;
    if (clockJumped()) {
        refreshItems().catch(() => {});
    }
    const now = gadgetNow();
    // The status line moves on to the next running auction once its own has ended.
    if (state.groups.status.some((count) => msUntilChange(count.endMs, now) === Infinity))
        return bindStatus(statusSource.element);
    let next = Infinity;
    for (const [name, group] of Object.entries(state.groups)) {
        const kept = group.filter((count) => count.node.isConnected);
        if (kept.length !== group.length) state.groups[name] = kept;
        for (const count of kept) {
            const text = remainingText(count.endMs, now);
            // Only a text that changes is touched: the list's layout is not redone every second.
            if (text !== count.text) {
                if (count.node.nodeValue !== text) count.node.nodeValue = text;
                count.text = text;
            }
            next = Math.min(next, msUntilChange(count.endMs, now));
        }
    }
    const perf = performance.now();
    state.markedRows = state.markedRows.filter(({row, itemId}) => {
        const until = state.marks.get(itemId)?.until ?? 0;
        if (until > perf && row.isConnected) {
            next = Math.min(next, until - perf);
            return true;
        }
        row.classList.remove('changed');
        row.removeAttribute('title');
        return false;
    });
    if (next === Infinity) return;
    state.timer = setTimeout(tick, Math.min(Math.max(next, 1), longestSleepMs));
}

// Wires the clock's watch: a page shown again after a sleep or a while hidden checks the clock at once.
export function setUpLive() {
    document.addEventListener('visibilitychange', () => document.visibilityState === 'visible' && tick());
    addEventListener('focus', () => tick());
}
