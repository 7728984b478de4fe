// The application data file as a user meets it when it cannot be read: the page names the file, why it
// could not be read and where the README says what to do.

import {after, afterEach, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {binDir, cleanUp, closeBrowser, openGadget, startAll} from './support.mjs';

afterEach(cleanUp);
after(closeBrowser);

const spoilers = [
    ['missing', (file) => fs.rmSync(file), /there is no such file/],
    ['truncated', (file) => fs.truncateSync(file, Math.floor(fs.statSync(file).size / 2)), /it is damaged/],
    [
        'packed with another key',
        (file) => {
            const xml = execFileSync(path.join(binDir, 'kova-dat'), ['unpack', file]);
            fs.writeFileSync(`${file}.xml`, xml);
            execFileSync(path.join(binDir, 'kova-dat'), ['pack', `${file}.xml`, file, '--passphrase', 'another key']);
            fs.rmSync(`${file}.xml`);
        },
        /packed with another key/,
    ],
];

for (const [what, spoil, reason] of spoilers) {
    test(`an application data file that is ${what} is named on the page`, async () => {
        const {dir, gadget} = await startAll({accounts: ['demo:3']});
        const file = path.join(dir, 'KovaDat.dat');
        spoil(file);
        const {page} = await openGadget(gadget);
        const problem = page.locator('#problem');
        await problem.filter({hasText: 'KovaDat.dat'}).waitFor();
        const text = await problem.innerText();
        assert.ok(text.includes(`The application data file "${file}" could not be read`), text);
        assert.match(text, reason);
        assert.match(text, /README section "The application data file"/);
        assert.doesNotMatch(text, /call Init first/);
    });
}
