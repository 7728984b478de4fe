// The page's start: Init and the list the last run left go out before the page's modules have run, and that
// early list is shown only when the Init beside it built or joined the control.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {cleanUp, closeBrowser, listedItems, openGadget, startAll} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

// Whether an element with the id ever appeared in the page, however briefly.
function watchFor(id) {
    window.kovaSeen = false;
    new MutationObserver(() => {
        if (document.getElementById(id)) window.kovaSeen = true;
    }).observe(document, {childList: true, subtree: true});
}

const staleList = '<div id=results><div class=result id=stale>an old list</div></div>';

test('Init and the list are asked for before the modules have loaded, and shown only after a working Init', async () => {
    const {gadget} = await startAll({accounts: ['demo:3']});
    // [what, the first Init's answer (null: the host's own), the list shown at the end, the problem shown]
    const cases = [
        ['the host answers', null, ['result0', 'result1', 'result2'], ''],
        ['the first Init finds the host busy: the list is read again after the Init that worked',
         {status: 409, body: {error: 'The gadget is busy: another call is running.', busy: true}},
         ['result0', 'result1', 'result2'], ''],
        ['the first Init fails: no list, the failure', {status: 500, body: {error: 'The gadget could not start: broken'}},
         [], 'The gadget could not start: broken'],
    ];
    for (const [what, firstInit, shown, problem] of cases) {
        const {context, page} = await openGadget(gadget, {open: false});
        const seen = [];
        let inits = 0;
        let lists = 0;
        await context.addInitScript(watchFor, 'stale');
        // The modules come late; the order in which requests reach the host is noted.
        await page.route('**/js/gadget.mjs', async (route) => {
            await new Promise((resolve) => setTimeout(resolve, 400));
            seen.push('gadget.mjs');
            await route.continue();
        });
        await page.route('**/api/call', async (route) => {
            const body = route.request().postDataJSON();
            if (body.member !== 'Init') return route.continue();
            seen.push('Init');
            if (inits++ === 0 && firstInit)
                return route.fulfill({status: firstInit.status, contentType: 'application/json', body: JSON.stringify(firstInit.body)});
            return route.continue();
        });
        await page.route('**/result.txt', async (route) => {
            seen.push('result.txt');
            // A list that the page must not show unless the first Init worked.
            if (lists++ === 0 && firstInit) return route.fulfill({status: 200, contentType: 'text/plain', body: staleList});
            return route.continue();
        });
        await page.goto(gadget.url);
        if (shown.length) {
            await page.waitForFunction((n) => document.querySelectorAll('#results .result').length === n, shown.length);
            await page.waitForFunction(() => document.getElementById('gadget').getAttribute('aria-busy') === 'false');
        } else {
            await page.waitForFunction(() => document.getElementById('problem').textContent !== '');
        }
        assert.deepEqual(seen.slice(0, 3).sort(), ['Init', 'gadget.mjs', 'result.txt'].sort(), what);
        assert.ok(seen.indexOf('Init') < seen.indexOf('gadget.mjs'), `${what}: Init waited for the modules: ${seen}`);
        assert.ok(seen.indexOf('result.txt') < seen.indexOf('gadget.mjs'), `${what}: the list waited for the modules: ${seen}`);
        assert.deepEqual((await listedItems(page)).map((item) => item.id), shown, what);
        assert.equal(await page.evaluate(() => window.kovaSeen), false, `${what}: the early list was shown`);
        assert.equal(await page.locator('#problem').innerText(), problem, what);
        await context.close();
    }
});
