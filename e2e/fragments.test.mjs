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
        ["onLink('a\\'');", null],
        ["onLink('a' + document.cookie);", null],
        ['onLink(a);', null],
        ['javascript:void(0)', null],
        ['', null],
        [undefined, null],
    ];
    for (const [text, expected] of cases) assert.deepEqual(parseFragmentCall(text, known), expected, String(text));
});
