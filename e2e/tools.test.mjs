// The command-line side of the demo and the tests: every program answers --help, and kova-login saves
// login data only where and as it should.

import {test} from 'node:test';
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {binDir, sourceDir} from './support.mjs';

const run = (program, args, input = '') =>
    spawnSync(path.join(binDir, program), args, {input, encoding: 'utf8', timeout: 20000});

test('every program answers --help with its usage and exit status 0', () => {
    for (const program of ['kova-gadget', 'kova-sandbox', 'kova-dat', 'kova-login']) {
        const result = run(program, ['--help']);
        assert.equal(result.status, 0, `${program}: ${result.stderr}`);
        assert.match(result.stdout, /usage/i, program);
    }
    const demo = spawnSync('bash', [path.join(sourceDir, 'scripts/demo.sh'), '--help'], {encoding: 'utf8'});
    assert.equal(demo.status, 0);
    assert.match(demo.stdout, /--first-run/);
});

test('kova-login saves owner-only login data and refuses what it cannot do', () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-login-'));
    try {
        const cases = [
            [['--gadget-dir', dir, '--user', 'demo'], 2, /--password is missing/],
            [['--gadget-dir', dir, '--user', 'demo', '--password'], 2, /--password needs a value/],
            [['--gadget-dir', dir, '--user', 'demo', '--password', 'x', '--colour', 'red'], 2, /unknown option/],
            [['--gadget-dir', path.join(dir, 'missing'), '--user', 'demo', '--password', 'x'], 1, /no gadget directory/],
            [['--gadget-dir', dir, '--user', 'demo', '--password', '-', '--token', '-'], 2, /standard input ended/],
        ];
        for (const [args, status, message] of cases) {
            const result = run('kova-login', args, 'only-a-password\n');
            assert.equal(result.status, status, args.join(' '));
            assert.match(result.stderr, message, args.join(' '));
        }
        assert.ok(!fs.existsSync(path.join(dir, 'ebtmp.dat')), 'nothing saved by a refused call');

        const saved = run('kova-login', ['--gadget-dir', dir, '--user', 'demo', '--password', '-', '--token', '-'],
                          'pass word\r\nTOKEN-123\n');
        assert.equal(saved.status, 0, saved.stderr);
        const file = path.join(dir, 'ebtmp.dat');
        assert.equal(fs.statSync(file).mode & 0o777, 0o600);
        const bytes = fs.readFileSync(file);
        for (const plain of ['pass word', 'TOKEN-123']) assert.ok(!bytes.includes(plain), `${plain} is encrypted`);
    } finally {
        fs.rmSync(dir, {recursive: true, force: true});
    }
});
