// Runs the gadget: starts the control in the gadget directory, loads at start and on the refresh button,
// shows "result.txt" and "details.html" and pages through the list. Automatic refreshes are the host's: it
// tells every page of them by events. The host ends the control once its last page has gone.

import {call, events, hasSecret, readFile, schedule, takeEarlyStart} from './host.mjs';
import {adoptFragment} from './fragments.mjs';
import {showForms} from './forms.mjs';
import {refreshReminders, setUpReminders, showReminder, showRemindersFor} from './reminders.mjs';
import {bindDetails, bindRows, bindStatus, gadgetNow, refreshItems, setUpLive} from './live.mjs';
import {showEnded, showOutbid} from './notices.mjs';
import {onViewEvent, readView, setUpView} from './view.mjs';

const $ = (id) => document.getElementById(id);
const state = {started: false, loading: false, hostLoading: false, plan: {}, updated: null, next: ''};
const pollMs = 250;

function setProblem(text) {
    $('problem').textContent = text || '';
}

function setBusy(busy) {
    $('gadget').setAttribute('aria-busy', String(busy));
    $('refresh').disabled = busy;
    if (busy) $('status').textContent = 'Loading\u2026';
    else showStatus();
}

function clock(date) {
    return date.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit'});
}

function showStatus() {
    // Short lines for the narrow bar; the tooltip says the plan in full.
    const lines = [state.updated ? `Updated ${clock(state.updated)}` : 'Not loaded yet', state.next, state.plan.text];
    const spans = lines.filter(Boolean).map((text) => Object.assign(document.createElement('span'), {textContent: text}));
    // The next end among the running auctions counts down here too.
    const nextEnd = Object.assign(document.createElement('span'), {className: 'next-end', hidden: true});
    nextEnd.append('Next end: ', Object.assign(document.createElement('span'), {className: 'next-end-time'}));
    $('status').replaceChildren(...spans, nextEnd);
    $('status').title = state.plan.detail || '';
    bindStatus(nextEnd);
}

// --- The fragments' calls ---------------------------------------------------------------------------------

function onLink(blockId) {
    $(blockId)?.classList.add('hover');
}
function outLink(blockId) {
    $(blockId)?.classList.remove('hover');
}
function onImg(name) {
    $(name)?.classList.add('hover');
}
function outImg(name) {
    $(name)?.classList.remove('hover');
}
function firstPage() {
    return page('FirstPage');
}
function prevPage() {
    return page('PrevPage');
}
function nextPage() {
    return page('NextPage');
}
function lastPage() {
    return page('LastPage');
}

const fragmentCalls = {onLink, outLink, onOpenDetails, firstPage, prevPage, nextPage, lastPage, onImg, outImg};
Object.assign(window, fragmentCalls);
const adopt = (html) => adoptFragment(html, fragmentCalls);

// --- Loading and paging -----------------------------------------------------------------------------------

async function waitWhileWorking() {
    for (;;) {
        let working;
        try {
            working = await call('IsWorking', 'get');
        } catch (e) {
            if (e.busy) working = true;
            else throw e;
        }
        if (!working) return;
        await new Promise((resolve) => setTimeout(resolve, pollMs));
    }
}

// reading: a read of "result.txt" already under way (the page's start), else a new one. fresh: the list's
// items may have changed (a load, another order), so their end times and the host's time are read beside it.
async function showResultFile(reading = null, {fresh = true} = {}) {
    const itemsRead = fresh ? refreshItems().catch(() => {}) : null;
    let html;
    try {
        html = await (reading ?? readFile('result.txt'));
    } catch (e) {
        if (e.status === 404) {
            $('list').replaceChildren();
            return false;
        }
        throw e;
    }
    // At the start the list the last run left shows at once; its times count once the items are in.
    if (!reading) await itemsRead;
    const open = $('details').hidden ? null : $('details').dataset.article;
    $('list').replaceChildren(...adopt(html));
    bindRows($('list'));
    markOpenItem(open);
    return true;
}

// "Updated" follows only a load that brought the whole list; a step the user cancelled or a load that failed
// says what comes next. A host that does not tell how its last load went is taken at its word, as before.
function noteLoad(before, last) {
    if (!last) return true;
    if (last.number > before && last.succeeded) {
        state.next = '';
        return true;
    }
    state.next = last.number > before ? 'The load failed: the refresh button tries again'
                                      : 'Nothing loaded: the refresh button starts again';
    return false;
}

async function load() {
    if (state.loading || !state.started) return;
    state.loading = true;
    setBusy(true);
    try {
        const before = (await schedule().catch(() => ({}))).lastLoad?.number ?? 0;
        await call('LoadWatchlist');
        await waitWhileWorking();
        const shown = await showResultFile();
        const plan = await schedule().catch(() => null);
        if (plan) state.plan = plan;
        if (noteLoad(before, plan?.lastLoad) && shown) state.updated = new Date(gadgetNow());
        setProblem('');
    } catch (e) {
        if (!e.busy) setProblem(e.message);
    } finally {
        // The list is shown: the gadget is no longer busy while the reminders catch up.
        state.loading = false;
        setBusy(false);
    }
    await refreshReminders().catch((e) => !e.busy && setProblem(e.message));
}

async function page(member) {
    try {
        await call(member);
        await waitWhileWorking();
        await showResultFile(null, {fresh: false});
    } catch (e) {
        if (!e.busy) setProblem(e.message);
    }
}

function showPlan(plan) {
    state.plan = plan || {};
    if (!state.loading && !state.hostLoading) showStatus();
}

// A load the host started on its own: the list shows what it brought once it ends. The end of a load this
// page ran itself is no news, and reading the list again would redraw what the user points at.
async function onHostLoad(data) {
    if (state.loading) return;
    if (data.state === 'started') {
        state.hostLoading = true;
        setBusy(true);
        return;
    }
    if (!state.hostLoading) return;
    try {
        const succeeded = data.succeeded === undefined || noteLoad(-1, data);
        if ((await showResultFile()) && succeeded) state.updated = new Date(gadgetNow());
    } catch (e) {
        if (!e.busy) setProblem(e.message);
    } finally {
        // As after the page's own load: not busy while the reminders catch up.
        state.hostLoading = false;
        setBusy(false);
    }
    await refreshReminders().catch((e) => !e.busy && setProblem(e.message));
}

async function showOptions() {
    try {
        await call('ShowOptions');
        showPlan(await schedule());
        await waitWhileWorking();
        await showResultFile();
    } catch (e) {
        if (!e.busy) setProblem(e.message);
    }
}

// --- Details flyout ---------------------------------------------------------------------------------------

function markOpenItem(article) {
    for (const block of document.querySelectorAll('.result.open')) block.classList.remove('open');
    if (!article) return;
    for (const block of document.querySelectorAll('.result')) {
        if (block.dataset.article === article) block.classList.add('open');
    }
}

function closeDetails() {
    const hadFocus = $('details').contains(document.activeElement);
    $('details').hidden = true;
    delete $('details').dataset.article;
    markOpenItem(null);
    bindDetails(null, null);
    showRemindersFor(null);
    // The keyboard goes back to the row's details button that opened the flyout.
    if (hadFocus || document.activeElement === document.body) state.detailsOpener?.focus();
    state.detailsOpener = null;
}

// The page's rules for the details document, those of gadget.css under ".details-body": they follow the
// document's own sheet, so that a huge title or a long name stays inside the flyout.
function pageDetailsSheet() {
    const sheet = new CSSStyleSheet();
    for (const pageSheet of document.styleSheets) {
        for (const rule of pageSheet.cssRules) {
            if (rule.selectorText?.startsWith('.details-body')) sheet.insertRule(rule.cssText, sheet.cssRules.length);
        }
    }
    return sheet;
}

// The details file is a whole document with its own style sheet: it is drawn in a shadow root, its rules
// moved from "body" to the root's wrapper, so that neither its styles nor the page's leak across.
function showDetailsDocument(html) {
    const doc = document.implementation.createHTMLDocument('');
    doc.documentElement.innerHTML = html.replace(/^\s*<!DOCTYPE[^>]*>/i, '');
    const host = $('detailsBody');
    const root = host.shadowRoot || host.attachShadow({mode: 'open'});
    const sheets = [];
    for (const style of doc.querySelectorAll('style')) {
        const sheet = new CSSStyleSheet();
        sheet.replaceSync(style.textContent.replace(/\bbody\b/g, '.details-body').replace(/\bhtml\b/g, ':host'));
        sheets.push(sheet);
    }
    showDetailsDocument.pageSheet ??= pageDetailsSheet();
    root.adoptedStyleSheets = [...sheets, showDetailsDocument.pageSheet];
    const wrapper = document.createElement('div');
    wrapper.className = `details-body ${doc.body.className}`.trim();
    wrapper.append(...adopt(doc.body.innerHTML));
    root.replaceChildren(wrapper);
    return wrapper;
}

async function onOpenDetails(article) {
    const details = $('details');
    if (!details.hidden && details.dataset.article === article) {
        closeDetails();
        return;
    }
    try {
        const built = await call('BuildDetailsFileFor', 'method', [article]);
        if (!built) {
            closeDetails();
            return;
        }
        bindDetails(showDetailsDocument(await readFile('details.html')), article);
        details.dataset.article = article;
        if (!details.contains(document.activeElement)) state.detailsOpener = document.activeElement;
        details.hidden = false;
        markOpenItem(article);
        await showRemindersFor(article);
    } catch (e) {
        if (!e.busy) setProblem(e.message);
    }
}

// --- Host events ------------------------------------------------------------------------------------------

function showToast(content, ms = 8000) {
    const toast = $('toast');
    toast.replaceChildren(...content);
    toast.hidden = false;
    clearTimeout(showToast.timer);
    showToast.timer = setTimeout(() => (toast.hidden = true), ms);
}

function openUrl(url) {
    if (!/^https?:\/\//i.test(url || '')) return;
    const opened = window.open(url, '_blank');
    if (opened) {
        opened.opener = null;
        return;
    }
    // A blocked pop-up still leaves the user one click away from the address.
    const link = Object.assign(document.createElement('a'), {href: url, target: '_blank', rel: 'noopener'});
    link.textContent = 'Open the page the gadget asked for';
    showToast([link], 30000);
}

// --- Start and end ----------------------------------------------------------------------------------------

// The host serves one gadget directory and runs the control there: "" names that directory. Init joins the
// control another tab (or this page before a reload) uses; a page that comes back just as the host ends the
// control of gone pages finds it busy, and waits for that to finish. The read of "result.txt" that went out
// beside the first Init ({reading}) is what the control left only when that Init joined or built it.
async function initControl(early) {
    const deadline = Date.now() + 30000;
    for (;;) {
        try {
            if (!early) {
                await call('Init', 'method', ['']);
                return {reading: null};
            }
            await early.init;
            return {reading: early.result};
        } catch (e) {
            early = null;
            if (!e.busy || Date.now() > deadline) throw e;
            $('status').textContent = 'Waiting for the host\u2026';
            await new Promise((resolve) => setTimeout(resolve, pollMs));
        }
    }
}

async function start() {
    if (!hasSecret()) {
        setProblem('Open the gadget through the address kova-gadget prints: it carries the key for this page.');
        $('status').textContent = 'Not connected';
        return;
    }
    state.events ??= events(
        {
            forms: (data) => {
                showForms(data.forms || []);
                // A step of a load went on to the next (keys given, the login data taken): the list's notice
                // may have changed with it.
                const top = (data.forms || []).at(-1)?.id ?? null;
                if (top !== state.topForm && state.started) showResultFile().catch(() => {});
                state.topForm = top;
            },
            openurl: (data) => openUrl(data.url),
            reminder: (data) => showReminder(data),
            outbid: (data) => showOutbid(data),
            ended: (data) => showEnded(data),
            view: (data) => onViewEvent(data).catch(() => {}),
            load: (data) => onHostLoad(data),
            schedule: (data) => showPlan(data),
            // The host wrote the list again (after a sleep, with the remaining times of now).
            listchanged: () => !state.loading && showResultFile().catch(() => {}),
        },
        (connected) => {
            const lost = 'The connection to the gadget host was lost.';
            if (!connected && state.started) setProblem(lost);
            else if (connected && $('problem').textContent === lost) setProblem('');
        },
    );
    try {
        const {reading} = await initControl(takeEarlyStart());
        state.started = true;
        setProblem('');
        // What the last run left is shown at once; a load started below replaces it.
        await showResultFile(reading);
        await readView();
        await refreshReminders();
        showPlan(await schedule());
        if (await call('RefreshAuctionsAtStart', 'get')) await load();
    } catch (e) {
        setProblem(e.message);
        $('status').textContent = 'Not started';
    }
}

// The page leaves the control to the host, which ends it a grace after its last page has gone: closing one
// of two tabs must not end it under the other.
function stop() {
    state.started = false;
    // A page kept in the back-forward cache is no page of the host's until it shows again.
    state.events?.close();
    state.events = null;
}

$('refresh').addEventListener('click', () => load());
$('settings').addEventListener('click', () => showOptions());
$('detailsClose').addEventListener('click', closeDetails);
// A changed reminder shows at once in the list: "result.txt" marks the end time of an item with one.
setUpReminders(async () => {
    if (!state.loading) await showResultFile();
});
setUpView(
    async () => {
        if (!state.loading) await showResultFile();
    },
    (text) => setProblem(text),
);
setUpLive();
addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && !$('details').hidden && !document.body.classList.contains('dialog-open'))
        closeDetails();
});
// A picture of this machine's https server that does not load is the demo sandbox's, whose certificate a
// browser tab does not know: the page says what to do, where a menu's user sees it (not on standard error).
addEventListener('kova-picture-failed', (event) => {
    let url;
    try {
        url = new URL(event.detail, location.href);
    } catch {
        return;
    }
    const hint = $('pictureHint');
    if (url.protocol !== 'https:' || !['127.0.0.1', 'localhost'].includes(url.hostname) || !hint.hidden) return;
    const link = Object.assign(document.createElement('a'), {href: `${url.origin}/`, target: '_blank'});
    link.rel = 'noopener';
    link.textContent = url.origin;
    hint.replaceChildren(
        "The pictures come from the demo's sandbox, whose certificate this browser does not know: open ", link,
        ' once, accept its certificate there, then refresh the list.');
    hint.hidden = false;
});
addEventListener('pagehide', stop);
addEventListener('pageshow', (event) => {
    if (event.persisted) start();
});
start();
