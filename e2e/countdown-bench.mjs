// The page's own CPU time while its list counts down, for bench/report.sh, printed as one JSON object: a
// 100-item watch list whose auctions all end within the hour (so the countdown wakes every second), shown
// in headless Chromium for a while without a load, against the same page with every auction ending days
// away (nothing counts by the second). The time is Chromium's own count of the CPU time of the page's main
// thread (CDP Performance.getMetrics in thread ticks: TaskDuration, ScriptDuration, LayoutDuration) and of
// every thread of its renderer process (SystemInfo.getProcessInfo), read at the start and the end of the
// window.
//
// usage: node countdown-bench.mjs [--seconds N] [--idle-seconds N]
// Programs come from KOVA_BIN_DIR and the page from KOVA_GADGET_BUILD_DIR, as for the browser tests.

import fs from 'node:fs';
import path from 'node:path';
import {parseArgs} from 'node:util';
import {cleanUp, closeBrowser, launchBrowser, makeGadgetDir, openGadget, startGadget, startSandbox} from './support.mjs';

const Items = 100;
const {values: options} = parseArgs({
    options: {'seconds': {type: 'string', default: '60'}, 'idle-seconds': {type: 'string', default: '30'}},
});
const seconds = Number(options.seconds);
const idleSeconds = Number(options['idle-seconds']);
if (!(seconds > 0) || !(idleSeconds > 0)) throw new Error('--seconds and --idle-seconds need a positive number');

// The page's main-thread work over the window, in ms, and the window's length.
async function pageWork(endsInSeconds, windowSeconds) {
    const sandbox = await startSandbox([`bench:${Items}`]);
    for (let index = 0; index < Items; ++index)
        await sandbox.control('/sandbox/item', {username: 'bench', index, endsInSeconds: endsInSeconds(index)});
    const dir = await makeGadgetDir(sandbox, {seedUser: 'bench'});
    // Neither the host nor the page loads while the window runs.
    fs.writeFileSync(path.join(dir, 'KovaGadget.ini'), '[Watchlist]\r\nAuctionsRefreshNearEnd=0\r\n');
    const gadget = await startGadget(dir, sandbox);
    const {context, page} = await openGadget(gadget);
    await page.locator('#results .result').first().waitFor();
    await page.locator('#gadget[aria-busy=false]').waitFor({timeout: 60000});
    // The start's own work (the reminders, the plan) settles first.
    await page.waitForTimeout(2000);
    const cdp = await context.newCDPSession(page);
    // Thread ticks: the main thread's own CPU time, not the wall time its tasks took on a busy machine.
    await cdp.send('Performance.enable', {timeDomain: 'threadTicks'});
    const read = async () => Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
    // Every thread of the renderers too (compositor, raster): the only page open is this one.
    const browserCdp = await (await launchBrowser()).newBrowserCDPSession();
    const rendererSeconds = async () =>
        (await browserCdp.send('SystemInfo.getProcessInfo')).processInfo
            .filter((info) => info.type === 'renderer')
            .reduce((sum, info) => sum + info.cpuTime, 0);
    const start = await read();
    const rendererStart = await rendererSeconds();
    await page.waitForTimeout(windowSeconds * 1000);
    const end = await read();
    const rendererEnd = await rendererSeconds();
    await browserCdp.detach();
    const rows = await page.locator('#results .result').count();
    await cleanUp();
    return {
        windowMs: (end.Timestamp - start.Timestamp) * 1000,
        taskMs: (end.TaskDuration - start.TaskDuration) * 1000,
        scriptMs: (end.ScriptDuration - start.ScriptDuration) * 1000,
        layoutMs: (end.LayoutDuration - start.LayoutDuration) * 1000,
        styleMs: (end.RecalcStyleDuration - start.RecalcStyleDuration) * 1000,
        rendererMs: (rendererEnd - rendererStart) * 1000,
        rows,
    };
}

try {
    // Ends from 5 to 55 minutes ahead: every remaining time counts by the second.
    const counting = await pageWork((index) => 300 + index * 30, seconds);
    // Ends from 2 to 6 days ahead: the texts change once a day, the timer wakes once a minute.
    const idle = await pageWork((index) => 2 * 86400 + index * 3600, idleSeconds);
    console.log(JSON.stringify({items: Items, counting, idle}));
} finally {
    await closeBrowser();
    await cleanUp();
}
