// The host opens the browser on its start page, never on the address with the secret: the page, opened from
// its file as a browser would, forwards to the gadget with the secret, by script and without it.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import {atCleanUp, binDir, cleanUp, closeBrowser, launchBrowser, listedItems, makeGadgetDir, startSandbox} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

function privateDir(prefix) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
    atCleanUp(() => fs.rmSync(dir, {recursive: true, force: true}));
    return dir;
}

// kova-gadget as a user starts it, with a stand-in opener first on PATH that notes its arguments.
async function startGadgetWithBrowser(dir, sandbox) {
    const bin = privateDir('kova-opener-');
    const runtime = privateDir('kova-runtime-');
    fs.writeFileSync(path.join(bin, 'xdg-open'), '#!/bin/sh\nprintf \'%s\\n\' "$@" > "$(dirname "$0")/args.part"\n' +
                     'mv "$(dirname "$0")/args.part" "$(dirname "$0")/args"\n', {mode: 0o700});
    const child = spawn(path.join(binDir, 'kova-gadget'), ['--port', '0', '--gadget-dir', dir, '--browser', 'tab'], {
        env: {...process.env, PATH: `${bin}:${process.env.PATH}`, XDG_RUNTIME_DIR: runtime,
              KOVA_EXTRA_CA_FILE: sandbox.caFile},
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
    const argsFile = path.join(bin, 'args');
    for (const end = Date.now() + 20000; !fs.existsSync(argsFile) && Date.now() < end;)
        await new Promise((resolve) => setTimeout(resolve, 20));
    const args = fs.readFileSync(argsFile, 'utf8').trimEnd().split('\n');
    const stop = () => child.kill('SIGTERM') && exited;
    return {origin: match[1], secret: match[2], args, runtime, stop};
}

test('the start page forwards the browser to the gadget with its secret, with and without script', async () => {
    const sandbox = await startSandbox(['demo:7']);
    const dir = await makeGadgetDir(sandbox);
    const gadget = await startGadgetWithBrowser(dir, sandbox);
    assert.equal(gadget.args.length, 1);
    assert.ok(!gadget.args[0].includes(gadget.secret), `the opener's arguments hold no secret: ${gadget.args[0]}`);
    const startPage = gadget.args[0];
    assert.ok(startPage.startsWith(`file://${gadget.runtime}/kova-gadget/`), startPage);

    for (const javaScriptEnabled of [true, false]) {
        const context = await (await launchBrowser()).newContext({javaScriptEnabled});
        atCleanUp(() => context.close());
        await context.route((url) => url.protocol.startsWith('http') && url.hostname !== '127.0.0.1',
                            (route) => route.abort());
        const referrers = [];
        context.on('request', (request) => {
            if (request.isNavigationRequest()) referrers.push(request.headers()['referer'] ?? '');
        });
        const page = await context.newPage();
        await page.goto(startPage);
        await page.waitForURL(`${gadget.origin}/#${gadget.secret}`);
        assert.deepEqual(referrers.filter(Boolean), [], `no navigation names where it came from (script ${javaScriptEnabled})`);
        if (javaScriptEnabled) {
            await page.waitForFunction(() => document.querySelectorAll('#results .result').length > 0);
            assert.equal((await listedItems(page)).length, 5, 'the gadget, with its secret, shows the list');
            assert.equal(await page.evaluate(() => location.hash), `#${gadget.secret}`);
        }
    }

    const file = new URL(startPage).pathname;
    assert.ok(fs.existsSync(file));
    assert.equal(await gadget.stop(), 0);
    assert.ok(!fs.existsSync(file), 'the start page goes with the host');
});
