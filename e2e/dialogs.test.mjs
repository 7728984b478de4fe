// The dialogs drawn in the page: a new user's first run through the login data dialog, the authorisation
// wizard and the sandbox's sign-in page; the options dialog changing how the list refreshes and marks bids.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import {
    cleanUp,
    closeBrowser,
    demoPassword,
    listedItems,
    openGadget,
    overlappingControls,
    sourceDir,
    startAll,
} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const form = (page, name) => page.locator(`.form-layer[data-form-name=${name}]`);
const component = (page, formName, name) => form(page, formName).locator(`[data-name=${name}]`);

// Records every event the host sends to the page, from a stream of its own in the page.
async function recordStream(page, gadget) {
    await page.evaluate((secret) => {
        window.kovaStream = [];
        const source = new EventSource(`/api/events?s=${secret}`);
        for (const name of ['forms', 'openurl', 'message']) source.addEventListener(name, (event) => window.kovaStream.push(event.data));
    }, gadget.secret);
    return () => page.evaluate(() => window.kovaStream.join('\n'));
}

test('a new user signs in through the login data dialog, the wizard and the sign-in page, then sees the list', async () => {
    const {gadget} = await startAll({accounts: ['demo:6'], seedUser: null});
    // The app window's page.
    const {context, page} = await openGadget(gadget, {viewport: {width: 520, height: 394}});
    const streamed = await recordStream(page, gadget);

    const login = form(page, 'frmEbayLogInData');
    await login.waitFor();
    assert.match(await login.locator('.form-caption').innerText(), /My eBay - LogIn Data/);
    const ok = login.getByRole('button', {name: 'OK', exact: true});
    assert.ok(await ok.isDisabled(), 'OK waits for a user name and a password');
    // The dialog opens with the user name focused, and Tab follows the designed order.
    await page.waitForFunction(() => document.activeElement?.dataset.name === 'edteBayUsername');
    await page.keyboard.type('demo');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.name), 'edtEbayPassword');
    await page.keyboard.type('my Pa55word');
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmEbayLogInData] [data-name=edtEbayPassword]').kovaPending);
    assert.equal(await component(page, 'frmEbayLogInData', 'edtEbayPassword').getAttribute('type'), 'password');
    // The host's redraws keep what was typed, and the stream never carried it.
    assert.equal(await component(page, 'frmEbayLogInData', 'edtEbayPassword').inputValue(), 'my Pa55word');
    assert.match(await streamed(), /"textLength":11/);
    assert.doesNotMatch(await streamed(), /Pa55/);
    await component(page, 'frmEbayLogInData', 'cmbxEbayLoginDataAction').selectOption('Save data (encrypted)');
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmEbayLogInData] [data-name=btnOk]').disabled);
    if (process.env.KOVA_UPDATE_SCREENSHOTS) await page.screenshot({path: path.join(sourceDir, 'docs/gadget-login.png')});
    await ok.click();
    await login.waitFor({state: 'detached'});

    const wizard = form(page, 'frmKovaGadgetAuthorize');
    await wizard.waitFor();
    const signInTab = context.waitForEvent('page');
    await wizard.getByRole('button', {name: 'Authorize on eBay'}).click();
    const signIn = await signInTab;
    await signIn.waitForLoadState();
    assert.match(signIn.url(), /\/signin\?/);
    await signIn.locator('#username').fill('demo');
    await signIn.getByRole('button', {name: 'I agree'}).click();
    await signIn.getByText('You have signed in as').waitFor();
    await signIn.close();

    await wizard.getByRole('button', {name: 'Verify Now'}).click();
    await wizard.getByText('Authorization of the program was completed successfully.').waitFor();
    await wizard.getByRole('button', {name: 'Close', exact: true}).click();
    await wizard.waitFor({state: 'detached'});

    await page.waitForFunction(() => document.getElementById('pageNumber')?.textContent.trim() === '1/2');
    assert.equal((await listedItems(page)).length, 5);
    assert.doesNotMatch(await streamed(), /Pa55/);
});

// Holds the page's form actions that match until released; settled() waits until every one sent has its
// answer.
async function holdFormActions(page, matches) {
    let release;
    const released = new Promise((resolve) => (release = resolve));
    let open = 0;
    page.on('request', (request) => request.url().endsWith('/api/form') && open++);
    page.on('requestfinished', (request) => request.url().endsWith('/api/form') && open--);
    await page.route('**/api/form', async (route) => {
        if (matches(route.request().postDataJSON())) await released;
        await route.continue();
    });
    const settled = () => until(async () => open === 0);
    return {release, settled};
}

async function until(test) {
    while (!(await test())) await new Promise((resolve) => setTimeout(resolve, 20));
}

test('an older redraw of the host never takes a typed value or the caret from the user', async () => {
    const {gadget} = await startAll({accounts: ['demo:6'], seedUser: null});
    const {page} = await openGadget(gadget, {viewport: {width: 640, height: 480}});
    const streamed = await recordStream(page, gadget);
    const login = form(page, 'frmEbayLogInData');
    await page.waitForFunction(() => document.activeElement?.dataset.name === 'edteBayUsername');
    const focused = () => page.evaluate(() => document.activeElement?.dataset.name);
    const value = (name) => component(page, 'frmEbayLogInData', name).inputValue();
    const hostForm = async () => JSON.parse((await streamed()).split('\n').at(-1)).forms[0];

    // The user name is held on its way while the user goes on, and another page of the host chooses to save:
    // that redraw does not know the name yet and must not empty the field.
    let held = await holdFormActions(page, (a) => a.action === 'text' && a.name === 'edteBayUsername');
    await page.keyboard.type('demo');
    await page.keyboard.press('Tab');
    await page.evaluate(async ({id, secret}) => {
        const body = JSON.stringify({id, action: 'select', name: 'cmbxEbayLoginDataAction', value: 1});
        await (await fetch('/api/form', {method: 'POST', headers: {'Content-Type': 'application/json', 'X-Kova-Secret': secret}, body})).json();
    }, {id: Number(await login.getAttribute('data-form-id')), secret: gadget.secret});
    await page.waitForFunction(() => document.querySelector('[data-name=cmbxEbayLoginDataAction]').selectedIndex === 1);
    assert.equal(await value('edteBayUsername'), 'demo');
    held.release();
    await held.settled();
    await page.unrouteAll();

    // The step to the save choice is held while the user goes on to OK: its answer must not pull the caret
    // back, or the next keys would land in the field the user has left.
    await page.keyboard.type('Pa55');
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmEbayLogInData] [data-name=btnOk]').disabled);
    held = await holdFormActions(page, (a) => a.action === 'focus' && a.name === 'cmbxEbayLoginDataAction');
    await page.keyboard.press('Tab');
    await page.keyboard.press('Tab');
    await page.evaluate(() => {
        window.kovaFocusMoves = [];
        document.addEventListener('focusin', (event) => window.kovaFocusMoves.push(event.target.dataset.name));
    });
    held.release();
    await held.settled();
    await until(async () => (await hostForm()).activeControl === 'btnOk');
    await page.waitForTimeout(200); // for the page's own stream to draw the same events
    assert.deepEqual(await page.evaluate(() => window.kovaFocusMoves), []);
    assert.equal(await focused(), 'btnOk');
    assert.deepEqual([await value('edteBayUsername'), await value('edtEbayPassword')], ['demo', 'Pa55']);
    const host = await hostForm();
    assert.deepEqual(host.components.filter((c) => c.kind === 'edit').map((c) => c.text ?? c.textLength), ['demo', 4]);
});

test('a sign-in that fails says why under the wizard\'s own texts, and no control covers another', async () => {
    const {sandbox, gadget} = await startAll({accounts: ['demo:6'], withToken: false});
    const {context, page} = await openGadget(gadget, {viewport: {width: 640, height: 480}});
    const wizard = form(page, 'frmKovaGadgetAuthorize');
    await wizard.waitFor();
    assert.deepEqual(await overlappingControls(page, 'frmKovaGadgetAuthorize'), []);

    // eBay is slow to hand out the session: the bar runs beside the disabled button without covering it.
    await sandbox.control('/sandbox/fault', {call: 'GetSessionID', kind: 'delay', ms: 1500});
    const signInTab = context.waitForEvent('page');
    await wizard.getByRole('button', {name: 'Authorize on eBay'}).click();
    await component(page, 'frmKovaGadgetAuthorize', 'FProgressBar').waitFor();
    assert.ok(await wizard.getByRole('button', {name: 'Authorize on eBay'}).isDisabled());
    assert.deepEqual(await overlappingControls(page, 'frmKovaGadgetAuthorize'), []);
    await (await signInTab).close();

    await sandbox.control('/sandbox/fault', {call: 'FetchToken', kind: 'status', status: 503});
    await wizard.getByRole('button', {name: 'Verify Now'}).click();
    await wizard.getByText('Authorization not completed.').waitFor();
    await wizard.getByText('The program was not properly authorized.', {exact: false}).waitFor();
    const cause = component(page, 'frmKovaGadgetAuthorize', 'lblFailureCause');
    assert.match(await cause.innerText(), /^Reason: Internet error! .*Service unavailable/i);
    assert.deepEqual(await overlappingControls(page, 'frmKovaGadgetAuthorize'), []);
});

test('the options dialog changes the refresh interval and the high-bidder marks', async () => {
    const {gadget} = await startAll({accounts: ['demo:8']});
    const {page} = await openGadget(gadget, {viewport: {width: 640, height: 480}});
    await page.waitForFunction(() => document.getElementById('pageNumber')?.textContent.trim() === '1/2');
    const winner = page.locator(`#${await page.locator('#results .result.winner').first().getAttribute('id')}`);
    assert.doesNotMatch(await page.locator('#status').innerText(), /every/);

    const options = form(page, 'frmKovaGadgetOptions');
    await page.getByRole('button', {name: 'Settings'}).click();
    await options.getByRole('button', {name: 'Close window'}).click();
    await options.waitFor({state: 'detached'});

    const streamed = await recordStream(page, gadget);
    await page.getByRole('button', {name: 'Settings'}).click();
    await options.waitFor();
    assert.equal(await options.locator('.form-caption').innerText(), 'Settings Lumetra');
    // The saved password shows as marks of its length; what the user types replaces it as a whole.
    const password = component(page, 'frmKovaGadgetOptions', 'edtEbayPassword');
    assert.equal((await password.inputValue()).length, demoPassword.length);
    assert.ok(!(await password.inputValue()).includes(demoPassword));
    await password.press('End');
    await password.press('Backspace');
    await password.pressSequentially('n3w');
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmKovaGadgetOptions] [data-name=edtEbayPassword]').kovaPending);
    assert.equal(await password.inputValue(), 'n3w');
    assert.doesNotMatch(await streamed(), new RegExp(demoPassword));
    await component(page, 'frmKovaGadgetOptions', 'chckbxAutoRefresh').locator('input').check();
    const interval = component(page, 'frmKovaGadgetOptions', 'cmbxRefreshTime').locator('input');
    await page.waitForFunction(
        () => !document.querySelector('[data-form-name=frmKovaGadgetOptions] [data-name=cmbxRefreshTime] input').disabled,
    );
    await interval.fill('20');
    await component(page, 'frmKovaGadgetOptions', 'chckbxMarkHighbidder').locator('input').uncheck();
    await options.getByRole('button', {name: 'OK', exact: true}).click();
    await options.waitFor({state: 'detached'});

    // The host's plan: the interval, or once a minute while one of the sandbox's auctions is about to end.
    await page.locator('#status', {hasText: /every (20 min|min: auction ending)/}).waitFor();
    await page.waitForFunction(() => document.querySelectorAll('#results .result.winner').length === 0);
    assert.match(await winner.evaluate((e) => e.style.backgroundImage), /result\.png/);
});
