// The live list on the real clock: remaining times count down in the rows, the details, a banner and the
// status line without a load, on the host's exact time a minute ahead of the browser's; a load that brings
// an outbid marks the row and tells it; the chooser orders the list and the filter pages through matches.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {cleanUp, closeBrowser, makeGadgetDir, openGadget, sourceDir, startGadget, startSandbox} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const pageNumber = (page, text) =>
    page.waitForFunction((expected) => document.getElementById('pageNumber')?.textContent.trim() === expected, text);
const itemBlock = (page, title) => page.locator('#results .result', {hasText: title});
const titles = (page) => page.locator('#results .result a[target=_blank]').allInnerTexts();
const seconds = (text) => {
    const match = /^(\d+) m (\d+) s$/.exec(text.trim());
    return match ? Number(match[1]) * 60 + Number(match[2]) : NaN;
};
const isoSeconds = (ms) => new Date(ms).toISOString().replace(/\.\d+Z$/, 'Z');

test('times count on the host clock, a load marks an outbid, the chooser orders and the filter pages', async () => {
    const sandbox = await startSandbox(['demo:12']);
    const dir = await makeGadgetDir(sandbox);
    // No refresh of the host's own while the item ends: what changes on the page is the page's doing.
    fs.writeFileSync(path.join(dir, 'KovaGadget.ini'), '[Watchlist]\r\nAuctionsRefreshNearEnd=0\r\n');
    // The host's exact time runs a minute ahead of the computer's clock, which the browser reads.
    const hostAhead = 60000;
    const title = 'Pocket watch ending now';
    const endsAt = Math.ceil((Date.now() + hostAhead + 16000) / 1000) * 1000;
    await sandbox.control('/sandbox/item', {username: 'demo', index: 2, title, endTime: isoSeconds(endsAt)});
    const outbidTitle = 'Copper kettle, led by you';
    await sandbox.control('/sandbox/item', {username: 'demo', index: 5, title: outbidTitle, highBidder: 'demo'});
    for (const index of [6, 7, 8, 9, 10, 11])
        await sandbox.control('/sandbox/item', {username: 'demo', index, title: `Old brass lamp no. ${index}`});
    const gadget = await startGadget(dir, sandbox, [], {KOVA_GADGET_CLOCK_ERROR_MS: String(-hostAhead)});
    const {page} = await openGadget(gadget, {viewport: {width: 520, height: 460}});
    await pageNumber(page, '1/3');
    const row = itemBlock(page, title);
    const timeCell = row.locator('tr:last-child > td');

    // Ending soonest is the kept order: the item ending now leads. Its time is the host's, not the browser's.
    assert.deepEqual((await titles(page))[0], title);
    const hostLeft = (endsAt - hostAhead - Date.now()) / 1000;
    assert.ok(Math.abs(seconds(await timeCell.innerText()) - hostLeft) <= 2, `${await timeCell.innerText()} ~ ${hostLeft} s`);

    // Its details count and give the end as a local day and clock; a reminder brings its banner.
    await row.locator('img[alt=Details]').click();
    await page.locator('#detailsBody h1', {hasText: title}).waitFor();
    const end = new Date(endsAt);
    const clock = [end.getHours(), end.getMinutes(), end.getSeconds()].map((n) => String(n).padStart(2, '0')).join(':');
    const ends = await page.locator('#detailsBody tr.ends td').innerText();
    assert.match(ends, new RegExp(`^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) ${clock}$`));
    await page.locator('#details').getByLabel('Remind me').selectOption({label: '5 minutes'});
    const banner = page.locator('#banners .banner', {hasText: title});
    await banner.waitFor({timeout: 10000});

    // From here no load and no read of the list: every time counts on its own, in step.
    const reads = [];
    page.on('request', (request) => /result\.txt|LoadWatchlist/.test(request.url() + request.postData()) && reads.push(request.url()));
    await page.evaluate(() => {
        const cell = [...document.querySelectorAll('#results .result')].find((r) => r.textContent.includes('Pocket watch'));
        new MutationObserver(() => {
            if (cell.querySelector('tr:last-child > td').textContent === 'Ended') window.endedAt ??= Date.now();
        }).observe(cell, {subtree: true, characterData: true, childList: true});
    });
    const shown = () =>
        page.evaluate(() => ({
            row: [...document.querySelectorAll('#results .result')].find((r) => r.textContent.includes('Pocket watch'))
                .querySelector('tr:last-child > td').textContent,
            details: [...document.getElementById('detailsBody').shadowRoot.querySelectorAll('tr')]
                .find((tr) => tr.querySelector('th').textContent === 'Time left').querySelector('td').textContent,
            banner: document.querySelector('#banners .banner .banner-left').textContent,
            status: document.querySelector('#status .next-end-time')?.textContent,
        }));
    const first = await shown();
    await page.waitForTimeout(2100);
    const later = await shown();
    for (const [where, text] of Object.entries(later)) {
        assert.ok(seconds(first[where]) - seconds(text) >= 2, `${where}: ${first[where]} then ${text}`);
        assert.equal(text, later.row, `${where} shows the row's time`);
    }
    await page.waitForFunction(() => window.endedAt, null, {timeout: 30000, polling: 100});
    // The design's text reads "Ended" once less than a whole second is left; the clock is taken over within
    // half a request's round trip.
    const late = (await page.evaluate(() => window.endedAt)) - (endsAt - hostAhead);
    assert.ok(late >= -1250 && late <= 1000, `"Ended" came ${late} ms after the end`);
    const atEnd = await shown();
    assert.equal(atEnd.details, 'Ended');
    assert.equal(atEnd.banner, 'Ended');
    assert.notEqual(atEnd.status, '0 m 0 s');
    assert.deepEqual(reads, [], 'no load and no read of the list');
    await banner.getByRole('button', {name: 'Close reminder'}).click();
    await page.keyboard.press('Escape');

    // Another bidder outbids the user: the next load marks the row, tells it, and the details give the price
    // before.
    await sandbox.control('/sandbox/outbid', {username: 'demo', index: 5});
    // "Ended" shows in the last second already; the load must come after the end itself.
    await page.waitForTimeout(Math.max(0, endsAt - hostAhead - Date.now() + 100));
    await page.getByRole('button', {name: 'Refresh'}).click();
    const notice = page.locator('#banners .banner.outbid', {hasText: outbidTitle});
    await notice.waitFor({timeout: 15000});
    assert.match(await notice.innerText(), /^Outbid:/);
    // The same load saw the item of the countdown ended: its word comes once, as a banner too.
    assert.match(await page.locator('#banners .banner.ended', {hasText: title}).innerText(), /^Ended:/);
    const outbidRow = itemBlock(page, outbidTitle);
    for (let turns = 0; !(await outbidRow.count()) && turns < 3; ++turns) await page.locator('#next').click();
    await page.locator('#results .result.changed', {hasText: outbidTitle}).waitFor();
    await outbidRow.locator('img[alt=Details]').click();
    const before = page.locator('#detailsBody tr.before td');
    await before.waitFor();
    assert.notEqual(await before.innerText(), await page.locator('#detailsBody tr', {hasText: 'Price'}).first().locator('td').innerText());
    if (process.env.KOVA_UPDATE_SCREENSHOTS) {
        const closes = page.locator('#banners').getByRole('button', {name: /^Close (reminder|notice)$/});
        while (await closes.count()) await closes.first().click();
        await page.screenshot({path: path.join(sourceDir, 'docs/gadget-live.png')});
    }
    await page.keyboard.press('Escape');

    // The chooser orders the list; the filter keeps matching titles, in any order of the words, page by page.
    // The list shown so far is marked; the one in the new order comes without the mark.
    await page.locator('#results').evaluate((results) => (results.dataset.before = ''));
    await page.getByRole('combobox', {name: 'Sort order'}).selectOption('title');
    await page.locator('#results:not([data-before])').waitFor();
    const sorted = (list) => list.every((t, i) => !i || list[i - 1].localeCompare(t, undefined, {sensitivity: 'base'}) <= 0);
    assert.ok(sorted(await titles(page)), (await titles(page)).join(' | '));
    await pageNumber(page, '1/3');
    await page.getByLabel('Filter by title').pressSequentially('LAMP brass');
    await pageNumber(page, '1/2');
    const matches = await titles(page);
    await page.locator('#next').click();
    await pageNumber(page, '2/2');
    matches.push(...(await titles(page)));
    assert.equal(matches.length, 6);
    assert.ok(sorted(matches), matches.join(' | '));
    assert.deepEqual(new Set(matches), new Set([6, 7, 8, 9, 10, 11].map((n) => `Old brass lamp no. ${n}`)));
    // A reloaded page shows the order and filter the host keeps, on the page of the list it was at.
    await page.reload();
    await pageNumber(page, '2/2');
    assert.equal(await page.getByRole('combobox', {name: 'Sort order'}).inputValue(), 'title', 'the order is kept');
    assert.equal(await page.getByLabel('Filter by title').inputValue(), 'LAMP brass');

    // A machine that slept: the wall clock went on while the page's monotonic clock stood still. The page
    // takes the jump at its next look and asks the host for its time again.
    const resync = page.waitForRequest((request) => request.url().endsWith('/api/items'), {timeout: 5000});
    await page.evaluate(() => {
        const wall = Date.now;
        Date.now = () => wall() + 600000;
        window.dispatchEvent(new Event('focus'));
    });
    await resync;
});
