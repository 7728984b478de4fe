// A day of the gadget for bench/report.sh, measured in one run and printed as one JSON object: the page open
// in headless Chromium on a host against the sandbox (100 watched items),
// - loads: the page's refresh button pressed for 1 440 loads back to back (a day at one a minute); after the
//   first 100 and after the last, the host's resident set (VmRSS) and open files (/proc/PID/fd), the page's
//   JS heap and DOM nodes (both after a garbage collection) and its event streams;
// - idle: then 10 minutes with the page open and nothing due: the CPU time of the host and of the page's
//   renderer processes (/proc), and the renderer main thread's busy time (the DevTools TaskDuration).
//
// usage: node day-bench.mjs [--loads N] [--idle-seconds S]
// Programs come from KOVA_BIN_DIR and the page from KOVA_GADGET_BUILD_DIR, as for the browser tests.

import fs from 'node:fs';
import path from 'node:path';
import {parseArgs} from 'node:util';
import {cleanUp, closeBrowser, makeGadgetDir, openGadget, rawRequest, startGadget, startSandbox} from './support.mjs';

const {values: options} = parseArgs({
    options: {'loads': {type: 'string', default: '1440'}, 'idle-seconds': {type: 'string', default: '600'}},
});
const loads = Number(options.loads);
const idleSeconds = Number(options['idle-seconds']);
const firstLoads = Math.min(100, loads);
if (!(loads > 0) || !(idleSeconds >= 0)) throw new Error('--loads needs a positive number, --idle-seconds 0 or more');
const ticksPerSecond = 100; // USER_HZ on Linux

function statusKiB(pid, field) {
    const match = new RegExp(`^${field}:\\s+(\\d+) kB$`, 'm').exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
    if (!match) throw new Error(`no ${field} for ${pid}`);
    return Number(match[1]);
}

// utime + stime of a process, in seconds.
function cpuSeconds(pid) {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return (Number(fields[11]) + Number(fields[12])) / ticksPerSecond;
}

// Chromium's renderer processes started by this node process (other browsers on the machine are not ours).
function rendererPids() {
    const parents = new Map();
    for (const name of fs.readdirSync('/proc')) {
        if (!/^\d+$/.test(name)) continue;
        try {
            const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
            parents.set(Number(name), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
        } catch {
            // ended meanwhile
        }
    }
    const ours = (pid) => {
        for (let p = pid; p > 1; p = parents.get(p) ?? 0) if (p === process.pid) return true;
        return false;
    };
    return [...parents.keys()].filter((pid) => {
        if (!ours(pid)) return false;
        try {
            return fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer');
        } catch {
            return false;
        }
    });
}

// Counts the page's event streams, and which are still open.
function streamProbe() {
    const Native = window.EventSource;
    window.kovaStreams = [];
    window.EventSource = class extends Native {
        constructor(...args) {
            super(...args);
            window.kovaStreams.push(this);
        }
    };
}

// Presses the refresh button count times, each after the last load has ended (the bar is no longer busy).
function pressRefresh(count) {
    const gadget = document.getElementById('gadget');
    const refresh = document.getElementById('refresh');
    const ended = () =>
        new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error('a load did not end within 60 s')), 60000);
            const observer = new MutationObserver(() => {
                if (gadget.getAttribute('aria-busy') !== 'false') return;
                observer.disconnect();
                clearTimeout(timer);
                resolve();
            });
            observer.observe(gadget, {attributes: true, attributeFilter: ['aria-busy']});
        });
    return (async () => {
        for (let i = 0; i < count; ++i) {
            if (refresh.disabled) throw new Error('the refresh button is disabled');
            const done = ended();
            refresh.click();
            await done;
        }
    })();
}

async function schedule(gadget) {
    const answer = await rawRequest(gadget.port, {
        target: '/api/schedule',
        headers: {'Host': `127.0.0.1:${gadget.port}`, 'X-Kova-Secret': gadget.secret},
    });
    if (answer.status !== 200) throw new Error(`/api/schedule: ${answer.status} ${answer.body}`);
    return JSON.parse(answer.body);
}

async function snapshot(gadget, page, cdp) {
    await cdp.send('HeapProfiler.collectGarbage');
    const heap = await cdp.send('Runtime.getHeapUsage');
    const counters = await cdp.send('Memory.getDOMCounters');
    const streams = await page.evaluate(() => ({
        made: window.kovaStreams.length,
        open: window.kovaStreams.filter((s) => s.readyState !== EventSource.CLOSED).length,
    }));
    const fds = fs.readdirSync(`/proc/${gadget.child.pid}/fd`).map((fd) => {
        try {
            return fs.readlinkSync(`/proc/${gadget.child.pid}/fd/${fd}`);
        } catch {
            return 'gone';
        }
    });
    return {
        rssKiB: statusKiB(gadget.child.pid, 'VmRSS'),
        openFiles: fds.length,
        fds: fds.map((target) => target.replace(/\[\d+\]$/, '')).sort(),
        jsHeapBytes: heap.usedSize,
        domNodes: counters.nodes,
        listeners: counters.jsEventListeners,
        streamsMade: streams.made,
        streamsOpen: streams.open,
        callsToday: (await schedule(gadget)).callsToday,
    };
}

async function taskSeconds(cdp) {
    const {metrics} = await cdp.send('Performance.getMetrics');
    return metrics.find((m) => m.name === 'TaskDuration').value;
}

try {
    const sandbox = await startSandbox(['day:100']);
    const dir = await makeGadgetDir(sandbox, {seedUser: 'day'});
    // The page's own load at start, no automatic refreshes: during the idle minutes nothing is due.
    fs.writeFileSync(path.join(dir, 'KovaGadget.ini'), '[Watchlist]\nAuctionsRefreshOnStart=1\nAuctionsAutomaticRefresh=0\n');
    const gadget = await startGadget(dir, sandbox);
    const {context, page} = await openGadget(gadget, {open: false});
    await context.addInitScript(streamProbe);
    const cdp = await context.newCDPSession(page);
    await cdp.send('Performance.enable');
    await page.goto(gadget.url);
    await page.waitForSelector('#list .result');
    await page.waitForSelector('#gadget[aria-busy="false"]');

    // Each reading waits until the host's plan, which counts the day's calls once a second, has seen the
    // last load, and until the page's kept-alive connections have ended (2 s without a request).
    const settle = () => new Promise((resolve) => setTimeout(resolve, 3000));
    const started = performance.now();
    await page.evaluate(pressRefresh, firstLoads);
    const loadSeconds100 = (performance.now() - started) / 1000;
    await settle();
    const after100 = await snapshot(gadget, page, cdp);
    const again = performance.now();
    await page.evaluate(pressRefresh, loads - firstLoads);
    const loadSeconds = loadSeconds100 + (performance.now() - again) / 1000;
    await settle();
    const afterAll = await snapshot(gadget, page, cdp);
    if (afterAll.callsToday - after100.callsToday !== loads - firstLoads)
        throw new Error(`${afterAll.callsToday - after100.callsToday} calls for ${loads - firstLoads} loads`);
    const renderers = rendererPids();
    const cpu = () => ({
        host: cpuSeconds(gadget.child.pid),
        page: renderers.reduce((sum, pid) => sum + cpuSeconds(pid), 0),
    });
    const idleStart = {...cpu(), task: await taskSeconds(cdp), at: performance.now()};
    await new Promise((resolve) => setTimeout(resolve, idleSeconds * 1000));
    const idleEnd = {...cpu(), task: await taskSeconds(cdp), at: performance.now()};
    const idleWall = (idleEnd.at - idleStart.at) / 1000;
    const stillOpen = await snapshot(gadget, page, cdp);

    console.log(JSON.stringify({
        loads,
        firstLoads,
        loadSeconds,
        after100,
        afterAll,
        idle: {
            seconds: idleWall,
            hostCpuSeconds: idleEnd.host - idleStart.host,
            rendererCpuSeconds: idleEnd.page - idleStart.page,
            rendererCount: renderers.length,
            rendererTaskSeconds: idleEnd.task - idleStart.task,
            streamsOpenAfter: stillOpen.streamsOpen,
        },
    }));
} finally {
    await closeBrowser();
    await cleanUp();
}
