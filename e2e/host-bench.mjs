// The host's start and memory for bench/report.sh, measured in one run against the sandbox and printed as
// one JSON object:
// - memory: kova-gadget's resident set (VmRSS, and its peak VmHWM) and private dirty memory (Private_Dirty of
//   /proc/PID/smaps_rollup) once a 400-item load through POST /api/call has ended; one fresh host per
//   sample; beside it the same of kova-bare-fetch, which links the same libraries and makes one HTTPS fetch;
// - cold start: kova-gadget started on a folder whose "watchlist.dat" holds those 400 items, until the first
//   row of the list is painted in headless Chromium, against Chromium painting a static copy of the same page
//   with the same fragment from a plain file server. Each sample has a fresh browser context; the two kinds
//   take turns, so that a busy moment of the machine falls on both.
// A time runs from the host's spawn (cold start) or from the navigation (static copy) to the end of the frame
// that first holds a row, both read on the same clock.
//
// usage: node host-bench.mjs [--repetitions N] [--memory-samples N]
// Programs come from KOVA_BIN_DIR and the page from KOVA_GADGET_BUILD_DIR, as for the browser tests.

import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {parseArgs} from 'node:util';
import {
    atCleanUp, binDir, cleanUp, closeBrowser, launchBrowser, makeGadgetDir, rawRequest, startGadget, startSandbox,
} from './support.mjs';

const Items = 400;

const {values: options} = parseArgs({
    options: {'repetitions': {type: 'string', default: '9'}, 'memory-samples': {type: 'string', default: '3'}},
});
const repetitions = Number(options.repetitions);
const memorySamples = Number(options['memory-samples']);
if (!(repetitions > 0) || !(memorySamples > 0)) throw new Error('--repetitions and --memory-samples need a positive number');

const now = () => performance.timeOrigin + performance.now();
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One control call with the page's headers.
async function call(gadget, member, kind = 'method', args = []) {
    const answer = await rawRequest(gadget.port, {
        method: 'POST',
        target: '/api/call',
        headers: {'Host': `127.0.0.1:${gadget.port}`, 'X-Kova-Secret': gadget.secret, 'Content-Type': 'application/json'},
        body: JSON.stringify({member, kind, args}),
    });
    if (answer.status !== 200) throw new Error(`${member}: ${answer.status} ${answer.body}`);
    return JSON.parse(answer.body).result;
}

function statusKiB(pid, field, file = 'status') {
    const match = new RegExp(`^${field}:\\s+(\\d+) kB$`, 'm').exec(fs.readFileSync(`/proc/${pid}/${file}`, 'utf8'));
    if (!match) throw new Error(`no ${field} for ${pid}`);
    return Number(match[1]);
}

// A fresh host loads the whole list; its memory is read when the load has ended. Stopping it saves the list.
async function loadedHostMemory(dir, sandbox) {
    const gadget = await startGadget(dir, sandbox);
    await call(gadget, 'Init', 'method', ['']);
    await call(gadget, 'LoadWatchlist');
    const deadline = Date.now() + 60000;
    while (await call(gadget, 'IsWorking', 'get')) {
        if (Date.now() > deadline) throw new Error('the load did not end');
        await sleep(10);
    }
    const rss = statusKiB(gadget.child.pid, 'VmRSS');
    const hwm = statusKiB(gadget.child.pid, 'VmHWM');
    const dirty = statusKiB(gadget.child.pid, 'Private_Dirty', 'smaps_rollup');
    const code = await gadget.stop();
    if (code !== 0) throw new Error(`kova-gadget ended with ${code}: ${gadget.stderr()}`);
    return {rss, hwm, dirty};
}

// The floor: the libraries alone, after one HTTPS fetch from the sandbox.
function bareFetchMemory(sandbox) {
    const program = path.join(binDir, 'kova-bare-fetch');
    return JSON.parse(execFileSync(program, [`${sandbox.url}/sandbox/requests`, sandbox.caFile], {encoding: 'utf8'}));
}

// Resolves, in the page, with the time at the end of the first frame that holds a row of the list.
function firstRowProbe() {
    window.kovaFirstRowPainted = new Promise((resolve) => {
        const seen = () => {
            if (!document.querySelector('#list .result')) return;
            observer.disconnect();
            requestAnimationFrame(() => setTimeout(() => resolve(performance.timeOrigin + performance.now()), 0));
        };
        const observer = new MutationObserver(seen);
        observer.observe(document, {childList: true, subtree: true});
    });
}

// A fresh context as the tests make it: pictures from elsewhere are drawn locally, nothing leaves loopback.
async function freshPage() {
    const context = await (await launchBrowser()).newContext({viewport: {width: 480, height: 420}});
    await context.route(
        (url) => !['127.0.0.1', 'localhost'].includes(url.hostname),
        (route) =>
            route.request().resourceType() === 'image'
                ? route.fulfill({contentType: 'image/svg+xml', body: '<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1"/>'})
                : route.abort(),
    );
    await context.addInitScript(firstRowProbe);
    return {context, page: await context.newPage()};
}

async function paintedAfter(page, start, url) {
    await page.goto(url, {waitUntil: 'commit'});
    const painted = await page.evaluate(() => window.kovaFirstRowPainted);
    return painted - start;
}

async function coldStart(dir, sandbox) {
    const {context, page} = await freshPage();
    let gadget = null;
    try {
        const start = now();
        gadget = await startGadget(dir, sandbox);
        return await paintedAfter(page, start, gadget.url);
    } finally {
        await context.close();
        const code = await gadget?.stop();
        if (code) throw new Error(`kova-gadget ended with ${code}: ${gadget.stderr()}`);
    }
}

// The page as it looks once the list is in: its own markup and style sheet, the fragment in the list, no
// scripts.
function makeStaticCopy(dir) {
    const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-static-'));
    atCleanUp(() => fs.rmSync(copy, {recursive: true, force: true}));
    fs.cpSync(path.join(dir, 'images'), path.join(copy, 'images'), {recursive: true});
    fs.copyFileSync(path.join(dir, 'gadget.css'), path.join(copy, 'gadget.css'));
    const fragment = fs.readFileSync(path.join(dir, 'result.txt'), 'utf8');
    if (!fragment.includes('class=result')) throw new Error('result.txt holds no rows');
    const page = fs
        .readFileSync(path.join(dir, 'index.html'), 'utf8')
        .replace(/<script[^>]*>[\s\S]*?<\/script>\n?/g, '')
        .replace('<section id="list" class="list" aria-label="Watched items"></section>',
                 () => `<section id="list" class="list" aria-label="Watched items">${fragment}</section>`);
    if (!page.includes(fragment)) throw new Error('index.html has no list to fill');
    fs.writeFileSync(path.join(copy, 'index.html'), page);
    return copy;
}

const types = {'.html': 'text/html', '.css': 'text/css', '.png': 'image/png', '.gif': 'image/gif'};

// A plain file server on loopback.
async function serveFolder(folder) {
    const server = http.createServer((request, response) => {
        const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
        const file = path.join(folder, name === '/' ? 'index.html' : path.normalize(name));
        fs.readFile(file, (error, data) => {
            if (error || !file.startsWith(folder)) {
                response.writeHead(404).end();
                return;
            }
            response.writeHead(200, {'Content-Type': types[path.extname(file)] ?? 'application/octet-stream'}).end(data);
        });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    atCleanUp(() => new Promise((resolve) => server.close(resolve)));
    return `http://127.0.0.1:${server.address().port}/`;
}

async function staticCopy(url) {
    const {context, page} = await freshPage();
    try {
        return await paintedAfter(page, now(), url);
    } finally {
        await context.close();
    }
}

try {
    const sandbox = await startSandbox([`bench:${Items}`]);
    const dir = await makeGadgetDir(sandbox, {seedUser: 'bench'});
    // The start shows what the last run left; a load at start would only follow the first row.
    fs.writeFileSync(path.join(dir, 'KovaGadget.ini'), '[Watchlist]\nAuctionsRefreshOnStart=0\n');

    const memory = [];
    const bare = [];
    for (let i = 0; i < memorySamples; ++i) {
        memory.push(await loadedHostMemory(dir, sandbox));
        bare.push(bareFetchMemory(sandbox));
    }
    const saved = fs.readFileSync(path.join(dir, 'watchlist.dat'), 'utf8').match(/<Auction /g)?.length ?? 0;
    if (saved !== Items) throw new Error(`watchlist.dat holds ${saved} items, not ${Items}`);

    await launchBrowser();
    // One start of each kind ahead of the samples, so that the first sample does not pay for the files' first
    // reads; the first start also writes the fragment the static copy shows.
    await coldStart(dir, sandbox);
    const staticUrl = await serveFolder(makeStaticCopy(dir));
    await staticCopy(staticUrl);
    const cold = [];
    const plain = [];
    for (let i = 0; i < repetitions; ++i) {
        cold.push(await coldStart(dir, sandbox));
        plain.push(await staticCopy(staticUrl));
    }
    console.log(JSON.stringify({
        coldStartMs: cold,
        staticCopyMs: plain,
        rssKiB: memory.map((m) => m.rss),
        peakKiB: memory.map((m) => m.hwm),
        privateDirtyKiB: memory.map((m) => m.dirty),
        bareRssKiB: bare.map((m) => m.rssKiB),
        barePrivateDirtyKiB: bare.map((m) => m.privateDirtyKiB),
    }));
} finally {
    await closeBrowser();
    await cleanUp();
}
