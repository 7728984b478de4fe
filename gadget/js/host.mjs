// The door to the gadget host: the per-run secret from the page address, control calls and form actions as
// JSON over POST, and the host's event stream.

const secret = decodeURIComponent(location.hash.replace(/^#/, ''));

// A failed call: the host's error text, its HTTP status, and whether a dialog made the host refuse it.
export class HostError extends Error {
    constructor(message, status, busy) {
        super(message);
        this.status = status;
        this.busy = Boolean(busy);
    }
}

export function hasSecret() {
    return secret !== '';
}

// One JSON exchange with the host: the parsed answer, or a HostError with the host's text.
function exchange(method, path, body) {
    return jsonAnswer(
        fetch(path, {
            method,
            headers: {'Content-Type': 'application/json', 'X-Kova-Secret': secret},
            body: body === undefined ? undefined : JSON.stringify(body),
            cache: 'no-store',
        }),
    );
}

async function jsonAnswer(request) {
    let answer;
    try {
        answer = await request;
    } catch (e) {
        throw new HostError('The gadget host does not answer: is kova-gadget still running?', 0, false);
    }
    let json = {};
    try {
        json = await answer.json();
    } catch (e) {
        json = {error: `The gadget host answered ${answer.status} without a readable body`};
    }
    if (!answer.ok) throw new HostError(json.error || `HTTP ${answer.status}`, answer.status, json.busy);
    return json;
}

async function post(path, body) {
    return (await exchange('POST', path, body)).result;
}

// Calls a member of the control: kind is "method", "get" or "put".
export function call(member, kind = 'method', args = []) {
    return post('/api/call', {member, kind, args});
}

// The reminders of the current list: {default, items: [{itemId, remindType, remindTime, reminded}]}.
export function reminders() {
    return exchange('GET', '/api/reminders');
}

// Sets one item's reminder ({itemId, remindType}) or the default for every watched auction ({default}).
export async function setReminder(change) {
    return (await exchange('PUT', '/api/reminders', change)).result;
}

// When and why the host refreshes on its own: {mode, next, text, detail, callsToday, budget}.
export function schedule() {
    return exchange('GET', '/api/schedule');
}

// The items of the current list with their end times, and the gadget's exact time:
// {now, items: [{itemId, title, endTime, remindTime, reminded, highBidder, ended, price, bids, changed,
// pricePrevious}]}.
export function items() {
    return exchange('GET', '/api/items');
}

// The order and filter of the list: {sort, filter}.
export function view() {
    return exchange('GET', '/api/view');
}

// Sets both; the host writes "result.txt" anew in that order.
export function setView(change) {
    return exchange('PUT', '/api/view', change);
}

// Plays one user action on an open form: {result, version}, version being the form's after the action.
export function formAction(id, action, name = '', value = null) {
    return exchange('POST', '/api/form', {id, action, name, value});
}

// Reads one of the control's files ("result.txt", "details.html") as the host serves it, never cached. They
// hold the user's watch list: like the calls, they need the secret.
export function readFile(name) {
    return fileAnswer(name, fetch(name, {cache: 'no-store', headers: {'X-Kova-Secret': secret}}));
}

async function fileAnswer(name, request) {
    const answer = await request;
    if (!answer.ok) throw new HostError(`${name}: HTTP ${answer.status}`, answer.status, false);
    return answer.text();
}

// The answers to Init and to the read of "result.txt" that index.html asked for before the modules ran, as
// call('Init', 'method', ['']) and readFile('result.txt') give them; null when it asked for none, and once
// taken up they are gone (a page shown again from the back-forward cache starts anew).
export function takeEarlyStart() {
    const early = window.kovaEarlyStart;
    window.kovaEarlyStart = undefined;
    if (!early) return null;
    const started = {
        init: jsonAnswer(early.init).then((json) => json.result),
        result: fileAnswer('result.txt', early.result),
    };
    // The list is read only once Init has answered; a failed Init leaves it unread.
    started.result.catch(() => {});
    return started;
}

// Opens the event stream; handlers maps event names ("forms", "openurl", "reminder", "load", "schedule",
// "listchanged", "outbid", "ended") to functions taking the parsed data. onState(true|false) reports whether the stream is
// connected.
export function events(handlers, onState = () => {}) {
    const source = new EventSource(`/api/events?s=${encodeURIComponent(secret)}`);
    for (const [name, handler] of Object.entries(handlers)) {
        source.addEventListener(name, (event) => {
            let data;
            try {
                data = JSON.parse(event.data);
            } catch (e) {
                return;
            }
            handler(data);
        });
    }
    source.addEventListener('open', () => onState(true));
    source.addEventListener('error', () => onState(false));
    return source;
}
