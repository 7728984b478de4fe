// A new user of an OAuth application: the gadget as the build ships it (no application keys) asks for the
// keys in the page, then the wizard opens eBay's consent page in a second tab, the user pastes the address of
// the page eBay shows after they agreed, and the list loads.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
    atCleanUp, binDir, cleanUp, closeBrowser, cutLabels, gadgetBuildDir, listedItems, openGadget, overlappingControls, sourceDir,
    startGadget, startSandbox,
} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const form = (page, name) => page.locator(`.form-layer[data-form-name=${name}]`);
const component = (page, formName, name) => form(page, formName).locator(`[data-name=${name}]`);
const ruName = 'KovaGadget-KovaGadg-KovaSan-qzvnmbwa';

// The shipped application data pointed at the sandbox, without keys or RuName, as a new user has them.
function gadgetDirWithoutKeys(sandbox) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-gadget-'));
    atCleanUp(() => fs.rmSync(dir, {recursive: true, force: true}));
    fs.cpSync(gadgetBuildDir, dir, {recursive: true, filter: (source) => path.basename(source) !== 'KovaDat.dat'});
    const xml = fs
        .readFileSync(path.join(sourceDir, 'gadget/KovaDat.xml'), 'utf8')
        .replace(/<APIServerProduction>.*<\/APIServerProduction>/, `<APIServerProduction>${sandbox.url}/ws/api.dll</APIServerProduction>`)
        .replace('</KOVADAT>', `<SIGNIN><OAUTHCONSENTURL>${sandbox.url}/oauth2/authorize</OAUTHCONSENTURL>` +
                 `<OAUTHTOKENURL>${sandbox.url}/identity/v1/oauth2/token</OAUTHTOKENURL>` +
                 `<OAUTHIDENTITYURL>${sandbox.url}/commerce/identity/v1/user/</OAUTHIDENTITYURL></SIGNIN></KOVADAT>`);
    const xmlFile = path.join(dir, 'KovaDat.xml');
    fs.writeFileSync(xmlFile, xml);
    execFileSync(path.join(binDir, 'kova-dat'), ['pack', xmlFile, path.join(dir, 'KovaDat.dat')]);
    fs.rmSync(xmlFile);
    return dir;
}

test('a new user types the keys, agrees on the consent page, pastes its address and sees the list', async () => {
    const sandbox = await startSandbox(['demo:6']);
    const dir = gadgetDirWithoutKeys(sandbox);
    const gadget = await startGadget(dir, sandbox);
    const {context, page} = await openGadget(gadget, {viewport: {width: 640, height: 480}});
    const warnings = [];
    page.on('console', (message) => message.type() === 'warning' && warnings.push(message.text()));

    const keys = form(page, 'frmKovaApplicationKeys');
    await keys.waitFor();
    assert.match(await keys.locator('.form-caption').innerText(), /eBay application keys/);
    await keys.getByText('Application Keysets', {exact: false}).waitFor();
    assert.deepEqual(await overlappingControls(page, 'frmKovaApplicationKeys'), []);
    assert.equal(await component(page, 'frmKovaApplicationKeys', 'edtCertID').getAttribute('type'), 'password');
    // Typed as fast as the browser takes it, and OK at once: the click goes out behind the typed keys.
    await component(page, 'frmKovaApplicationKeys', 'edtDevID').fill('KovaSandboxDev');
    await component(page, 'frmKovaApplicationKeys', 'edtAppID').fill('KovaSandboxApp');
    await component(page, 'frmKovaApplicationKeys', 'edtCertID').fill('KovaSandboxCert');
    await component(page, 'frmKovaApplicationKeys', 'edtRuName').fill(ruName);
    await keys.getByRole('button', {name: 'OK', exact: true}).click();
    try {
        await keys.waitFor({state: 'detached', timeout: 30000});
    } catch (e) {
        const values = await keys.locator('input').evaluateAll((inputs) => inputs.map((i) => `${i.dataset.name}=${i.value}`));
        assert.fail(`the keys form is still open after OK: ${await keys.innerText().catch(() => '?')} ` +
                    `(the page shows ${values.join(', ')}; it warned: ${warnings.join(' | ') || 'nothing'})`);
    }
    assert.equal(fs.statSync(path.join(dir, 'KovaDat.dat')).mode & 0o777, 0o600);
    assert.match(execFileSync(path.join(binDir, 'kova-dat'), ['show', path.join(dir, 'KovaDat.dat')], {encoding: 'utf8'}),
                 /\nAPICertID=KovaSandboxCert\nAPIAppID=KovaSandboxApp\nAPIDevID=KovaSandboxDev\n[^]*\nSIGNINKIND=oauth\n[^]*\nRUNAME=KovaGadget-KovaGadg-KovaSan-qzvnmbwa\n/);

    const login = form(page, 'frmEbayLogInData');
    await login.waitFor();
    await component(page, 'frmEbayLogInData', 'edteBayUsername').fill('demo');
    await component(page, 'frmEbayLogInData', 'edtEbayPassword').fill('any password');
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmEbayLogInData] [data-name=btnOk]').disabled);
    await login.getByRole('button', {name: 'OK', exact: true}).click();
    await login.waitFor({state: 'detached'});

    const wizard = form(page, 'frmKovaGadgetAuthorize');
    await wizard.waitFor();
    const consentTab = context.waitForEvent('page');
    await wizard.getByRole('button', {name: 'Authorize on eBay'}).click();
    const consent = await consentTab;
    await consent.waitForLoadState();
    assert.match(consent.url(), /\/oauth2\/authorize\?client_id=KovaSandboxApp&redirect_uri=KovaGadget-[^&]+&response_type=code&scope=[^&]+&state=[0-9A-F-]{36}$/);
    await consent.locator('#username').fill('demo');
    await consent.getByRole('button', {name: 'I agree'}).click();
    await consent.getByText('Copy the address of this page', {exact: false}).waitFor();
    const landing = consent.url();
    assert.match(landing, /\/oauth2\/accepted\?state=.*&code=v%5E1\.1%23.*&expires_in=299$/);
    await consent.close();

    await wizard.getByText('Paste the address of the page eBay showed after you agreed').waitFor();
    assert.deepEqual(await overlappingControls(page, 'frmKovaGadgetAuthorize'), []);
    // The address of another sign-in: the wizard's reason shows whole, and Retry leads back to the field.
    const landingField = component(page, 'frmKovaGadgetAuthorize', 'edtLandingAddress');
    await landingField.fill(landing.replace(/state=[^&]+/, 'state=00000000-0000-0000-0000-000000000000'));
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmKovaGadgetAuthorize] [data-name=edtLandingAddress]').kovaPending);
    await wizard.getByRole('button', {name: 'Verify Now'}).click();
    await wizard.getByText('belongs to another sign-in', {exact: false}).waitFor();
    assert.deepEqual(await cutLabels(page, 'frmKovaGadgetAuthorize'), []);
    assert.deepEqual(await overlappingControls(page, 'frmKovaGadgetAuthorize'), []);
    await wizard.getByRole('button', {name: 'Retry'}).click();
    await wizard.getByText('Paste the address of the page eBay showed after you agreed').waitFor();
    await component(page, 'frmKovaGadgetAuthorize', 'edtLandingAddress').fill(landing);
    await page.waitForFunction(() => !document.querySelector('[data-form-name=frmKovaGadgetAuthorize] [data-name=edtLandingAddress]').kovaPending);
    await wizard.getByRole('button', {name: 'Verify Now'}).click();
    await wizard.getByText('Authorization of the program was completed successfully.').waitFor();
    await wizard.getByRole('button', {name: 'Close', exact: true}).click();
    await wizard.waitFor({state: 'detached'});

    await page.waitForFunction(() => document.getElementById('pageNumber')?.textContent.trim() === '1/2');
    assert.equal((await listedItems(page)).length, 5);
});
