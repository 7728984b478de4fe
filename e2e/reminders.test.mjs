// Reminders in the page: "Remind me" in the details flyout marks the item's end time and brings a banner
// before the end, on the real clock; the default for every watched auction is kept in the ini.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {cleanUp, closeBrowser, makeGadgetDir, openGadget, startAll, startGadget, startSandbox} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const smallWindow = {viewport: {width: 480, height: 372}};
const pageNumber = (page, text) =>
    page.waitForFunction((expected) => document.getElementById('pageNumber')?.textContent.trim() === expected, text);
// KOVA_SCREENSHOT_DIR=DIR keeps pictures of the small window for a person to look at.
const shot = (page, name) =>
    process.env.KOVA_SCREENSHOT_DIR && page.screenshot({path: path.join(process.env.KOVA_SCREENSHOT_DIR, `${name}.png`)});

// The list's block of the item with this title, wherever the list's order put it.
const itemBlock = (page, title) => page.locator('#results .result', {hasText: title});

async function openDetails(page, title) {
    await itemBlock(page, title).locator('img[alt=Details]').click();
    await page.locator('#detailsBody h1', {hasText: title}).waitFor();
    await page.locator('#detailsRemind').waitFor({state: 'visible'});
}

test('"Remind me: 5 minutes" on an item ending in 6 minutes turns its end time red and brings its banner', async () => {
    const sandbox = await startSandbox(['demo:6']);
    const dir = await makeGadgetDir(sandbox);
    // Automatic refresh every hour: the host refreshes once a minute all the same while these items end soon.
    fs.writeFileSync(path.join(dir, 'KovaGadget.ini'), '[Watchlist]\r\nAuctionsAutomaticRefresh=1\r\nAuctionsRefreshTime=60\r\n');
    const gadget = await startGadget(dir, sandbox);
    const titles = ['Brass clock ending soon', 'Tin robot ending soon'];
    const ids = ['110099000001', '110099000002'];
    for (const [index, title] of titles.entries())
        await sandbox.control('/sandbox/item', {username: 'demo', index, itemId: ids[index], title, endsInSeconds: 360});
    const {context, page} = await openGadget(gadget, smallWindow);
    await pageNumber(page, '1/2');

    for (const title of titles) {
        await openDetails(page, title);
        const choice = page.locator('#details').getByLabel('Remind me');
        assert.equal(await choice.inputValue(), '0', 'no reminder before the user sets one');
        assert.equal(await itemBlock(page, title).locator('td.red').count(), 0);
        await choice.selectOption({label: '5 minutes'});
        await itemBlock(page, title).locator('td.red').waitFor();
        assert.equal(await page.locator('#details').getByLabel('Remind me').inputValue(), '1');
    }
    await shot(page, 'gadget-remind');
    const setAt = Date.now();
    await page.locator('#status', {hasText: /every min: auction ending/}).waitFor();
    // The user becomes the high bidder on eBay's side; the host's next refresh brings the mark unasked.
    await sandbox.control('/sandbox/item', {username: 'demo', index: 0, highBidder: 'demo'});

    // Both come due a minute after they were set; the newest banner stands on top.
    const banners = page.locator('#banners .banner');
    await page.waitForFunction(() => document.querySelectorAll('#banners .banner').length === 2, null, {timeout: 70000});
    assert.ok(Date.now() - setAt < 70000, 'the banners came within 70 s');
    await itemBlock(page, titles[0]).and(page.locator('.winner')).waitFor({timeout: 15000});
    assert.equal(await page.locator('#results td.red').count(), 2, 'the refresh kept both reminders');
    const first = banners.filter({hasText: titles[0]});
    assert.match(await first.innerText(), /\d/, 'the banner shows the price and the time left');
    const link = first.getByRole('link', {name: titles[0]});
    const href = await link.getAttribute('href');
    assert.match(href, new RegExp(`^https?://\\S+${ids[0]}`), "the banner links to the item's page");
    await shot(page, 'gadget-reminder-banner');

    // The item's page opens in a new tab (outside addresses go no further than the request in these tests).
    const [tab] = await Promise.all([
        context.waitForEvent('page'),
        context.waitForEvent('request', (request) => request.url() === href),
        link.click(),
    ]);
    assert.notEqual(tab, page);
    await tab.close();
    await page.waitForTimeout(1000);
    assert.equal(await banners.count(), 2, 'banners stay until they are closed');
    await first.getByRole('button', {name: 'Close reminder'}).click();
    await page.waitForFunction(() => document.querySelectorAll('#banners .banner').length === 1);
    assert.ok((await banners.innerText()).includes(titles[1]), 'the other banner stays');
    await banners.getByRole('button', {name: 'Close reminder'}).click();
    await page.locator('#banners').waitFor({state: 'hidden'});
});

test('the default for every watched auction is kept in the ini and read again by a reloaded page', async () => {
    const {dir, gadget} = await startAll({accounts: ['demo:3']});
    const {page} = await openGadget(gadget, smallWindow);
    await pageNumber(page, '1/1');

    const bell = page.getByRole('button', {name: 'Reminders'});
    await bell.click();
    const choice = page.locator('#remindMenu').getByLabel('Remind me');
    assert.equal(await choice.inputValue(), '0', 'off by default');
    await choice.selectOption({label: '1 hour'});
    await page.waitForFunction(() => document.getElementById('remindDefault').classList.contains('on'));
    await shot(page, 'gadget-remind-default');
    assert.match(fs.readFileSync(path.join(dir, 'KovaGadget.ini'), 'utf8'), /^AuctionsRemindDefault=4\r?$/m);

    await page.reload();
    await pageNumber(page, '1/1');
    await page.locator('#result0 img[alt=Details]').click();
    await page.locator('#details').waitFor({state: 'visible'});
    await page.getByRole('button', {name: 'Reminders'}).click();
    assert.equal(await page.locator('#remindMenu').getByLabel('Remind me').inputValue(), '4');
    await page.keyboard.press('Escape');
    await page.locator('#remindMenu').waitFor({state: 'hidden'});
    assert.ok(await page.locator('#details').isVisible(), 'Escape closed the menu, not the flyout');
});
