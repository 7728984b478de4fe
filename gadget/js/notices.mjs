// Word from the host's loads: the user was outbid on a running auction, or a watched auction ended (won or
// not). Each comes as a banner like a reminder's, and as a browser notification where the host could not
// reach the desktop's own notifications.

import {addBanner, notifyBrowser, safeItemUrl} from './reminders.mjs';

const words = {outbid: 'Outbid:', won: 'Won:', ended: 'Ended:'};

// The host's outbid event: {itemId, title, price, timeLeft, url, notified}.
export function showOutbid(data) {
    const url = safeItemUrl(data.url);
    notice('outbid', data, url, data.timeLeft);
}

// The host's ended event: {itemId, title, price, url, won (null: the high bidder is not marked), notified}.
export function showEnded(data) {
    notice(data.won === true ? 'won' : 'ended', data, safeItemUrl(data.url), '');
}

function notice(kind, data, url, left) {
    addBanner({
        kind,
        word: words[kind],
        itemId: data.itemId,
        title: data.title,
        url,
        price: data.price,
        left,
        closeLabel: 'Close notice',
    });
    if (data.notified) return;
    notifyBrowser({
        title: `${words[kind]} ${data.title || data.itemId || ''}`.trim(),
        body: [data.price, left].filter(Boolean).join(' \u00b7 '),
        tag: `kova-${kind}-${data.itemId}`,
        url,
    });
}
