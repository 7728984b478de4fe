// Which fragment attributes the page turns into calls: only the known functions with quoted string
// arguments, whatever else a title or a damaged file puts there.

import {test} from 'node:test';
import assert from 'node:assert/strict';
import {parseFragmentCall} from '../gadget/js/fragments.mjs';

const known = {onLink() {}, outLink() {}, onOpenDetails() {}, firstPage() {}, onImg() {}};

test('fragment calls are read, never run', () => {
    const cases = [
        ["onLink('result3', '1234', 'true');", {name: 'onLink', args: ['result3', '1234', 'true']}],
        ["outLink('result3', 'false');", {name: 'outLink', args: ['result3', 'false']}],
        ["javascript:onOpenDetails('1234');", {name: 'onOpenDetails', args: ['1234']}],
        ['firstPage();', {name: 'firstPage', args: []}],
        ["  onImg( 'begin' )  ", {name: 'onImg', args: ['begin']}],
        ["onOpenDetails('');", {name: 'onOpenDetails', args: ['']}],
        ["alert('x');", null],
        ["constructor('x');", null],
        ["onLink('a'); alert(1);", null],
        ["onLink('a', alert(1));", null],
        ['onLink("a");', null],
        ["onLink('a\\'');", {name: 'onLink', args: ["a'"]}],
        ["javascript:onOpenDetails('110-22\\x2F33');", {name: 'onOpenDetails', args: ['110-22/33']}],
        ["onOpenDetails('\\xC3\\x9C-\\xE2\\x82\\xAC');", {name: 'onOpenDetails', args: ['\u00dc-\u20ac']}],
        ["onOpenDetails('caf\\xE9');", {name: 'onOpenDetails', args: ['caf\u00e9']}],
        ["onOpenDetails('\\u00e9\\\\\\\"');", {name: 'onOpenDetails', args: ['\u00e9\\"']}],
        ["onLink('a\\', 'b');", null],
        ["onLink('a\\nb');", null],
        ["onLink('a\\x2');", null],
        ["onLink('a\\');", null],
        ["onLink('a' + document.cookie);", null],
        ['onLink(a);', null],
        ['javascript:void(0)', null],
        ['', null],
        [undefined, null],
    ];
    for (const [text, expected] of cases) assert.deepEqual(parseFragmentCall(text, known), expected, String(text));
});

// The control writes every byte of an item id outside letters, digits, blank, full stop, minus and
// underscore as \xHH: whatever the id, the page reads it back.
function scriptString(id) {
    return [...new TextEncoder().encode(id)]
        .map((byte) => (/[A-Za-z0-9 ._-]/.test(String.fromCharCode(byte)) && byte < 128
            ? String.fromCharCode(byte)
            : `\\x${byte.toString(16).toUpperCase().padStart(2, '0')}`))
        .join('');
}

test('every item id the control writes reads back', () => {
    const ids = ['110-22/33', "it's", 'a"b\\c', '%2F#x?y&z=1', '(1);alert(2)', '\u00dc\u00c5-\u03a9 42', '\u{1F600}', '', ' '];
    for (const id of ids) {
        const call = `javascript:onOpenDetails('${scriptString(id)}');`;
        assert.deepEqual(parseFragmentCall(call, known), {name: 'onOpenDetails', args: [id]}, call);
        const hover = `onLink('result0', '${scriptString(id)}', 'false');`;
        assert.deepEqual(parseFragmentCall(hover, known)?.args, ['result0', id, 'false'], hover);
    }
});
