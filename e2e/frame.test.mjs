// The page in its own window, as a new user meets it: every dialog whole and usable at the app window's page
// size and down to 360 x 300, Enter and Escape in every dialog, the focus into a dialog and back, what the
// page says after a step the user cancelled, and no serious finding of axe-core on the dialogs, the list and
// the details; menus, banners and the details never push the list's controls out of the window or cover them.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
    binDir, cleanUp, closeBrowser, demoPassword, makeGadgetDir, openGadget, sourceDir, startAll, startGadget,
    startSandbox,
} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

// The app window's page (its 520 x 450 less the title bar) and the smallest window the page is made for.
const sizes = [{width: 520, height: 394}, {width: 360, height: 300}];
const form = (page, name) => page.locator(`.form-layer[data-form-name=${name}]`);
const axeSource = path.join(import.meta.dirname, 'node_modules/axe-core/axe.min.js');

async function atSize(page, size) {
    await page.setViewportSize(size);
    await page.waitForFunction(({width, height}) => innerWidth === width && innerHeight === height, size);
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
}

// The dialog's buttons and close box that are shown: each inside the window and the top-most element at its
// centre, so that a click lands on it.
function unreachableButtons(page, name) {
    return page.evaluate((name) => {
        const layer = document.querySelector(`.form-layer[data-form-name=${name}]`);
        const found = [];
        for (const element of [layer.querySelector('.form-close'), ...layer.querySelectorAll('.c-button')]) {
            if (!element.getClientRects().length) continue;
            const r = element.getBoundingClientRect();
            const label = element.dataset.name ?? 'close box';
            if (r.left < 0 || r.top < 0 || r.right > innerWidth + 0.5 || r.bottom > innerHeight + 0.5) {
                found.push(`${label} outside ${innerWidth}x${innerHeight} at ${Math.round(r.left)},${Math.round(r.top)}`);
            } else if (!element.contains(document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2))) {
                found.push(`${label} covered`);
            }
        }
        return found;
    }, name);
}

// axe-core's serious and critical findings on the page as it is.
async function seriousFindings(page) {
    if (!(await page.evaluate(() => Boolean(window.axe)))) await page.addScriptTag({path: axeSource});
    return page.evaluate(async () => {
        const {violations} = await window.axe.run(document, {resultTypes: ['violations']});
        return violations
            .filter((v) => v.impact === 'serious' || v.impact === 'critical')
            .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
    });
}

// Opens at both sizes, finds the buttons reachable and nothing serious for axe, and leaves the app size set.
async function checkDialog(page, name) {
    await form(page, name).waitFor();
    for (const size of sizes.toReversed()) {
        await atSize(page, size);
        assert.deepEqual(await unreachableButtons(page, name), [], `${name} at ${size.width}x${size.height}`);
    }
    const focused = await page.evaluate((n) => document.querySelector(`.form-layer[data-form-name=${n}]`)
        .contains(document.activeElement), name);
    assert.ok(focused, `the focus is in ${name}`);
    assert.deepEqual(await seriousFindings(page), [], name);
}

const status = (page) => page.locator('#status').innerText();

// The shipped application data without keys, pointed at the sandbox: a new user's first run.
function gadgetDirWithoutKeys(dir, sandbox) {
    const xml = fs
        .readFileSync(path.join(sourceDir, 'gadget/KovaDat.xml'), 'utf8')
        .replace(/<LINKFETCHTOKENSIGNIN>.*<\/LINKFETCHTOKENSIGNIN>/,
                 `<LINKFETCHTOKENSIGNIN>${sandbox.url}/signin?runame=MYRUNAME&amp;SessID=USERSID</LINKFETCHTOKENSIGNIN>`)
        .replace(/<APIServerProduction>.*<\/APIServerProduction>/,
                 `<APIServerProduction>${sandbox.url}/ws/api.dll</APIServerProduction>`);
    const xmlFile = path.join(dir, 'KovaDat.xml');
    fs.writeFileSync(xmlFile, xml);
    execFileSync(path.join(binDir, 'kova-dat'), ['pack', xmlFile, path.join(dir, 'KovaDat.dat')]);
    fs.rmSync(xmlFile);
}

test('a first run: every dialog fits, answers Enter and Escape, and the page says what comes next', async () => {
    const sandbox = await startSandbox(['demo:6']);
    const dir = await makeGadgetDir(sandbox, {seedUser: null});
    gadgetDirWithoutKeys(dir, sandbox);
    // A tab without an opener on PATH: the keys form's link fails to open, and says so in a message box.
    const gadget = await startGadget(dir, sandbox, ['--browser', 'tab'], {PATH: '/nonexistent'});
    const {page} = await openGadget(gadget, {viewport: sizes[0]});

    const keys = form(page, 'frmKovaApplicationKeys');
    await checkDialog(page, 'frmKovaApplicationKeys');
    await keys.getByText('your own developer keys', {exact: false}).waitFor();
    await keys.getByText('kova-gadget --demo', {exact: false}).waitFor();
    const link = keys.getByRole('link', {name: /developer\.ebay\.com/});
    await link.focus();
    await page.keyboard.press('Enter');
    await checkDialog(page, 'MessageBox');
    await form(page, 'MessageBox').getByText('Error by attempt to open browser.', {exact: false}).waitFor();
    await page.keyboard.press('Enter');
    await form(page, 'MessageBox').waitFor({state: 'detached'});
    // Back in the keys form, with the focus where it was.
    await page.waitForFunction(() => document.activeElement?.dataset.name === 'lblDeveloperLink');

    // Escape cancels: no "Updated", and the list and the status say what comes next.
    await page.keyboard.press('Escape');
    await keys.waitFor({state: 'detached'});
    await page.locator('#list').getByText('eBay application keys are needed', {exact: false}).waitFor();
    await page.locator('#status', {hasText: 'the refresh button starts again'}).waitFor();
    assert.doesNotMatch(await status(page), /Updated/);

    // The keys, and Enter in a field: OK, and the page moves on to the login data, the keys' notice gone.
    await page.getByRole('button', {name: 'Refresh'}).click();
    await keys.waitFor();
    for (const [name, value] of [['edtDevID', 'KovaSandboxDev'], ['edtAppID', 'KovaSandboxApp'],
                                 ['edtCertID', 'KovaSandboxCert'], ['edtRuName', 'MYRUNAME']])
        await keys.locator(`[data-name=${name}]`).fill(value);
    await keys.locator('[data-name=edtRuName]').press('Enter');
    await checkDialog(page, 'frmEbayLogInData');
    await page.waitForFunction(() => !document.getElementById('list').textContent.includes('application keys are needed'));
    await page.keyboard.press('Escape');
    await form(page, 'frmEbayLogInData').waitFor({state: 'detached'});
    await page.locator('#status', {hasText: 'the refresh button starts again'}).waitFor();

    // The login data by Enter, then the wizard, which Escape cancels too.
    await page.getByRole('button', {name: 'Refresh'}).click();
    const login = form(page, 'frmEbayLogInData');
    await login.locator('[data-name=edteBayUsername]').fill('demo');
    await login.locator('[data-name=edtEbayPassword]').fill(demoPassword);
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmEbayLogInData] [data-name=btnOk]').disabled);
    await login.locator('[data-name=edtEbayPassword]').press('Enter');
    await checkDialog(page, 'frmKovaGadgetAuthorize');
    await page.keyboard.press('Escape');
    await form(page, 'frmKovaGadgetAuthorize').waitFor({state: 'detached'});
    assert.doesNotMatch(await status(page), /Updated/);

    // The options from the keyboard; Escape gives the focus back to the bar's button.
    await page.getByRole('button', {name: 'Settings'}).focus();
    await page.keyboard.press('Enter');
    await checkDialog(page, 'frmKovaGadgetOptions');
    await page.keyboard.press('Escape');
    await form(page, 'frmKovaGadgetOptions').waitFor({state: 'detached'});
    await page.waitForFunction(() => document.activeElement?.id === 'settings');
});

test('the list uses the window; menus, banners and the details never cover or push out its controls', async () => {
    const {gadget} = await startAll({accounts: ['demo:14']});
    const {page} = await openGadget(gadget, {viewport: sizes[0]});
    await page.waitForFunction(() => document.getElementById('pageNumber')?.textContent.trim() === '1/3');
    await page.locator('#status', {hasText: 'Updated'}).waitFor();
    // Titles run to the window's edge, not to the design's 130 pixels.
    const titleWidth = await page.locator('#result0 td > div').first().evaluate((e) => e.getBoundingClientRect().width);
    assert.ok(titleWidth > 300, `the title's box is ${titleWidth} px wide`);

    // Tab reaches the bar, the rows and the pager, each with a name.
    const reached = [];
    await page.locator('body').focus();
    for (let i = 0; i < 30; i++) {
        await page.keyboard.press('Tab');
        reached.push(await page.evaluate(() => {
            const e = document.activeElement;
            return e.getAttribute('aria-label') || e.getAttribute('title') || e.textContent.trim() || e.querySelector('img')?.alt || '';
        }));
    }
    for (const name of ['Refresh', 'Settings', 'Details: ', 'Next page', 'Last page'])
        assert.ok(reached.some((text) => text.startsWith(name)), `${name} in ${reached.join(' | ')}`);
    assert.ok(!reached.includes(''), `every stop has a name: ${reached.join(' | ')}`);

    // Whatever is open, the pager and the status stay whole in the window, and nothing covers another's controls.
    const controlsInSight = () => page.evaluate(() => {
        const found = [];
        const controls = [...document.querySelectorAll('#refresh, #settings, #remindDefault, #next, #end, #status, #detailsClose, .banner-close, #remindMenuClose')];
        for (const element of controls) {
            if (!element.getClientRects().length) continue;
            const r = element.getBoundingClientRect();
            const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
            if (r.bottom > innerHeight + 0.5 || r.right > innerWidth + 0.5 || !element.contains(hit))
                found.push(`${element.id || element.className} at ${innerWidth}x${innerHeight}`);
        }
        const box = (selector) => document.querySelector(selector)?.getBoundingClientRect();
        const [banners, details] = [box('#banners:not([hidden])'), box('#details:not([hidden])')];
        if (banners && details && banners.bottom > details.top && details.bottom > banners.top &&
            banners.right > details.left && details.right > banners.left)
            found.push('a banner over the details');
        return found;
    });
    await page.locator('#remindDefault').click();
    await page.locator('#remindMenu').waitFor();
    await page.evaluate(async () => {
        const reminders = await import(new URL('js/reminders.mjs', location.href).href);
        reminders.showReminder({itemId: '1', title: 'A reminder whose title is long enough to take two lines of the banner',
                                price: 'US $1.00', timeLeft: '4m 10s', notified: true});
    });
    await page.locator('#result0 [role=button]').first().press('Enter');
    await page.locator('#details').waitFor();
    await page.locator('#detailsRemind').waitFor();
    for (const size of [...sizes, {width: 800, height: 500}]) {
        await atSize(page, size);
        assert.deepEqual(await controlsInSight(), [], `${size.width}x${size.height}`);
    }
    await atSize(page, sizes[0]);
    assert.deepEqual(await seriousFindings(page), [], 'the list, the menu, a banner and the details');

    // Escape closes the menu first, then the details, whose opener gets the focus back.
    await page.keyboard.press('Escape');
    await page.locator('#remindMenu').waitFor({state: 'hidden'});
    assert.ok(await page.locator('#details').isVisible());
    await page.locator('#detailsClose').focus();
    await page.keyboard.press('Escape');
    await page.locator('#details').waitFor({state: 'hidden'});
    assert.equal(await page.evaluate(() => document.activeElement.closest('.result')?.id), 'result0');
});
