// The order of the list and its filter, under the bar: the host keeps the order in its settings and writes
// "result.txt" in it, so every page of the list follows. The filter is sent as the user types, a moment
// after the last key.

import {setView, view} from './host.mjs';

export const sortChoices = [
    ['ending', 'Ending soonest'],
    ['price', 'Price: low to high'],
    ['price-desc', 'Price: high to low'],
    ['bids', 'Most bids'],
    ['title', 'Title'],
    ['reminders', 'Reminders first'],
    ['ebay', "eBay's order"],
];

const typingMs = 300;
const $ = (id) => document.getElementById(id);
const state = {
    shown: {sort: 'ending', filter: ''},
    pending: null,
    sent: 0,
    timer: 0,
    onChanged: async () => {},
    onProblem: () => {},
};
const same = (a, b) => a?.sort === b?.sort && a?.filter === b?.filter;

function showView(shown) {
    state.shown = {sort: shown.sort || 'ending', filter: shown.filter ?? ''};
    $('viewSort').value = state.shown.sort;
    if (document.activeElement !== $('viewFilter')) $('viewFilter').value = state.shown.filter;
}

// Sends what the controls hold; only the answer to the latest request is shown, so a slow answer to an
// earlier key cannot undo a later one.
async function send() {
    clearTimeout(state.timer);
    const change = {sort: $('viewSort').value, filter: $('viewFilter').value};
    if (same(change, state.shown)) return;
    const number = ++state.sent;
    state.pending = change;
    try {
        const answer = await setView(change);
        if (number !== state.sent) return;
        showView(answer);
        state.onProblem('');
        await state.onChanged();
    } catch (e) {
        if (number !== state.sent) return;
        // The controls go back to what the host holds, with its reason above the list.
        showView(state.shown);
        if (!e.busy) state.onProblem(e.message);
    } finally {
        if (number === state.sent) state.pending = null;
    }
}

// The host's view event: another page (or this one) changed the order or filter. This page's own change
// shows the list when its answer comes; another's shows it now.
export async function onViewEvent(data) {
    if (same(data, state.pending) || same(data, state.shown)) return;
    showView(data);
    await state.onChanged();
}

// Reads the order the host keeps (at start); a host without it hides the controls, a busy one leaves them
// as they are.
export async function readView() {
    try {
        showView(await view());
        $('view').hidden = false;
    } catch (e) {
        if (e.status === 404 || e.status === 405) $('view').hidden = true;
    }
}

// onChanged runs once the host holds the new order or filter (the page shows "result.txt" again); onProblem
// shows the host's refusal ('' clears it).
export function setUpView(onChanged, onProblem) {
    state.onChanged = onChanged;
    state.onProblem = onProblem;
    const select = $('viewSort');
    for (const [word, text] of sortChoices) select.add(new Option(text, word));
    select.addEventListener('change', send);
    const filter = $('viewFilter');
    filter.addEventListener('input', () => {
        clearTimeout(state.timer);
        state.timer = setTimeout(send, typingMs);
    });
    filter.addEventListener('keydown', (event) => {
        if (event.key === 'Enter') send();
        // Escape empties a filled box before it closes anything else.
        if (event.key === 'Escape' && filter.value) {
            event.stopImmediatePropagation();
            filter.value = '';
            send();
        }
    });
}
