// The host answers only its own page: every request that lacks the secret, comes from elsewhere, or asks
// for anything but the page's files is refused.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {cleanUp, closeBrowser, openGadget, rawRequest, startAll} from './support.mjs';

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
