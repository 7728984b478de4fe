// Several tabs on one host share its control: closing one leaves the control to the others, and the control
// ends only a grace after the last tab has gone.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {cleanUp, closeBrowser, listedItems, openGadget, rawRequest, startAll} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

// The host's grace without a page, and a margin for a busy machine.
const graceMs = 5000 + 1500;

async function listShown(page) {
    await page.locator('#gadget[aria-busy=false]').waitFor({timeout: 15000});
    await page.locator('#results .result').first().waitFor();
}

async function refreshed(page) {
    await page.getByRole('button', {name: 'Refresh'}).click();
    await page.locator('#gadget[aria-busy=false]').waitFor({timeout: 15000});
    assert.equal(await page.locator('#problem').innerText(), '', 'no problem shown');
    return (await listedItems(page))[0].text;
}

test('two tabs: closing one leaves the other refreshing, and a tab opened after both closed starts afresh', async () => {
    const {sandbox, gadget} = await startAll({accounts: ['demo:3']});
    const {context, page: first} = await openGadget(gadget);
    await listShown(first);

    const second = await context.newPage();
    await second.goto(gadget.url);
    await listShown(second);
    // The second tab's start must not have broken the first.
    await refreshed(first);

    await second.close({runBeforeUnload: true});
    await first.waitForTimeout(graceMs);
    await sandbox.control('/sandbox/item', {username: 'demo', index: 0, title: 'Changed after the tab closed'});
    assert.match(await refreshed(first), /Changed after the tab closed/);

    await first.close({runBeforeUnload: true});
    await new Promise((resolve) => setTimeout(resolve, graceMs));
    const ended = await rawRequest(gadget.port, {
        method: 'POST',
        target: '/api/call',
        headers: {Host: `127.0.0.1:${gadget.port}`, 'X-Kova-Secret': gadget.secret, 'Content-Type': 'application/json'},
        body: JSON.stringify({member: 'IsWorking', kind: 'get'}),
    });
    assert.equal(ended.status, 500, 'the control has ended with its last tab');
    assert.match(ended.body, /call Init first/);
    const {page: later} = await openGadget(gadget);
    await listShown(later);
    assert.match(await refreshed(later), /Changed after the tab closed/);
});
