// Drives the built module as the page's worker does: node module_test.js MODULE_JS EXAMPLE.
// Checks the outputs and notices the page relies on, for the example and for refused exports.
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');

const [modulePath, examplePath] = process.argv.slice(2);

function run(module, bytes) {
  const input = module._malloc(Math.max(bytes.length, 1)) >>> 0;
  module.HEAPU8.set(bytes, input);
  // Pieces of each output as the module hands them over; what a dropped file had is gone.
  const pieces = [[], [], []];
  module.ledgerOutput = {
    begin(i) { pieces[i] = []; },
    piece(i, data, size) { pieces[i].push(Buffer.from(module.HEAPU8.slice(data, data + size))); },
    drop(i) { pieces[i] = []; },
  };
  const completed = module._ledger_convert(input, bytes.length) === 1;
  module._free(input);
  const outputs = pieces.map((parts) => Buffer.concat(parts));
  const result = {
    completed,
    kind: module._ledger_notice_kind(),
    caption: module.UTF8ToString(module._ledger_notice_caption()),
    text: module.UTF8ToString(module._ledger_notice_text()),
    outputs,
  };
  module._ledger_release();
  return result;
}

// The rooms of the stored fields, from the record layouts in the README; 0 is the adult flag.
const SCOUT_ROOMS = [15, 11, 26, 26, 17, 2, 99, 13, 13, 37, 10, 29, 15, 11, 15, 11];
const ADULT_ROOMS = [15, 11, 26, 26, 17, 2, 99, 13, 13, 37, 10, 12, 15, 0];

// The check's packed preview, its parts laid end to end as the worker does, read back as
// {counts, columns, members, cut}: each member {line, cells: [[text, keeps]]}, cut the indexes
// of the members with a cut field.
function preview(module, bytes) {
  const input = module._malloc(Math.max(bytes.length, 1)) >>> 0;
  module.HEAPU8.set(bytes, input);
  const valid = module._ledger_check(input, bytes.length) === 1;
  module._free(input);
  const packed = Buffer.concat([0, 1, 2, 3].map((i) => {
    const data = module._ledger_preview_data(i) >>> 0;
    return Buffer.from(module.HEAPU8.slice(data, data + (module._ledger_preview_size(i) >>> 0)));
  }));
  module._ledger_release();
  if (!valid) return {valid, size: packed.length};
  const word = (at) => packed.readUInt32LE(at);
  assert.strictEqual(word(24), packed.length, 'the header gives the end');
  const counts = [word(0), word(4), word(8)];
  const columns = [[], []];
  let at = 44;
  [word(28), word(32)].forEach((n, s) => {
    for (let c = 0; c < n; c++, at += 8) columns[s].push([word(at), word(at + 4)]);
  });
  assert.strictEqual(at, word(12), 'the rows follow the columns');
  const members = [[], []];
  let row = word(12);
  [0, 1].forEach((s) => {
    for (let m = 0; m < counts[s]; m++, row += 8 + 2 * columns[s].length) {
      let cell = word(20) + word(row + 4);
      const cells = columns[s].map((_, c) => {
        const length = packed[row + 8 + 2 * c];
        const text = packed.toString('latin1', cell, cell + length);
        cell += length;
        return [text, packed[row + 9 + 2 * c]];
      });
      members[s].push({line: word(row), cells});
    }
  });
  assert.strictEqual(row, word(16), 'the cut members follow the rows');
  const cut = [word(36), word(40)].map((n, s) => Array.from({length: n}, (_, i) => word(word(16) + 4 * (i + (s ? word(36) : 0)))));
  assert.strictEqual(word(16) + 4 * (word(36) + word(40)), word(20), 'the cell bytes follow the cut members');
  return {valid, counts, columns, members, cut};
}

async function main() {
  const module = await require(path.resolve(modulePath))();
  const text = (name) => module.UTF8ToString(module.ccall('ledger_text', 'number', ['string'], [name]));
  assert.strictEqual(module.ccall('ledger_text', 'number', ['string'], ['no such text']), 0);
  assert.strictEqual(text('dialogTitle'), 'Convert Ledger Export');

  const example = fs.readFileSync(examplePath);
  const converted = run(module, example);
  assert.ok(converted.completed, 'the example converts');
  assert.strictEqual(converted.kind, 0);
  assert.strictEqual(converted.caption, text('noticeCaption'));
  assert.match(converted.text, /^File successfully converted\.\n\n/);
  assert.strictEqual(converted.outputs[0].toString('latin1'), 'KZV 2.0\r\nDRUV\r\n');
  assert.ok(converted.outputs[1].length > 0 && converted.outputs[1].length % 512 === 0);
  assert.ok(converted.outputs[2].length > 0 && converted.outputs[2].length % 512 === 0);
  // The first scout's first field opens the first record, zero-filled to its width of 15.
  assert.strictEqual(converted.outputs[1].subarray(0, 15).toString('latin1'), 'S-1001' + '\0'.repeat(9));

  // Refused exports give the invalid-format notice; a run after them is whole.
  const refused = {
    'empty': Buffer.alloc(0),
    'not an export': Buffer.from('Name\tFirst\nSmith\tAnn\n'),
    'binary': Buffer.from([0, 0xff, 0x1a, 0x0a, 0x89, 0x50, 0x4e, 0x47]),
    'a cut header': Buffer.from('LedgerExpor'),
  };
  for (const [name, bytes] of Object.entries(refused)) {
    const result = run(module, bytes);
    assert.strictEqual(result.completed, false, name);
    assert.strictEqual(result.kind, 0, name);  // as the dialogs show it: information
    assert.strictEqual(result.caption, text('noticeCaption'), name);
    assert.strictEqual(result.text, text('invalidFormat'), name);
    // As the file conversion does, the version file is written before the export is read; the
    // record files are never begun. (The page offers no file of a run that did not complete.)
    assert.deepStrictEqual(result.outputs.map((o) => o.length), [15, 0, 0], name);
  }
  const again = run(module, example);
  assert.ok(again.completed);
  converted.outputs.forEach((output, i) => assert.ok(output.equals(again.outputs[i]), 'same bytes twice'));

  // The preview: every stored field whole (cut to 99, trailing blanks off) with what its record
  // keeps, fields past the layouts left out, the adult flag as the record's word.
  const scout = ['S-1', 'b'.repeat(11), 'two  ', '', '', 'abc', 'y'.repeat(120), '', '', 'n'.repeat(38),
    '', '', '', '', '', 'z'.repeat(12), 'past the layout'];
  const adults = [['A-1', '', '', '', '', '', '', '', '', '', '', 'k'.repeat(13), 'L'.repeat(15), 'YES  '],
    ['A-2\xe9', '', '', '', '', '', '', '', '', '', '', 'k'.repeat(12), '', 'no']];
  const small = Buffer.from('LedgerExport\r\nScouts\r\n' + scout.join('\t') + '\r\nS-2\nadults\n' +
      adults.map((a) => a.join('\t')).join('\r\n') + '\n', 'latin1');
  const expect = (fields, rooms) => rooms.map((room, k) => {
    if (room === 0) return [/^yes$/i.test((fields[k] || '').trimEnd()) ? '1' : '0', 1];
    const text = (fields[k] || '').slice(0, 99).replace(/ +$/, '');
    return [text, Math.min(text.length, room)];
  });
  const shown = preview(module, small);
  assert.ok(shown.valid);
  assert.deepStrictEqual(shown.counts, [2, 2, 4]);
  assert.deepStrictEqual(shown.columns, [SCOUT_ROOMS.map((room, k) => [k, room]), ADULT_ROOMS.map((room, k) => [k, room])]);
  assert.deepStrictEqual(shown.members, [
    [{line: 3, cells: expect(scout, SCOUT_ROOMS)}, {line: 4, cells: expect(['S-2'], SCOUT_ROOMS)}],
    adults.map((fields, i) => ({line: 6 + i, cells: expect(fields, ADULT_ROOMS)}))]);
  assert.deepStrictEqual(shown.members[1].map((m) => m.cells[13][0]), ['1', '0']);
  assert.deepStrictEqual(shown.cut, [[0], [0]]);
  assert.deepStrictEqual(preview(module, refused['not an export']), {valid: false, size: 0});
  console.log('module test: 1 passed, 0 failed');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
