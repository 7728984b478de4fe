// The host's own window: kova-gadget finds Chromium on PATH, opens its start page as an app window, the
// window shows the list, and when the window is closed the host ends by itself with the list saved.

import {afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import {chromium} from 'playwright-core';
import {atCleanUp, binDir, cleanUp, makeGadgetDir, startSandbox} from './support.mjs';

afterEach(cleanUp);

function privateDir(prefix) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
    atCleanUp(() => fs.rmSync(dir, {recursive: true, force: true}));
    return dir;
}

async function freePort() {
    const server = net.createServer().listen(0, '127.0.0.1');
    await new Promise((resolve) => server.once('listening', resolve));
    const {port} = server.address();
    await new Promise((resolve) => server.close(resolve));
    return port;
}

// Chromium as the host starts it, without a display here and open to this test over its debugging port; the
// stand-in on PATH notes the arguments it was given.
async function chromiumOnPath() {
    const bin = privateDir('kova-bin-');
    const debugPort = await freePort();
    const chromiumProgram = process.env.KOVA_CHROMIUM ?? '/usr/bin/chromium';
    fs.writeFileSync(path.join(bin, 'chromium'),
                     `#!/bin/sh\nprintf '%s\\n' "$@" > "$(dirname "$0")/args"\necho $$ > "$(dirname "$0")/pid"\n` +
                     `exec ${chromiumProgram} --headless=new --no-sandbox --disable-gpu ` +
                     `--remote-debugging-port=${debugPort} "$@"\n`, {mode: 0o700});
    const stub = {bin, args: () => fs.readFileSync(path.join(bin, 'args'), 'utf8').trimEnd().split('\n')};
    // The window's browser once it answers, and the page the start page forwarded it to.
    stub.connect = async (origin) => {
        let browser = null;
        for (const end = Date.now() + 20000; !browser && Date.now() < end;) {
            browser = await chromium.connectOverCDP(`http://127.0.0.1:${debugPort}`).catch(() => null);
            if (!browser) await new Promise((resolve) => setTimeout(resolve, 200));
        }
        assert.ok(browser, 'the app window\'s browser answers');
        stub.pid = Number(fs.readFileSync(path.join(bin, 'pid'), 'utf8'));
        atCleanUp(() => {
            try {
                process.kill(-stub.pid, 'SIGKILL');
            } catch {}
        });
        let page = null;
        for (const end = Date.now() + 20000; !page && Date.now() < end;) {
            page = browser.contexts().flatMap((context) => context.pages()).find((p) => p.url().startsWith(origin));
            if (!page) await new Promise((resolve) => setTimeout(resolve, 100));
        }
        assert.ok(page, 'the start page forwarded the window to the gadget');
        return {browser, page};
    };
    return stub;
}

test('the app window shows the list, and the host ends a grace after the window is closed', async () => {
    const sandbox = await startSandbox(['demo:5']);
    const dir = await makeGadgetDir(sandbox);
    const home = privateDir('kova-home-');
    const runtime = privateDir('kova-runtime-');
    const stub = await chromiumOnPath();
    const child = spawn(path.join(binDir, 'kova-gadget'), ['--port', '0', '--gadget-dir', dir], {
        env: {...process.env, PATH: `${stub.bin}:/usr/bin:/bin`, HOME: home, XDG_CONFIG_HOME: path.join(home, 'config'),
              XDG_RUNTIME_DIR: runtime, KOVA_GADGET_WINDOW_GRACE_MS: '1500', KOVA_EXTRA_CA_FILE: sandbox.caFile},
        stdio: ['ignore', 'pipe', 'inherit'],
    });
    const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve(code ?? signal)));
    atCleanUp(async () => {
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
        await exited;
    });
    const line = await new Promise((resolve) => readline.createInterface({input: child.stdout}).once('line', resolve));
    const match = /^KovaGadget: (http:\/\/127\.0\.0\.1:\d+)\/#(\S+)$/.exec(line);
    assert.ok(match, `kova-gadget printed ${line}`);
    const [, origin, secret] = match;

    const {browser, page} = await stub.connect(origin);
    const args = stub.args();
    assert.ok(args[0].startsWith(`--app=file://${runtime}/kova-gadget/start-`), args[0]);
    assert.ok(args.includes('--window-size=520,450') && args.includes('--class=kova-gadget'), args.join(' '));
    assert.ok(args.every((arg) => !arg.includes(secret)), 'no argument holds the secret');
    await page.waitForFunction(() => document.querySelectorAll('#results .result').length === 5, null, {timeout: 30000});
    await browser.close();

    // Closing the window: the browser's whole session ends, as when the user closes it.
    const closed = Date.now();
    process.kill(-stub.pid, 'SIGTERM');
    const code = await Promise.race([exited, new Promise((resolve) => setTimeout(() => resolve('still running'), 20000))]);
    assert.equal(code, 0, 'the host ended by itself, cleanly');
    assert.ok(Date.now() - closed >= 1000, 'not before its grace');
    assert.ok(fs.existsSync(path.join(dir, 'watchlist.dat')), 'the list was saved');
});

test('the demo\'s own window shows the sandbox\'s pictures without a certificate step', async () => {
    const home = privateDir('kova-home-');
    const stub = await chromiumOnPath();
    // As the menu's second action starts it: no CA file of the tests', a home of its own.
    const env = {...process.env, PATH: `${stub.bin}:/usr/bin:/bin`, HOME: home, XDG_CONFIG_HOME: path.join(home, 'config'),
                 XDG_DATA_HOME: path.join(home, 'data'), XDG_RUNTIME_DIR: privateDir('kova-runtime-'), TMPDIR: home};
    delete env.KOVA_EXTRA_CA_FILE;
    const child = spawn(path.join(binDir, 'kova-gadget'), ['--demo', '--items', '3', '--port', '0'],
                        {env, stdio: ['ignore', 'ignore', 'ignore']});
    const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve(code ?? signal)));
    atCleanUp(async () => {
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
        await exited;
    });
    const {browser, page} = await stub.connect('http://127.0.0.1');
    // A profile of the demo's own, which trusts the sandbox's key alone.
    const args = stub.args().join(' ');
    assert.match(args, /--ignore-certificate-errors-spki-list=[A-Za-z0-9+/]{43}=( |$)/);
    assert.ok(args.includes(`--user-data-dir=${home}/kova-demo.`), args);
    await page.waitForFunction(() => document.querySelectorAll('#results .result').length === 3, null, {timeout: 30000});
    const pictures = await page.waitForFunction(() => {
        const images = [...document.querySelectorAll('#results img[width="21"]')];
        return images.length === 3 && images.every((image) => image.complete) &&
            images.map((image) => ({src: image.src, width: image.naturalWidth}));
    }, null, {timeout: 20000}).then((handle) => handle.jsonValue());
    // Items without a picture show the design's blank; none shows the placeholder of a picture that failed.
    const fromSandbox = pictures.filter((picture) => /^https:\/\/127\.0\.0\.1:\d+\//.test(picture.src));
    assert.ok(fromSandbox.length > 0 && fromSandbox.every((picture) => picture.width > 0), JSON.stringify(pictures));
    assert.ok(pictures.every((picture) => !picture.src.endsWith('noPicture.png')), JSON.stringify(pictures));
    assert.ok(await page.locator('#pictureHint').isHidden(), 'no certificate hint');
    await browser.close();
});
