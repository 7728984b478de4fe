// Reminders in the page: "Remind me" for the item in the details flyout, the default for every watched
// auction behind the header's bell, and the banner (with a browser notification) the host's reminder event
// brings. A host without the reminder endpoints leaves all of it hidden.

import {reminders, setReminder} from './host.mjs';
import {bindBanner} from './live.mjs';

// The host's remindType 0..6, in its order.
export const remindChoices = ['off', '5 minutes', '15 minutes', '30 minutes', '1 hour', '3 hours', '1 day'];

const state = {available: false, byItem: new Map(), defaultType: 0, article: null, onChanged: async () => {}};
const $ = (id) => document.getElementById(id);

// An address the banner may link to: the host sends eBay's item page, and nothing else may open.
export function safeItemUrl(url) {
    return /^https?:\/\/[^\s]+$/i.test(String(url ?? '')) ? String(url) : '';
}

// A remind type as the host sends it, held to 0..6.
export function remindType(value) {
    const type = Number(value);
    return Number.isInteger(type) && type >= 0 && type < remindChoices.length ? type : 0;
}

function fillChoices(select) {
    if (select.options.length) return;
    remindChoices.forEach((text, type) => select.add(new Option(text, String(type))));
}

function showChoice(select, suffix, type) {
    select.value = String(type);
    suffix.hidden = type === 0;
}

// The permission is asked for only here, on the user's own choice of a reminder, never at start.
function askForNotifications() {
    if (typeof Notification === 'undefined' || Notification.permission !== 'default') return;
    Notification.requestPermission().catch(() => {});
}

async function readReminders() {
    try {
        const answer = await reminders();
        state.byItem = new Map((answer.items || []).map((item) => [String(item.itemId), item]));
        state.defaultType = remindType(answer.default);
        state.available = true;
    } catch (e) {
        // Only a host without the endpoints hides the controls; a busy or briefly gone host keeps them.
        if (e.status === 404 || e.status === 405) state.available = false;
    }
    $('remindDefault').hidden = !state.available;
    if (!state.available) $('remindMenu').hidden = true;
    showChoice($('remindDefaultType'), $('remindDefaultSuffix'), state.defaultType);
    $('remindDefault').classList.toggle('on', state.defaultType > 0);
    return state.available;
}

function showItemChoice() {
    const row = $('detailsRemind');
    row.hidden = !state.available || state.article === null;
    if (row.hidden) return;
    const item = state.byItem.get(state.article);
    showChoice($('remindType'), $('remindSuffix'), remindType(item?.remindType));
    $('remindNote').textContent = item?.reminded ? 'Reminded' : '';
    $('remindNote').classList.remove('failed');
}

async function changeItem() {
    const article = state.article;
    const type = remindType($('remindType').value);
    $('remindSuffix').hidden = type === 0;
    if (type > 0) askForNotifications();
    const select = $('remindType');
    select.disabled = true;
    try {
        await setReminder({itemId: article, remindType: type});
        await readReminders();
        if (state.article === article) showItemChoice();
        await state.onChanged();
    } catch (e) {
        // The choice goes back to what the host holds, with the host's reason under it.
        if (state.article !== article) return;
        showItemChoice();
        $('remindNote').textContent = e.message;
        $('remindNote').classList.add('failed');
    } finally {
        select.disabled = false;
    }
}

async function changeDefault() {
    const type = remindType($('remindDefaultType').value);
    if (type > 0) askForNotifications();
    $('remindDefaultNote').textContent = '';
    try {
        await setReminder({default: type});
        await readReminders();
        showItemChoice();
        await state.onChanged();
    } catch (e) {
        showChoice($('remindDefaultType'), $('remindDefaultSuffix'), state.defaultType);
        $('remindDefaultNote').textContent = e.message;
    }
}

function toggleMenu(open = $('remindMenu').hidden) {
    $('remindMenu').hidden = !open;
    $('remindDefault').setAttribute('aria-expanded', String(open));
    if (open) $('remindDefaultType').focus();
}

// Wires the controls; onChanged runs after a reminder changed (the page shows "result.txt" again, whose end
// times mark the items with a reminder).
export function setUpReminders(onChanged) {
    state.onChanged = onChanged;
    fillChoices($('remindType'));
    fillChoices($('remindDefaultType'));
    $('remindType').addEventListener('change', changeItem);
    $('remindDefaultType').addEventListener('change', changeDefault);
    $('remindDefault').addEventListener('click', () => toggleMenu());
    $('remindMenuClose').addEventListener('click', () => toggleMenu(false));
    // Escape or a click elsewhere closes the menu, and only the menu: the flyout stays.
    addEventListener('keydown', (event) => {
        if (event.key !== 'Escape' || $('remindMenu').hidden) return;
        event.stopImmediatePropagation();
        toggleMenu(false);
    });
    addEventListener('click', (event) => {
        if ($('remindMenu').hidden || $('remindMenu').contains(event.target)) return;
        if (!$('remindDefault').contains(event.target)) toggleMenu(false);
    });
}

// Reads what the host holds: at start and after every load, which may bring or drop reminders.
export function refreshReminders() {
    return readReminders().then(showItemChoice);
}

// The flyout shows article (null: closed); its choice is read fresh, as a load may have changed it.
export async function showRemindersFor(article) {
    state.article = article === null ? null : String(article);
    showItemChoice();
    if (article !== null) await refreshReminders();
}

function closeBanner(banner) {
    banner.remove();
    $('banners').hidden = !$('banners').childElementCount;
}

// A browser notification, when the user allowed them; one tag per item and kind, so that two tabs of the
// gadget show one.
export function notifyBrowser({title, body, tag, url}) {
    if (typeof Notification === 'undefined' || Notification.permission !== 'granted') return;
    try {
        const note = new Notification(title, {body, tag});
        note.addEventListener('click', () => {
            if (url) window.open(url, '_blank', 'noopener');
            note.close();
        });
    } catch (e) {
        // A browser that allows notifications only from a service worker still shows the banner.
    }
}

// A banner that stays until closed, the newest on top: kind ("reminder", "outbid", "won", "ended") colours it
// and a word before the title names it; price and left are the host's texts, left counting down while the
// list knows the item's end.
export function addBanner({kind, word = '', itemId, title, url, price, left, closeLabel}) {
    const banner = $('bannerTemplate').content.firstElementChild.cloneNode(true);
    banner.classList.add(kind);
    banner.dataset.item = String(itemId ?? '');
    const link = banner.querySelector('.banner-title');
    link.textContent = title || String(itemId ?? '');
    if (url) {
        link.href = url;
    } else {
        link.removeAttribute('href');
    }
    if (word) {
        const label = Object.assign(document.createElement('strong'), {className: 'banner-kind', textContent: word});
        link.before(label);
    }
    banner.querySelector('.banner-price').textContent = price || '';
    const leftText = banner.querySelector('.banner-left');
    leftText.textContent = left || '';
    const close = banner.querySelector('.banner-close');
    if (closeLabel) close.setAttribute('aria-label', closeLabel);
    close.addEventListener('click', () => closeBanner(banner));
    $('banners').prepend(banner);
    $('banners').hidden = false;
    if (left) bindBanner(leftText, itemId);
    return banner;
}

// The host's reminder event: a banner, and a browser notification when the user allowed them and the host
// could not reach the desktop's own notifications.
export function showReminder(reminder) {
    const url = safeItemUrl(reminder.url);
    addBanner({
        kind: 'reminder',
        itemId: reminder.itemId,
        title: reminder.title,
        url,
        price: reminder.price,
        left: reminder.timeLeft,
    });
    const item = state.byItem.get(String(reminder.itemId));
    if (item) item.reminded = true;
    if (state.article === String(reminder.itemId)) showItemChoice();
    if (!reminder.notified)
        notifyBrowser({
            title: reminder.title || 'Auction ending',
            body: [reminder.price, reminder.timeLeft].filter(Boolean).join(' \u00b7 '),
            tag: `kova-reminder-${reminder.itemId}`,
            url,
        });
}
