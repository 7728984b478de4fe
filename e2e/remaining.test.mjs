// The page's remaining-time texts against the control's, and the moments they change: the countdown wakes
// exactly then and not every frame.

import {test} from 'node:test';
import assert from 'node:assert/strict';
import {localEndText, msUntilChange, remainingText} from '../gadget/js/remaining.mjs';

const s = 1000;
const m = 60 * s;
const h = 60 * m;
const d = 24 * h;
const now = Date.UTC(2026, 11, 8, 12, 0, 0);

test('texts and their next change, as the control writes them', () => {
    for (const [ahead, text, change] of [
        [26 * h, 'over 1 day(s)', 2 * h + 1],
        [48 * h, 'over 2 day(s)', 1],
        [d - 1, '23 h 59 min', m],
        [3 * h + 12 * m + 40.6 * s, '3 h 12 min', 40601],
        [h, '1 h 0 min', 1],
        [h - 1, '59 m 59 s', 1000],
        [5 * m + 7 * s, '5 m 7 s', 1],
        [5 * m + 7 * s + 300, '5 m 7 s', 301],
        [1000, '0 m 1 s', 1],
        [999.4, 'Ended', Infinity],
        [400, 'Ended', Infinity],
        [-5 * s, 'Ended', Infinity],
        [-2 * d, 'Ended', Infinity],
        [NaN, 'Ended', Infinity],
    ]) {
        assert.equal(remainingText(now + ahead, now), text, `${ahead} ms ahead`);
        const next = msUntilChange(now + ahead, now);
        assert.equal(next, change, `next change of ${text}`);
        if (next !== Infinity) {
            assert.equal(remainingText(now + ahead, now + next - 1), text, `${text} holds until just before`);
            assert.notEqual(remainingText(now + ahead, now + next), text, `${text} changes then`);
        }
    }
});

test('the end as a local day and clock', () => {
    const local = (days, hh, mm, ss) => new Date(2026, 11, 8 + days, hh, mm, ss).getTime();
    const base = local(0, 9, 0, 0);
    assert.equal(localEndText(local(0, 12, 8, 27), base), 'Tue 12:08:27');
    assert.equal(localEndText(local(3, 7, 5, 9), base), 'Fri 07:05:09');
    assert.equal(localEndText(local(9, 12, 0, 0), base), 'Thu 17 Dec 12:00:00');
    assert.equal(localEndText(local(30, 0, 0, 1), base), 'Thu 7 Jan 2027 00:00:01');
    assert.equal(localEndText(local(-1, 23, 59, 59), base), 'Mon 7 Dec 23:59:59');
    assert.equal(localEndText(NaN, base), '');
});
