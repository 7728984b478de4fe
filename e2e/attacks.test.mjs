// The host answers only its own page: every request that lacks the secret, comes from elsewhere, or asks
// for anything but the page's files is refused.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import {atCleanUp, cleanUp, closeBrowser, openGadget, rawRequest, startAll} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const json = 'application/json';

test('calls without the secret, from foreign hosts or origins, or not in JSON are refused', async () => {
    const {gadget} = await startAll({accounts: ['demo:3']});
    const own = `127.0.0.1:${gadget.port}`;
    const call = JSON.stringify({member: 'IsWorking', kind: 'get'});
    const cases = [
        ['the secret', 200, {target: '/api/typelib', headers: {Host: own, 'X-Kova-Secret': gadget.secret}}],
        ['localhost as host', 200, {target: '/api/typelib', headers: {Host: `localhost:${gadget.port}`, 'X-Kova-Secret': gadget.secret}}],
        ['no secret', 403, {target: '/api/typelib', headers: {Host: own}}],
        ['a wrong secret', 403, {target: '/api/typelib', headers: {Host: own, 'X-Kova-Secret': `${gadget.secret}x`}}],
        ['a call without secret', 403, {method: 'POST', target: '/api/call', headers: {Host: own, 'Content-Type': json}, body: call}],
        ['an event stream without secret', 403, {target: '/api/events', headers: {Host: own}}],
        ['an event stream with a wrong secret', 403, {target: '/api/events?s=nope', headers: {Host: own}}],
        ['a foreign Host', 403, {target: '/api/typelib', headers: {Host: 'attacker.example', 'X-Kova-Secret': gadget.secret}}],
        ['a rebound name with our port', 403, {target: '/api/typelib', headers: {Host: `attacker.example:${gadget.port}`, 'X-Kova-Secret': gadget.secret}}],
        ['another port', 403, {target: '/api/typelib', headers: {Host: `127.0.0.1:${gadget.port + 1}`, 'X-Kova-Secret': gadget.secret}}],
        ['a foreign Origin', 403, {method: 'POST', target: '/api/call', headers: {Host: own, Origin: 'http://attacker.example', 'X-Kova-Secret': gadget.secret, 'Content-Type': json}, body: call}],
        ['a null Origin', 403, {method: 'POST', target: '/api/call', headers: {Host: own, Origin: 'null', 'X-Kova-Secret': gadget.secret, 'Content-Type': json}, body: call}],
        ['a form-encoded POST', 415, {method: 'POST', target: '/api/call', headers: {Host: own, 'X-Kova-Secret': gadget.secret, 'Content-Type': 'application/x-www-form-urlencoded'}, body: 'member=Terminate&kind=method'}],
        ['a text/plain POST', 415, {method: 'POST', target: '/api/call', headers: {Host: own, 'X-Kova-Secret': gadget.secret, 'Content-Type': 'text/plain'}, body: call}],
        ['a form-encoded form action', 415, {method: 'POST', target: '/api/form', headers: {Host: own, 'X-Kova-Secret': gadget.secret, 'Content-Type': 'application/x-www-form-urlencoded'}, body: 'id=1&action=close'}],
    ];
    for (const [what, status, request] of cases) {
        const answer = await rawRequest(gadget.port, request);
        assert.equal(answer.status, status, `${what}: ${answer.body}`);
        assert.equal(answer.headers['access-control-allow-origin'], undefined, `${what}: no CORS header`);
        assert.equal(answer.headers['x-content-type-options'], 'nosniff', what);
        assert.equal(answer.headers['referrer-policy'], 'no-referrer', what);
        assert.match(answer.headers['content-security-policy'] ?? '', /frame-ancestors 'none'/, what);
    }
});

test('only the page files are served: data files, traversal and links out answer 404', async () => {
    const {gadget, dir} = await startAll({accounts: ['demo:3']});
    const own = `127.0.0.1:${gadget.port}`;
    const planted = 'PLANTED-SECRET-CONTENT';
    for (const name of ['proxy.dat', 'KovaGadget.ini', 'watchlist.dat', 'KovaGadget.log', 'kova-gadget.log']) {
        if (!fs.existsSync(path.join(dir, name))) fs.writeFileSync(path.join(dir, name), planted);
    }
    fs.symlinkSync('/etc/passwd', path.join(dir, 'images', 'passwd.png'));
    fs.symlinkSync('/etc/hostname', path.join(dir, 'outside.html'));

    const ok = await rawRequest(gadget.port, {target: '/', headers: {Host: own}});
    assert.equal(ok.status, 200);
    assert.match(ok.body, /<main id="gadget"/);
    assert.equal((await rawRequest(gadget.port, {target: '/images/next.png', headers: {Host: own}})).status, 200);

    const refused = [
        '/KovaDat.dat', '/ebtmp.dat', '/proxy.dat', '/KovaGadget.ini', '/watchlist.dat', '/KovaGadget.log',
        '/kova-gadget.log', '/detailsTemp.html', '/images/passwd.png', '/outside.html',
        '/../KovaDat.dat', '/%2e%2e/%2e%2e/etc/passwd', '/images/../KovaDat.dat', '/images/%2e%2e/ebtmp.dat',
        '/images/..%2fKovaGadget.ini', '/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd', '/images/%252e%252e/ebtmp.dat',
        '/./ebtmp.dat', '//etc/passwd', '/EBTMP.DAT', '/ebtmp.dat%00.html',
    ];
    for (const target of refused) {
        const answer = await rawRequest(gadget.port, {target, headers: {Host: own}});
        assert.ok([400, 404].includes(answer.status), `${target} answered ${answer.status}`);
        assert.ok(!answer.body.includes(planted) && !answer.body.includes('root:'), `${target} leaked content`);
        assert.equal(answer.headers['x-content-type-options'], 'nosniff', target);
    }
});

test('a page opened without the secret says how to open it and calls nothing', async () => {
    const {gadget} = await startAll({accounts: ['demo:3']});
    const {page} = await openGadget({url: `${gadget.origin}/`});
    await page.locator('#problem', {hasText: 'address kova-gadget prints'}).waitFor();
    assert.equal(await page.locator('#results').count(), 0);
});

// A request written as given on a socket of its own: the body in chunks of 64 kB, as long as the host reads
// it. The answer, and how much of the body went out before the host ended the connection.
function chunkedRequest(port, head, total) {
    return new Promise((resolve) => {
        const socket = net.connect(port, '127.0.0.1');
        let text = '';
        let sent = 0;
        socket.on('data', (data) => (text += data));
        socket.on('error', () => {});
        socket.on('close', () =>
            resolve({status: Number(text.slice(9, 12)) || 0, body: text.slice(text.indexOf('\r\n\r\n') + 4), sent}));
        socket.setMaxListeners(0);
        const frame = Buffer.concat([Buffer.from('10000\r\n'), Buffer.alloc(65536, '['), Buffer.from('\r\n')]);
        (async () => {
            socket.write(head);
            for (; sent < total && !socket.destroyed && socket.writable; sent += 65536) {
                if (!socket.write(frame)) await new Promise((done) => (socket.once('drain', done), socket.once('close', done)));
            }
            if (!socket.destroyed && socket.writable) socket.write('0\r\n\r\n');
        })();
    });
}

// Connections that send their request head one byte every 4 s, until clean-up.
function trickle(port, own, count) {
    const head = `GET / HTTP/1.1\r\nHost: ${own}\r\n\r\n`;
    for (let i = 0; i < count; ++i) {
        const socket = net.connect(port, '127.0.0.1');
        socket.on('error', () => {});
        let next = 0;
        const send = () => !socket.destroyed && next < head.length && socket.write(head[next++]);
        socket.on('connect', send);
        const timer = setInterval(send, 4000);
        atCleanUp(() => (clearInterval(timer), socket.destroy()));
    }
}

function memory(pid) {
    const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
    const kB = (name) => Number(new RegExp(`${name}:\\s+(\\d+)`).exec(status)[1]);
    return {rss: kB('VmRSS'), peak: kB('VmHWM')};
}

test('deep JSON, endless bodies, readers without the secret and slow clients leave the host answering', async () => {
    const {gadget, dir} = await startAll({accounts: ['demo:3']});
    const own = `127.0.0.1:${gadget.port}`;
    const secret = {'X-Kova-Secret': gadget.secret};
    const post = (target, body) =>
        rawRequest(gadget.port, {method: 'POST', target, headers: {Host: own, ...secret, 'Content-Type': json}, body});
    const isWorking = () => post('/api/call', JSON.stringify({member: 'IsWorking', kind: 'get'}));
    assert.equal((await post('/api/call', JSON.stringify({member: 'Init', kind: 'method', args: ['']}))).status, 200);
    fs.writeFileSync(path.join(dir, 'result.txt'), '<div>the user\'s list</div>');
    fs.writeFileSync(path.join(dir, 'details.html'), '<p>an item</p>');
    const deep = '['.repeat(100000) + ']'.repeat(100000);
    const chunkedHead = `POST /api/call HTTP/1.1\r\nHost: ${own}\r\nX-Kova-Secret: ${gadget.secret}\r\n` +
        `Content-Type: ${json}\r\nTransfer-Encoding: chunked\r\n\r\n`;
    const MB = 1 << 20;
    // [what, status, body, attack, check of the answer and the host's memory in kB]
    const cases = [
        ['args nested 100 000 deep', 400, /nested too deeply/,
         () => post('/api/call', `{"member":"IsWorking","kind":"get","args":${deep}}`)],
        ['a form value nested 100 000 deep', 400, /nested too deeply/,
         () => post('/api/form', `{"id":1,"action":"text","name":"edt","value":${deep}}`)],
        ['a 2 MB chunked body', 413, /longer than 1 MB/, () => chunkedRequest(gadget.port, chunkedHead, 2 * MB),
         (answer, before, after) => {
             assert.ok(after.rss - before.rss < 4096, `resident memory grew ${after.rss - before.rss} kB`);
             assert.ok(after.peak - before.rss < 8192, `peak memory grew ${after.peak - before.rss} kB`);
         }],
        ['a 64 MB chunked body', 413, /longer than 1 MB/, () => chunkedRequest(gadget.port, chunkedHead, 64 * MB),
         (answer, before, after) => {
             assert.ok(answer.sent < 16 * MB, `the host read ${answer.sent / MB} MB`);
             assert.ok(after.peak - before.rss < 16384, `peak memory grew ${after.peak - before.rss} kB`);
         }],
        ['result.txt without the secret', 403, /secret/, () => rawRequest(gadget.port, {target: '/result.txt', headers: {Host: own}})],
        ['details.html without the secret', 403, /secret/, () => rawRequest(gadget.port, {target: '/details.html', headers: {Host: own}})],
        ['result.txt with the secret', 200, /the user's list/,
         () => rawRequest(gadget.port, {target: '/result.txt', headers: {Host: own, ...secret}})],
        ['IsWorking while 40 connections trickle their heads', 200, /"result":false/,
         async () => {
             trickle(gadget.port, own, 40);
             await new Promise((resolve) => setTimeout(resolve, 1000));
             return isWorking();
         }],
        ['a burst of 15 connections', 200, /<main id="gadget"/,
         async () => {
             const answers = await Promise.all(
                 Array.from({length: 15}, () => rawRequest(gadget.port, {target: '/', headers: {Host: own, Connection: 'close'}})));
             assert.deepEqual(answers.map((a) => a.status), Array(15).fill(200));
             return answers[14];
         }],
    ];
    for (const [what, status, body, attack, check] of cases) {
        fs.writeFileSync(`/proc/${gadget.child.pid}/clear_refs`, '5'); // the peak starts again from here
        const before = memory(gadget.child.pid);
        const started = Date.now();
        const answer = await attack();
        const took = Date.now() - started - (what.startsWith('IsWorking') ? 1000 : 0);
        assert.equal(answer.status, status, `${what}: ${answer.body}`);
        assert.match(answer.body, body, what);
        assert.ok(took < 2000, `${what}: answered after ${took} ms`);
        check?.(answer, before, memory(gadget.child.pid));
        const still = await isWorking();
        assert.equal(still.status, 200, `after ${what}: ${still.body}`);
    }
});
