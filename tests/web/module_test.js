// Drives the built module as the page's worker does: node module_test.js MODULE_JS EXAMPLE.
// Checks the outputs and notices the page relies on, for the example and for refused exports.
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');

const [modulePath, examplePath] = process.argv.slice(2);

// Copies `bytes` into the module's memory: its address.
function place(module, bytes) {
  const at = module._malloc(Math.max(bytes.length, 1)) >>> 0;
  module.HEAPU8.set(bytes, at);
  return at;
}

// One run as the worker makes it, with `room` bytes besides the export: {fits, completed,
// notice, outputs, preview, comparison}, outputs the three files as the module handed them over.
// `earlier`, when given, is {scouts, adults, preview}: the earlier record files' bytes (or null)
// to compare with, and false for a run without a preview.
function run(module, bytes, room = Infinity, earlier = null) {
  const input = place(module, bytes);
  const placed = earlier && {preview: earlier.preview};
  for (const kind of ['scouts', 'adults']) {
    if (earlier && earlier[kind]) placed[kind] = {at: place(module, earlier[kind]), size: earlier[kind].length};
  }
  // Pieces of each output as the module hands them over; what a dropped file had is gone.
  const pieces = [[], [], []];
  const progress = [];
  const result = module.convert(input, bytes.length, room, {
    begin(i) { pieces[i] = []; },
    piece(i, view) { pieces[i].push(Buffer.from(view)); return true; },
    drop(i) { pieces[i] = []; },
    progress(line, lines) { progress.push([line, lines]); },
  }, placed);
  module._free(input);
  for (const kind of ['scouts', 'adults']) if (placed && placed[kind]) module._free(placed[kind].at);
  return {...result, outputs: pieces.map((parts) => Buffer.concat(parts)), progress};
}

// CRC-32 bit by bit, as ZIP defines it.
function crc32(bytes) {
  let crc = 0xffffffff;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = (crc >>> 1) ^ (crc & 1 ? 0xedb88320 : 0);
  }
  return (crc ^ 0xffffffff) >>> 0;
}

// The rooms of the stored fields, from the record layouts in the README; 0 is the adult flag.
const SCOUT_ROOMS = [15, 11, 26, 26, 17, 2, 99, 13, 13, 37, 10, 29, 15, 11, 15, 11];
const ADULT_ROOMS = [15, 11, 26, 26, 17, 2, 99, 13, 13, 37, 10, 12, 15, 0];

// A run's preview read back as {valid, counts, columns, members, cut}: each member {line, cells:
// [[text, keeps]]}, cut the indexes of the members with a cut field. Checks that each section's
// arrays hold its members and that the cell bytes are theirs, end to end.
function preview(module, bytes) {
  const result = run(module, bytes).preview;
  if (result === null) return {valid: false};
  const sections = [result.scouts, result.adults];
  const counts = [...sections.map((s) => s.count), result.cuts];
  const columns = sections.map((s) => s.columns.map((c) => [c.field, c.room]));
  let cell = 0;
  const members = sections.map((s, n) => {
    const width = s.columns.length;
    assert.strictEqual(s.lines.length, s.count, 'a line for each member');
    assert.strictEqual(s.cellAt.length, s.count, 'the cells of each member');
    assert.strictEqual(s.lengths.length, s.count * width, 'a length for each stored field');
    assert.strictEqual(s.keeps.length, s.count * width, 'what the record keeps of each');
    return Array.from(s.lines, (line, m) => {
      assert.strictEqual(s.cellAt[m], cell, 'each member\'s cells follow the last one\'s');
      const cells = columns[n].map((_, c) => {
        const length = s.lengths[m * width + c];
        const text = Buffer.from(result.cells.subarray(cell, cell + length)).toString('latin1');
        cell += length;
        return [text, s.keeps[m * width + c]];
      });
      return {line, cells};
    });
  });
  assert.strictEqual(cell, result.cells.length, 'the cell bytes end with the last member\'s');
  const cut = sections.map((s) => Array.from(s.cut));
  return {valid: true, counts, columns, members, cut};
}

async function main() {
  const module = await require(path.resolve(modulePath))();
  assert.strictEqual(module.text('no such text'), null);
  assert.strictEqual(module.text('dialogTitle'), 'Convert Ledger Export');
  assert.strictEqual(module.notice('no such notice', ''), null);
  assert.deepStrictEqual(module.outputNames(), ['PVERSION.DAT', 'CPERW.DAT', 'APERW.DAT']);
  // Each notice the page shows of its own keeps the kind it has in the dialogs.
  assert.deepStrictEqual(module.notice('dropOneFile', ''), {code: 'dropOneFile', kind: 'warning',
    caption: 'Convert Ledger Files', message: 'Please drop one export file at a time.', reason: '', changes: ''});
  assert.deepStrictEqual(module.notice('readFailed', 'Ledger.txt'), {code: 'readFailed',
    kind: 'warning', caption: 'Unable to read file', message: 'Ledger.txt', reason: '', changes: ''});

  const example = fs.readFileSync(examplePath);
  const converted = run(module, example);
  assert.ok(converted.completed, 'the example converts');
  assert.strictEqual(converted.notice.code, 'converted');
  assert.strictEqual(converted.notice.kind, 'information');
  assert.strictEqual(converted.notice.caption, 'Convert Ledger Files');
  assert.match(converted.notice.message, /^File successfully converted\.\n\n/);
  assert.strictEqual(converted.outputs[0].toString('latin1'), 'KZV 2.0\r\nDRUV\r\n');
  assert.ok(converted.outputs[1].length > 0 && converted.outputs[1].length % 512 === 0);
  assert.ok(converted.outputs[2].length > 0 && converted.outputs[2].length % 512 === 0);
  // The first scout's first field opens the first record, zero-filled to its width of 15.
  assert.strictEqual(converted.outputs[1].subarray(0, 15).toString('latin1'), 'S-1001' + '\0'.repeat(9));
  assert.deepStrictEqual(converted.crcs, converted.outputs.map(crc32), 'each output\'s CRC-32');
  // Empty members make records of zero bytes only: runs of zero words longer than a record,
  // across the pieces the outputs are handed over in.
  const blank = run(module, Buffer.from('LedgerExport\r\nScouts\r\nS-1\r\n' + '\r\n'.repeat(1100) +
    'S-2\tPark\r\nAdults\r\n' + '\r\n'.repeat(3) + 'A-1\r\n'));
  assert.ok(blank.completed);
  assert.deepStrictEqual(blank.outputs.map((o) => o.length), [15, 512 * 1102, 512 * 4]);
  assert.deepStrictEqual(blank.crcs, blank.outputs.map(crc32), 'the CRC-32 over runs of zero words');
  assert.strictEqual(converted.notice.reason, '');

  // Refused exports give the invalid-format notice, with the reason the core gives; a run after
  // them is whole.
  const notExport = 'line 1 is not "LedgerExport"';
  const refused = {
    'empty': [Buffer.alloc(0), 'the file is empty'],
    'Ctrl-Z first': [Buffer.from('\x1aLedgerExport\r\n'), 'the file is empty'],
    'not an export': [Buffer.from('Name\tFirst\nSmith\tAnn\n'), notExport],
    'binary': [Buffer.from([0, 0xff, 0x1a, 0x0a, 0x89, 0x50, 0x4e, 0x47]), notExport],
    'a cut header': [Buffer.from('LedgerExpor'), notExport],
    'UTF-8 mark': [Buffer.from('\ufeffLedgerExport\r\n'), 'the file begins with a UTF-8 byte-order mark'],
    'UTF-16': [Buffer.from('\ufeffLedgerExport\r\n', 'utf16le'), 'the file is UTF-16 text'],
    'UTF-16 big-endian': [Buffer.from([0xfe, 0xff, 0, 0x4c]), 'the file is UTF-16 text'],
    'no line feed': [Buffer.from('LedgerExport'), 'line 1 ends without a line feed'],
  };
  for (const [name, [bytes, reason]] of Object.entries(refused)) {
    const result = run(module, bytes);
    assert.strictEqual(result.completed, false, name);
    // As the dialogs show it: information, under the converter's caption; the reason beside it.
    assert.deepStrictEqual(result.notice, {...module.notice('invalidFormat', ''), reason}, name);
    assert.strictEqual(result.notice.kind, 'information', name);
    assert.strictEqual(result.notice.caption, converted.notice.caption, name);
    assert.strictEqual(result.preview, null, name);
    // As the file conversion does, the version file is written before the export is read; the
    // record files are never begun. (The page offers no file of a run that did not complete.)
    assert.deepStrictEqual(result.outputs.map((o) => o.length), [15, 0, 0], name);
  }
  // Without room for a record a line, or for the preview, besides the export, nothing is begun.
  const lines = example.toString('latin1').split('\n').length;
  assert.strictEqual(run(module, example, 15 + 512 * lines - 1).fits, false);
  assert.deepStrictEqual(run(module, example, 15 + 512 * lines - 1).outputs.map((o) => o.length), [0, 0, 0]);
  const fitted = run(module, example, 15 + 512 * lines);
  assert.ok(fitted.fits && fitted.completed, 'one record a line, and the version file, fit');
  assert.strictEqual(run(module, Buffer.from('LedgerExport\t' + 'x'.repeat(5000)), 15 + 512).fits, false,
    'a long line needs room for its preview');
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
  assert.deepStrictEqual(preview(module, refused['not an export'][0]), {valid: false});
  assert.strictEqual(run(module, small).preview.utf8, 0, 'no UTF-8 in single-byte text');

  // Compared with earlier record files in the same run: their own outputs change nothing; with a
  // scout gone, one added and an adult's field changed, the lists name them; a file that is not
  // whole records leaves the comparison, and never the run, out.
  const latin1 = (bytes) => Buffer.from(bytes).toString('latin1');
  const outputs = run(module, small).outputs;
  const same = run(module, small, Infinity, {scouts: outputs[1], adults: outputs[2]});
  assert.ok(same.completed && same.preview !== null);
  assert.strictEqual(same.notice.changes,
    'The files it replaced held exactly these members. Check that the export is a new one.');
  assert.deepStrictEqual([same.comparison.complete, same.comparison.anyChange, same.comparison.scouts],
    [true, false, {added: 0, removed: 0, changed: 0, unchanged: 2}]);
  const edited = Buffer.from(outputs[2]);
  edited.write('LATER', 512 + 16, 'latin1');  // the second adult's second field
  const earlierScouts = Buffer.concat([outputs[1].subarray(0, 512), Buffer.from(outputs[2].subarray(0, 512))]);
  earlierScouts.write('S-9\0\0', 512, 'latin1');
  const changed = run(module, small, Infinity, {scouts: earlierScouts, adults: edited, preview: false});
  assert.ok(changed.completed);
  assert.strictEqual(changed.preview, null, 'no preview asked for');
  assert.strictEqual(changed.notice.changes, 'Compared with the files it replaced: ' +
    '1 scouts added, 1 removed, 0 changed; 0 adults added, 0 removed, 1 changed.');
  assert.strictEqual(changed.comparison.text,
    '1 scouts added, 1 removed, 0 changed; 0 adults added, 0 removed, 1 changed.');
  assert.deepStrictEqual(changed.comparison.added.map((m) => [m.kind, m.number, m.line, latin1(m.key)]),
    [['scout', 2, 4, 'S-2']]);
  assert.deepStrictEqual(changed.comparison.removed.map((m) => [m.kind, m.record, latin1(m.key)]),
    [['scout', 2, 'S-9']]);
  assert.deepStrictEqual(changed.comparison.changed.map((m) => [m.kind, m.number, latin1(m.key),
    m.fields.map((f) => [f.field, latin1(f.earlier), latin1(f.now)])]), [['adult', 2, 'A-2\xe9', [[1, 'LATER', '']]]]);
  changed.outputs.forEach((output, i) => assert.ok(output.equals(outputs[i]), 'the same outputs'));
  const cut = run(module, small, Infinity, {scouts: outputs[1].subarray(0, 700), adults: null});
  assert.ok(cut.completed);
  assert.strictEqual(cut.notice.changes, '');
  assert.deepStrictEqual([cut.comparison.complete, cut.comparison.failed], [false, 'CPERW.DAT']);
  assert.strictEqual(run(module, small).comparison, null, 'no comparison without earlier files');

  // The fields that hold UTF-8 multi-byte text, and no other: plain ASCII, single-byte text,
  // a cut or overlong sequence, a surrogate.
  const utf8 = ['S-1', 'Zoë', 'Łukasiewicz-Żółkiewska', 'plain', 'Caf\xe9', '\xc3', '\xc0\xaf',
    '\xed\xa0\x80', '😀'];
  const utf8Bytes = Buffer.concat([Buffer.from('LedgerExport\n'),
    Buffer.from(utf8.slice(0, 4).join('\t') + '\t', 'utf8'),
    Buffer.from(utf8.slice(4, 8).join('\t') + '\t', 'latin1'), Buffer.from(utf8[8] + '\n', 'utf8')]);
  assert.strictEqual(run(module, utf8Bytes).preview.utf8, 3);

  // What a run holds counts each line's preview at its stored fields' most: a long line takes
  // little room, so an export far larger than its output converts in a small room.
  const long = Buffer.from('LedgerExport\r\nS-1\t' + 'x'.repeat(1 << 20) + '\r\n');
  const held = run(module, long, 20000);
  assert.ok(held.fits && held.completed && held.needs < 20000, String(held.needs));
  assert.deepStrictEqual(held.outputs.map((o) => o.length), [15, 512, 0]);

  // Progress: the line read, of the export's lines, a few hundred times at most, in order.
  const many = Buffer.from('LedgerExport\n' + 'S-1\tx\n'.repeat(300000));
  const reports = run(module, many).progress;
  assert.ok(reports.length >= 100 && reports.length <= 300, String(reports.length));
  reports.forEach(([line, lines], i) => {
    assert.strictEqual(lines, 300002);
    assert.ok(line > (i ? reports[i - 1][0] : 0) && line < lines);
  });
  console.log('module test: 1 passed, 0 failed');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
