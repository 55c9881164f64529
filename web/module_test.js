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
  const completed = module._ledger_convert(input, bytes.length) === 1;
  module._free(input);
  const outputs = [0, 1, 2].map((i) => {
    const data = module._ledger_output_data(i) >>> 0;
    return Buffer.from(module.HEAPU8.slice(data, data + (module._ledger_output_size(i) >>> 0)));
  });
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

  // Refused exports give the invalid-format warning and no output; a run after them is whole.
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
    assert.deepStrictEqual(result.outputs.map((o) => o.length), [0, 0, 0], name);
  }
  const again = run(module, example);
  assert.ok(again.completed);
  converted.outputs.forEach((output, i) => assert.ok(output.equals(again.outputs[i]), 'same bytes twice'));
  console.log('module test: 1 passed, 0 failed');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
