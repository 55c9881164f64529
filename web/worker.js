// The conversion worker: follows the core's module (createLedgerModule) in one Blob. It takes
// {warm} and {file, limit} messages, and answers each of the latter with one
// {completed, notice, files, preview} or {error} message; the preview (the core check's packed
// ArrayBuffer, laid out as binding.cc says, or null) is transferred, not copied.
'use strict';

const OUTPUT_NAMES = ['PVERSION.DAT', 'CPERW.DAT', 'APERW.DAT'];
let modulePromise = null;

// Always a promise: the factory of Debian's Emscripten returns the module itself, with no
// then() or catch(), and throws where a newer one would reject.
function loadModule() {
  if (!modulePromise) {
    modulePromise = Promise.resolve().then(() => createLedgerModule({print() {}, printErr() {}}));
  }
  return modulePromise;
}

// An upper bound of what a run holds besides the export. Each line gives at most one 512-byte
// record, or one preview row (8 bytes and 2 a column, at most 20 columns, and 4 if it is cut)
// and its own bytes plus one; a Ctrl-Z byte ends the export. The files leave the module as they
// are written and the preview is made after them, so the larger of the two counts. Counting
// stops once it passes `limit`.
function runBound(bytes, limit) {
  const eof = bytes.indexOf(0x1a);
  const end = eof < 0 ? bytes.length : eof;
  let lines = 1;
  for (let at = bytes.indexOf(0x0a); at >= 0 && at < end && 15 + 512 * lines <= limit;
    at = bytes.indexOf(0x0a, at + 1)) {
    lines++;
  }
  const previewHeader = 4 * (11 + 2 * 2 * 20);
  return Math.max(15 + 512 * lines, previewHeader + (8 + 2 * 20 + 4 + 1) * lines + end);
}

// Copies the last check's preview parts out of the module's memory into one buffer.
function takePreview(module) {
  const parts = [];
  for (let i = 0, data; (data = module._ledger_preview_data(i) >>> 0) !== 0; i++) {
    parts.push(module.HEAPU8.subarray(data, data + (module._ledger_preview_size(i) >>> 0)));
  }
  const packed = new Uint8Array(parts.reduce((total, part) => total + part.length, 0));
  let at = 0;
  for (const part of parts) {
    packed.set(part, at);
    at += part.length;
  }
  return packed.buffer;
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
  let preview = null;
  let files = [];
  let notice;
  try {
    try {
      await readInto(file, module, input);
    } catch (error) {
      // What the command says of an export it cannot read: the caption, and the file's name.
      const caption = module.UTF8ToString(module.ccall('ledger_text', 'number', ['string'], ['readFailed']));
      return {completed: false, notice: {kind: 'warning', caption, text: file.name}};
    }
    phases.read = performance.now();
    const needed = size + runBound(module.HEAPU8.subarray(input, input + size), limit - size);
    if (needed > limit) return {tooLarge: {fileBytes: size}};
    // Each output comes out of the module 16 MiB at a time, each piece copied into a Blob at
    // once; the pieces of a completed run make the files.
    const pieces = [[], [], []];
    module.ledgerOutput = {
      begin(index) { pieces[index] = []; },
      piece(index, data, length) { pieces[index].push(new Blob([module.HEAPU8.subarray(data, data + length)])); },
      drop(index) { pieces[index] = []; },
    };
    try {
      completed = module._ledger_convert(input, size) === 1;
    } finally {
      module.ledgerOutput = null;
    }
    phases.converted = performance.now();
    notice = {
      kind: module._ledger_notice_kind() === 1 ? 'warning' : 'information',
      caption: module.UTF8ToString(module._ledger_notice_caption() >>> 0),
      text: module.UTF8ToString(module._ledger_notice_text() >>> 0),
    };
    if (completed) {
      files = OUTPUT_NAMES.map((name, i) => ({name, blob: new Blob(pieces[i])}));
      phases.offered = performance.now();
      // The same bytes, read again by the core's check for the preview.
      if (module._ledger_check(input, size) === 1) preview = takePreview(module);
    }
  } finally {
    module._ledger_release();
    module._free(input);
  }
  const ended = performance.now();
  const phaseMs = {
    read: phases.read - phases.started,
    convert: phases.converted - phases.read,
    offer: (phases.offered || ended) - phases.converted,
    preview: phases.offered ? ended - phases.offered : 0,
  };
  return {completed, notice, files, preview, memoryBytes: module.HEAPU8.length, phaseMs};
}

self.onmessage = async (event) => {
  if (event.data.warm) {
    // Loaded ahead of the first choice, so that a run does not wait for it.
    loadModule().catch(() => { modulePromise = null; });
    return;
  }
  try {
    const result = await convert(event.data.file, event.data.limit);
    self.postMessage(result, result.preview ? [result.preview] : []);
  } catch (error) {
    // The module may be unusable after a failure inside it: the next run loads a fresh one.
    modulePromise = null;
    self.postMessage({error: String((error && error.message) || error)});
  }
};
