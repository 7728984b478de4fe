// What the browser tests share: the real programs from the build (kova-sandbox, kova-gadget, kova-dat,
// kova-login) started on loopback, a fresh gadget directory per test, and Debian's Chromium.

import {spawn, execFileSync} from 'node:child_process';
import fs from 'node:fs';
import https from 'node:https';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import {chromium} from 'playwright-core';

export const sourceDir = process.env.KOVA_SOURCE_DIR ?? path.resolve(import.meta.dirname, '..');
export const binDir = process.env.KOVA_BIN_DIR ?? path.join(sourceDir, 'build/normal/bin');
export const gadgetBuildDir = process.env.KOVA_GADGET_BUILD_DIR ?? path.join(sourceDir, 'build/normal/gadget');
export const demoPassword = 'demo-password';

const cleanups = [];
// Registers work for cleanUp(), last in first out.
export function atCleanUp(work) {
    cleanups.push(work);
}
export async function cleanUp() {
    while (cleanups.length) {
        try {
            await cleanups.pop()();
        } catch (e) {
            console.error(`clean-up: ${e.message}`);
        }
    }
}

function tempDir(prefix) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
    atCleanUp(() => fs.rmSync(dir, {recursive: true, force: true}));
    return dir;
}

// Starts a program and waits for the first line it prints; it gets SIGTERM at clean-up.
async function startProgram(program, args, env = {}) {
    const child = spawn(path.join(binDir, program), args, {
        env: {...process.env, ...env},
        stdio: ['ignore', 'pipe', 'pipe'],
    });
    let stderr = '';
    child.stderr.on('data', (chunk) => (stderr += chunk));
    const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve(code ?? 128)));
    const lines = readline.createInterface({input: child.stdout});
    let timer;
    const firstLine = await Promise.race([
        new Promise((resolve) => lines.once('line', resolve)),
        exited.then((code) => Promise.reject(new Error(`${program} ended with ${code}: ${stderr}`))),
        new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`${program} printed nothing`)), 20000))),
    ]).finally(() => clearTimeout(timer));
    lines.on('line', () => {});
    const stop = async () => {
        if (child.exitCode !== null || child.signalCode !== null) return child.exitCode;
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
        const code = await exited;
        clearTimeout(timer);
        return code;
    };
    atCleanUp(stop);
    return {child, firstLine, stop, stderr: () => stderr};
}

// kova-sandbox with a fresh state folder: accounts as "NAME:COUNT".
export async function startSandbox(accounts = ['demo:12']) {
    const stateDir = tempDir('kova-sandbox-');
    const args = ['--state-dir', stateDir, '--port', '0'];
    for (const account of accounts) args.push('--account', account);
    const program = await startProgram('kova-sandbox', args);
    const url = program.firstLine.trim();
    if (!/^https:\/\/127\.0\.0\.1:\d+$/.test(url)) throw new Error(`kova-sandbox printed ${url}`);
    const ca = fs.readFileSync(path.join(stateDir, 'ca.pem'));
    const control = (route, body) =>
        new Promise((resolve, reject) => {
            const request = https.request(
                `${url}${route}`,
                {method: 'POST', ca, headers: {'Content-Type': 'application/json'}},
                (response) => {
                    let text = '';
                    response.on('data', (chunk) => (text += chunk));
                    response.on('end', () => {
                        if (response.statusCode !== 200) reject(new Error(`${route}: ${response.statusCode} ${text}`));
                        else resolve(JSON.parse(text));
                    });
                },
            );
            request.on('error', reject);
            request.end(JSON.stringify(body));
        });
    return {...program, url, caFile: path.join(stateDir, 'ca.pem'), control};
}

// A gadget directory as the demo lays it out: the built page, and a KovaDat.dat whose API and sign-in
// addresses point at the sandbox. seedUser saves that user's login data (and a fresh token unless
// withToken is false) through kova-login.
export async function makeGadgetDir(sandbox, {seedUser = 'demo', withToken = true} = {}) {
    const dir = tempDir('kova-gadget-');
    fs.cpSync(gadgetBuildDir, dir, {recursive: true, filter: (source) => path.basename(source) !== 'KovaDat.dat'});
    const xml = fs
        .readFileSync(path.join(sourceDir, 'gadget/KovaDat.xml'), 'utf8')
        .replace(/<LINKFETCHTOKENSIGNIN>.*<\/LINKFETCHTOKENSIGNIN>/,
                 `<LINKFETCHTOKENSIGNIN>${sandbox.url}/signin?runame=MYRUNAME&amp;SessID=USERSID</LINKFETCHTOKENSIGNIN>`)
        .replace(/<APIServerProduction>.*<\/APIServerProduction>/,
                 `<APIServerProduction>${sandbox.url}/ws/api.dll</APIServerProduction>`)
        .replace('<APIDevID></APIDevID>', '<APIDevID>KovaSandboxDev</APIDevID>')
        .replace('<APIAppID></APIAppID>', '<APIAppID>KovaSandboxApp</APIAppID>')
        .replace('<APICertID></APICertID>', '<APICertID>KovaSandboxCert</APICertID>')
        .replace(/<APICountRetryPostOnFail>\d+/, '<APICountRetryPostOnFail>1');
    const xmlFile = path.join(dir, 'KovaDat.xml');
    fs.writeFileSync(xmlFile, xml);
    execFileSync(path.join(binDir, 'kova-dat'), ['pack', xmlFile, path.join(dir, 'KovaDat.dat')]);
    fs.rmSync(xmlFile);
    if (seedUser) {
        const args = ['--gadget-dir', dir, '--user', seedUser, '--password', '-'];
        let input = `${demoPassword}\n`;
        if (withToken) {
            const {token} = await sandbox.control('/sandbox/token', {username: seedUser});
            args.push('--token', '-');
            input += `${token}\n`;
        }
        execFileSync(path.join(binDir, 'kova-login'), args, {input});
    }
    return dir;
}

// kova-gadget on the directory, trusting the sandbox's CA: {url (with the secret), origin, secret, ...}.
// Without a --browser of the caller's it opens nothing; env adds to its environment.
export async function startGadget(dir, sandbox, extraArgs = [], env = {}) {
    const program = await startProgram(
        'kova-gadget',
        [...(extraArgs.includes('--browser') ? [] : ['--no-browser']), '--port', '0', '--gadget-dir', dir, ...extraArgs],
        {KOVA_EXTRA_CA_FILE: sandbox.caFile, ...env},
    );
    const match = /^KovaGadget: (http:\/\/127\.0\.0\.1:(\d+))\/#(\S+)$/.exec(program.firstLine.trim());
    if (!match) throw new Error(`kova-gadget printed ${program.firstLine}`);
    return {...program, url: `${match[1]}/#${match[3]}`, origin: match[1], port: Number(match[2]), secret: match[3]};
}

// A sandbox, a gadget directory and a host in one step.
export async function startAll(options = {}) {
    const sandbox = await startSandbox(options.accounts);
    const dir = await makeGadgetDir(sandbox, options);
    const gadget = await startGadget(dir, sandbox);
    return {sandbox, dir, gadget};
}

let browser = null;
export async function launchBrowser() {
    browser ??= await chromium.launch({
        executablePath: process.env.KOVA_CHROMIUM ?? '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'],
    });
    return browser;
}
export async function closeBrowser() {
    await browser?.close();
    browser = null;
}

// Pictures from anywhere but this machine are drawn here: the tests never leave loopback.
function stubPicture(url) {
    let hash = 0;
    for (const c of url) hash = (hash * 31 + c.charCodeAt(0)) >>> 0;
    const hue = hash % 360;
    return `<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><rect width="64" height="64" fill="hsl(${hue},55%,62%)"/><circle cx="32" cy="26" r="12" fill="hsl(${hue},60%,88%)"/><rect x="12" y="42" width="40" height="10" rx="4" fill="hsl(${hue},60%,88%)"/></svg>`;
}

// A new browser context and page on the gadget; the sandbox's own CA is not the browser's, so its sign-in
// page is accepted as the demo's user accepts it.
// With open false the page is left blank, for routes of the caller's before it goes to the gadget.
export async function openGadget(gadget, {viewport = {width: 480, height: 420}, open = true} = {}) {
    const context = await (await launchBrowser()).newContext({ignoreHTTPSErrors: true, viewport});
    atCleanUp(() => context.close());
    await context.route(
        (url) => !['127.0.0.1', 'localhost'].includes(url.hostname),
        (route) =>
            route.request().resourceType() === 'image'
                ? route.fulfill({contentType: 'image/svg+xml', body: stubPicture(route.request().url())})
                : route.abort(),
    );
    const page = await context.newPage();
    page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
    if (open) await page.goto(gadget.url);
    return {context, page};
}

// One raw HTTP exchange with the host, headers exactly as given (Host and Origin included).
export function rawRequest(port, {method = 'GET', target = '/', headers = {}, body = null}) {
    return new Promise((resolve, reject) => {
        const request = http.request({host: '127.0.0.1', port, method, path: target, headers, setHost: false}, (response) => {
            let text = '';
            response.on('data', (chunk) => (text += chunk));
            response.on('end', () => resolve({status: response.statusCode, headers: response.headers, body: text}));
        });
        request.on('error', reject);
        if (body !== null) request.write(body);
        request.end();
    });
}

// The page's list as a person reads it: one entry per item block.
export async function listedItems(page) {
    return page.locator('#results .result').evaluateAll((blocks) =>
        blocks.map((block) => ({id: block.id, text: block.innerText.replace(/\s+/g, ' ').trim()})),
    );
}

// Pairs of visible controls of the open form whose drawn boxes overlap, apart from a box and those it holds.
export function overlappingControls(page, formName) {
    return page.evaluate((name) => {
        const controls = [...document.querySelectorAll(`.form-layer[data-form-name=${name}] .form-client [data-name]`)].filter(
            (element) => element.getClientRects().length > 0,
        );
        const found = [];
        controls.forEach((a, i) =>
            controls.slice(i + 1).forEach((b) => {
                if (a.contains(b) || b.contains(a)) return;
                const ra = a.getBoundingClientRect();
                const rb = b.getBoundingClientRect();
                if (ra.left < rb.right && rb.left < ra.right && ra.top < rb.bottom && rb.top < ra.bottom)
                    found.push(`${a.dataset.name} and ${b.dataset.name}`);
            }),
        );
        return found;
    }, formName);
}

// Labels of the open form whose text does not fit in what is drawn of them (cut off), or that reach out of
// the form's client area.
export function cutLabels(page, formName) {
    return page.evaluate((name) => {
        const client = document.querySelector(`.form-layer[data-form-name=${name}] .form-client`);
        const bounds = client.getBoundingClientRect();
        return [...client.querySelectorAll('.c-label')]
            .filter((label) => label.getClientRects().length > 0 && label.textContent.trim())
            .filter((label) => {
                const r = label.getBoundingClientRect();
                return label.scrollHeight > label.clientHeight + 1 || r.bottom > bounds.bottom + 0.5;
            })
            .map((label) => label.dataset.name);
    }, formName);
}
