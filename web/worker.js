// The conversion worker: follows the core's module (createLedgerModule) in one Blob. It takes
// {warm} and {file, limit} messages, and answers each of the latter with one
// {completed, notice, files, preview} or {error} message. The files ({name, pieces}, pieces being
// ArrayBuffers) and the preview's typed arrays (as the module's convert returns them, or null)
// are transferred, not copied.
'use strict';

let modulePromise = null;

// Always a promise: the factory of Debian's Emscripten returns the module itself, with no
// then() or catch(), and throws where a newer one would reject.
function loadModule() {
  if (!modulePromise) {
    modulePromise = Promise.resolve().then(() => createLedgerModule({print() {}, printErr() {}}));
  }
  return modulePromise;
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

// The buffers of a result's files and preview, to be transferred with it.
function transferable(result) {
  const buffers = [];
  for (const file of result.files || []) buffers.push(...file.pieces);
  const preview = result.preview;
  if (preview) {
    for (const section of [preview.scouts, preview.adults]) {
      for (const part of ['lines', 'cellAt', 'lengths', 'keeps', 'cut']) buffers.push(section[part].buffer);
    }
    buffers.push(preview.cells.buffer);
  }
  return buffers;
}

async function convert(file, limit) {
  const module = await loadModule();
  const size = file.size;
  if (size > limit) return {tooLarge: {fileBytes: size}};
  const input = module._malloc(Math.max(size, 1)) >>> 0;
  if (input === 0) return {outOfMemory: true};
  const phases = {started: performance.now()};
  let run;
  let files = [];
  try {
    try {
      await readInto(file, module, input);
    } catch (error) {
      // What the command says of an export it cannot read: the caption, and the file's name.
      return {completed: false, notice: module.notice('readFailed', file.name)};
    }
    phases.read = performance.now();
    // Each output leaves the module a piece at a time, copied at once into an ArrayBuffer of its
    // own; the pieces of a completed run make the files, which the page turns into Blobs only
    // when they are asked for.
    const names = module.outputNames();
    const pieces = names.map(() => []);
    // The module bounds what the run holds besides the export, and runs only within the limit.
    run = module.convert(input, size, limit - size, {
      begin(index) { pieces[index] = []; },
      piece(index, bytes) {
        try {
          pieces[index].push(bytes.slice().buffer);
          return true;
        } catch (error) {
          return false;  // the page is out of memory: the run says so
        }
      },
      drop(index) { pieces[index] = []; },
    });
    phases.converted = performance.now();
    if (!run.fits) return {tooLarge: {fileBytes: size}};
    if (run.completed) files = names.map((name, i) => ({name, pieces: pieces[i]}));
  } finally {
    module._free(input);
  }
  const phaseMs = {
    read: phases.read - phases.started,
    // The preview is made in the same read of the export as the files.
    convert: phases.converted - phases.read,
  };
  return {completed: run.completed, notice: run.notice, files, preview: run.preview,
    memoryBytes: module.HEAPU8.length, phaseMs};
}

self.onmessage = async (event) => {
  if (event.data.warm) {
    // Loaded ahead of the first choice, so that a run does not wait for it.
    loadModule().catch(() => { modulePromise = null; });
    return;
  }
  try {
    const result = await convert(event.data.file, event.data.limit);
    self.postMessage(result, transferable(result));
  } catch (error) {
    // The module may be unusable after a failure inside it: the next run loads a fresh one.
    modulePromise = null;
    self.postMessage({error: String((error && error.message) || error)});
  }
};
