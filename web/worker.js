// The conversion worker: follows the core's module (createLedgerModule) in one Blob. It takes
// {warm} and {file, limit} messages, and answers each of the latter with one
// {completed, notice, files} or {error} message.
'use strict';

const OUTPUT_NAMES = ['PVERSION.DAT', 'CPERW.DAT', 'APERW.DAT'];
let modulePromise = null;

function loadModule() {
  if (!modulePromise) {
    modulePromise = createLedgerModule({print() {}, printErr() {}});
  }
  return modulePromise;
}

// An upper bound of the output's size: each line gives at most one 512-byte record, and a Ctrl-Z
// byte ends the export. Counting stops once the bound passes `limit`.
function outputBound(bytes, limit) {
  const eof = bytes.indexOf(0x1a);
  const end = eof < 0 ? bytes.length : eof;
  let bound = 15 + 512;
  for (let at = bytes.indexOf(0x0a); at >= 0 && at < end && bound <= limit;
    at = bytes.indexOf(0x0a, at + 1)) {
    bound += 512;
  }
  return bound;
}

// Reads `file` straight into the module's memory at `at`, a chunk at a time: holding the whole
// file in an ArrayBuffer first would touch its size in memory once more.
async function readInto(file, module, at) {
  const end = at + file.size;
  const reader = file.stream().getReader();
  for (;;) {
    const {done, value} = await reader.read();
    if (done) break;
    if (value.length > end - at) throw new Error('the file changed while it was read');
    module.HEAPU8.set(value, at);
    at += value.length;
  }
  if (at !== end) throw new Error('the file changed while it was read');
}

async function convert(file, limit) {
  const module = await loadModule();
  const size = file.size;
  if (size > limit) return {tooLarge: {fileBytes: size}};
  const input = module._malloc(Math.max(size, 1)) >>> 0;
  if (input === 0) return {outOfMemory: true};
  const phases = {started: performance.now()};
  let completed;
  try {
    await readInto(file, module, input);
    phases.read = performance.now();
    const needed = size + outputBound(module.HEAPU8.subarray(input, input + size), limit - size);
    if (needed > limit) return {tooLarge: {fileBytes: size}};
    completed = module._ledger_convert(input, size) === 1;
    phases.converted = performance.now();
  } finally {
    module._free(input);
  }
  const notice = {
    kind: module._ledger_notice_kind() === 1 ? 'warning' : 'information',
    caption: module.UTF8ToString(module._ledger_notice_caption() >>> 0),
    text: module.UTF8ToString(module._ledger_notice_text() >>> 0),
  };
  const files = [];
  if (completed) {
    for (let i = 0; i < OUTPUT_NAMES.length; i++) {
      const data = module._ledger_output_data(i) >>> 0;
      const length = module._ledger_output_size(i) >>> 0;
      // A Blob copies the bytes once, straight out of the module's memory.
      files.push({name: OUTPUT_NAMES[i], blob: new Blob([module.HEAPU8.subarray(data, data + length)])});
    }
  }
  module._ledger_release();
  const phaseMs = {
    read: phases.read - phases.started,
    convert: phases.converted - phases.read,
    offer: performance.now() - phases.converted,
  };
  return {completed, notice, files, memoryBytes: module.HEAPU8.length, phaseMs};
}

self.onmessage = async (event) => {
  if (event.data.warm) {
    // Loaded ahead of the first choice, so that a run does not wait for it.
    loadModule().catch(() => { modulePromise = null; });
    return;
  }
  try {
    self.postMessage(await convert(event.data.file, event.data.limit));
  } catch (error) {
    // The module may be unusable after a failure inside it: the next run loads a fresh one.
    modulePromise = null;
    self.postMessage({error: String((error && error.message) || error)});
  }
};
