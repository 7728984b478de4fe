// What an untrusted answer puts into the list cannot break the page: odd item ids, pictures that do not
// load, a huge title and right-to-left names.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {atCleanUp, cleanUp, closeBrowser, launchBrowser, openGadget, startAll} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const changeItem = (sandbox, change) => sandbox.control('/sandbox/item', {username: 'demo', ...change});
// Waits until a load has shown its list.
const loaded = (page) =>
    page.waitForFunction(() => /^Updated /.test(document.getElementById('status').textContent) &&
                               document.getElementById('pageNumber'));
const detailsText = (page) => page.locator('#detailsBody').evaluate((host) => host.shadowRoot.textContent);

// Clicks a link that opens an outside page in a new tab, and closes that tab.
async function clickOutsideLink(page, link) {
    const [popup] = await Promise.all([page.context().waitForEvent('page'), link.click()]);
    await popup.close();
}

test('odd item ids open their details, and no click changes the page address', async () => {
    const {sandbox, gadget} = await startAll({accounts: ['demo:4']});
    const ids = ['110-22/33', `a'b"c\\d`, 'Ü\u00c5-\u03a9 42', '%2F#x?y&z=1'];
    for (const [index, itemId] of ids.entries()) await changeItem(sandbox, {index, itemId, title: `Odd id ${index}`});
    const {page} = await openGadget(gadget, {viewport: {width: 520, height: 460}});
    await loaded(page);
    const address = page.url();
    const details = page.locator('#details');

    for (const index of ids.keys()) {
        const row = page.locator('#results .result', {hasText: `Odd id ${index}`});
        await row.locator('img[alt=Details]').click();
        await page.waitForFunction((title) => {
            const root = document.getElementById('detailsBody').shadowRoot;
            return !document.getElementById('details').hidden && root?.textContent.includes(title);
        }, `Odd id ${index}`, {timeout: 10000});
        assert.match(await row.getAttribute('class'), /\bopen\b/, `item ${ids[index]} is marked open`);
        assert.equal(page.url(), address, `opening ${ids[index]}`);
    }

    // The keyboard reaches the details link too: it closes the open item's details.
    await page.locator('#results .result', {hasText: 'Odd id 3'}).locator('a[role=button]').press('Enter');
    await details.waitFor({state: 'hidden'});
    await page.locator('#results .result', {hasText: 'Odd id 0'}).locator('a[role=button]').press('Enter');
    await details.waitFor({state: 'visible'});

    const clicks = [
        ['a title in the list', () => clickOutsideLink(page, page.locator('#results .result a[target=_blank]').first())],
        ['the title in the details', () => clickOutsideLink(page, page.locator('#detailsBody h1 a'))],
        ['the action link in the details', () => clickOutsideLink(page, page.locator('#detailsBody p.action a'))],
        ['a navigation image', () => page.locator('#next').click()],
        ['another navigation image', () => page.locator('#begin').click()],
        ['the details close button', () => page.locator('#detailsClose').click()],
    ];
    for (const [what, click] of clicks) {
        await click();
        assert.equal(page.url(), address, `after a click on ${what}`);
    }
    assert.equal(await page.locator('#results a[href^="#"], #results a[href^="javascript:" i]').count(), 0);

    // The address still carries the key: a reload finds the control again.
    await page.reload();
    await loaded(page);
    assert.equal(await page.locator('#problem').innerText(), '');
});

// A page on the gadget whose pictures from the given addresses fail; nothing leaves this machine.
async function openWithFailingPictures(gadget, fails) {
    const context = await (await launchBrowser()).newContext({ignoreHTTPSErrors: true, viewport: {width: 480, height: 420}});
    atCleanUp(() => context.close());
    await context.route('**/*', (route) => {
        const url = new URL(route.request().url());
        const outside = !['127.0.0.1', 'localhost'].includes(url.hostname);
        const picture = route.request().resourceType() === 'image';
        return outside || (picture && fails(url.href)) ? route.abort() : route.continue();
    });
    const page = await context.newPage();
    await page.goto(gadget.url);
    await loaded(page);
    return page;
}

// Every row of the list with the boxes of the list, the row, its price and time cells and its thumbnail.
const rowLayout = (page) =>
    page.locator('#results .result').evaluateAll((rows) => {
        const box = (e) => {
            const r = e.getBoundingClientRect();
            return {left: r.left, top: r.top, right: r.right, bottom: r.bottom, width: r.width, height: r.height};
        };
        const list = box(document.getElementById('list'));
        return rows.map((row) => {
            const cells = [row.querySelector('tr:nth-child(2) > td:first-child'), row.querySelector('tr:nth-child(3) > td')];
            const picture = row.querySelector('img[width="21"]');
            return {
                id: row.id, list, row: box(row),
                cells: cells.map((cell) => ({text: cell.textContent, box: box(cell), clipped: cell.scrollWidth > cell.clientWidth})),
                picture: {src: picture.src, loaded: picture.complete && picture.naturalWidth > 0, box: box(picture)},
            };
        });
    });

const inside = (inner, outer) =>
    inner.width > 0 && inner.left >= outer.left - 0.5 && inner.right <= outer.right + 0.5 &&
    inner.top >= outer.top - 0.5 && inner.bottom <= outer.bottom + 0.5;

test('pictures that cannot load leave every row its price and time in sight', async () => {
    const cases = [
        // [what, which pictures fail, what a thumbnail of the sandbox shows then]
        ['every picture loads', () => false, 'sandbox'],
        ['the items\' pictures fail', (url) => url.includes('/pictures/'), 'placeholder'],
        ['every picture fails', () => true, 'nothing'],
    ];
    for (const [what, fails, shows] of cases) {
        const {sandbox, gadget} = await startAll({accounts: ['demo:5']});
        const page = await openWithFailingPictures(gadget, fails);
        // Wait until every thumbnail has settled, the placeholder included.
        await page.waitForFunction(() => [...document.querySelectorAll('#results img')].every((i) => i.complete));
        await page.waitForTimeout(200);
        const rows = await rowLayout(page);
        assert.equal(rows.length, 5, what);
        for (const {id, list, row, cells, picture} of rows) {
            const where = `${what}, ${id}`;
            assert.ok(inside(row, list), `${where}: the row stays in the list`);
            assert.ok(row.height <= 47, `${where}: the row keeps its height (${row.height})`);
            assert.ok(inside(picture.box, row) && picture.box.width <= 21.5, `${where}: the picture keeps its box`);
            for (const cell of cells) {
                assert.ok(inside(cell.box, row), `${where}: "${cell.text}" stays in its row`);
                assert.ok(!cell.clipped, `${where}: "${cell.text}" is not cut`);
            }
            if (picture.src.includes('blind.gif')) continue; // an item without a picture
            if (shows === 'sandbox') assert.ok(picture.loaded && picture.src.startsWith(`${sandbox.url}/pictures/`), where);
            if (shows === 'placeholder') assert.ok(picture.loaded && picture.src.endsWith('/images/noPicture.png'), where);
        }
        await cleanUp();
    }
});

test('a huge title and right-to-left names stay inside the details flyout', async () => {
    const {sandbox, gadget} = await startAll({accounts: ['demo:3']});
    const title = `Riesig ${'ABCDEFGHIJ'.repeat(20000)}`;
    const seller = '\u05d7\u05e0\u05d5\u05ea \u05d4\u05e9\u05e2\u05d5\u05e0\u05d9\u05dd 24!';
    await changeItem(sandbox, {index: 0, title, seller, highBidder: '\u0645\u062a\u062c\u0631 (7)'});
    const viewport = {width: 520, height: 460};
    const {page} = await openGadget(gadget, {viewport});
    await loaded(page);
    const row = page.locator('#results .result', {hasText: 'Riesig'});
    assert.ok((await row.boundingBox()).height <= 47, 'the row keeps its height');

    await row.locator('img[alt=Details]').click();
    const details = page.locator('#details');
    await details.waitFor({state: 'visible'});
    const flyout = await details.boundingBox();
    assert.ok(flyout.x + flyout.width <= viewport.width && flyout.y + flyout.height <= viewport.height,
              `the flyout stays in the window: ${JSON.stringify(flyout)}`);
    const layout = await page.locator('#detailsBody').evaluate((host, names) => {
        const root = host.shadowRoot;
        const cell = (text) => [...root.querySelectorAll('td')].find((td) => td.textContent === text);
        const heading = root.querySelector('h1');
        return {
            scrolls: document.getElementById('details').scrollWidth > document.getElementById('details').clientWidth,
            headingHeight: heading.getBoundingClientRect().height,
            headingText: heading.textContent.length,
            names: names.map((name) => {
                const td = cell(name);
                const th = td.previousElementSibling;
                const style = getComputedStyle(td);
                return {name, bidi: style.unicodeBidi, direction: style.direction, label: th.textContent,
                        labelRight: th.getBoundingClientRect().right, cellLeft: td.getBoundingClientRect().left};
            }),
            labels: [...root.querySelectorAll('th')].map((th) => th.textContent),
        };
    }, [seller, '\u0645\u062a\u062c\u0631 (7)']);
    assert.ok(!layout.scrolls, 'the flyout does not scroll sideways');
    assert.ok(layout.headingText > 200000 && layout.headingHeight < 90, `the title is cut (${layout.headingHeight} px)`);
    for (const name of layout.names) {
        assert.match(name.bidi, /^(isolate|plaintext)$/, `${name.label}: the name is isolated`);
        assert.equal(name.direction, 'rtl', `${name.label}: the name keeps its own direction`);
        assert.ok(name.labelRight <= name.cellLeft, `${name.label}: the label stays before the name`);
    }
    assert.deepEqual(layout.labels, ['Price', 'Bids', 'Buy It Now', 'Shipping', 'High bidder', 'Seller', 'Time left', 'Ends']);
    assert.match(await detailsText(page), /Go to the item and (bid|buy) on eBay/);

    // A narrow window shows the flyout below the list, within the window's width and with its close button.
    await page.setViewportSize({width: 360, height: 640});
    const list = await page.locator('#gadget').boundingBox();
    const below = await details.boundingBox();
    const close = await page.locator('#detailsClose').boundingBox();
    assert.ok(below.y >= list.y + list.height && below.x + below.width <= 360, `below: ${JSON.stringify(below)}`);
    assert.ok(close.x >= below.x && close.x + close.width <= below.x + below.width && close.y >= below.y,
              `the close button sits on the flyout: ${JSON.stringify(close)}`);
});
