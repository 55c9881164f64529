// The conversion worker: follows the core's module (createLedgerModule) in one Blob. It takes
// {warm} and {file, limit, earlier, compareOnly} messages, and answers each of the latter with
// {progress} messages while it runs, then one {completed, notice, files, zip, preview, crcs,
// comparison, unread} or {error} message. `earlier`, when given, holds the earlier record files
// to compare with ({scouts, adults}, each a Blob or null); a run with `compareOnly` keeps no
// output and makes no preview, and gives each output's CRC-32 to tell that its outputs are those
// of the run it is compared for. The files ({name, pieces}, pieces being ArrayBuffers), the
// archive's own parts and the preview's typed arrays (as the module's convert returns them, or
// null) are transferred, not copied.
'use strict';

// The least time between two progress messages.
const PROGRESS_MS = 50;

// Tells the page of the share of the export read, `share` from 0 to 1: the file is read twice,
// into the module's memory and by the run, and each read is half of the whole.
let progressAt = 0;
function tellProgress(share) {
  const now = performance.now();
  if (now - progressAt < PROGRESS_MS) return;
  progressAt = now;
  self.postMessage({progress: share});
}

// The archive "Download all" saves: the outputs stored (not compressed) at its root, dated `date`
// (a Date, the conversion's moment: the archive is made for one user then, not reproduced). The
// page puts each file's bytes after its header: {heads: [ArrayBuffer], tail: ArrayBuffer}; null
// when the outputs pass what an archive without the 64-bit extension can hold.
// Each entry carries the date twice: in DOS's fields, in local time to the even second, which
// every unpacker reads; and in the extended timestamp field (0x5455) as UTC seconds, for the
// unpackers that read it, so that the files keep their moment across time zones.
const EXTRA_BYTES = 9;
function zipParts(names, sizes, crcs, date) {
  // DOS dates run from 1980 to 2107: a clock outside them gives the nearest end.
  const year = Math.min(Math.max(date.getFullYear(), 1980), 2107);
  const dosDate = ((year - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  const dosTime = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  const seconds = Math.floor(date.getTime() / 1000) >>> 0;
  const heads = [];
  const central = [];
  let offset = 0;
  names.forEach((name, i) => {
    const nameBytes = new TextEncoder().encode(name);
    const head = new DataView(new ArrayBuffer(30 + nameBytes.length + EXTRA_BYTES));
    const entry = new DataView(new ArrayBuffer(46 + nameBytes.length + EXTRA_BYTES));
    // The fields the local header and the central directory's entry share, from `at` in each.
    const common = (view, at) => {
      view.setUint16(at, 10, true);  // version 1.0 needed to extract
      view.setUint16(at + 2, 0, true);  // no flags
      view.setUint16(at + 4, 0, true);  // stored
      view.setUint16(at + 6, dosTime, true);
      view.setUint16(at + 8, dosDate, true);
      view.setUint32(at + 10, crcs[i], true);
      view.setUint32(at + 14, sizes[i], true);  // stored: as large as the file
      view.setUint32(at + 18, sizes[i], true);
      view.setUint16(at + 22, nameBytes.length, true);
      view.setUint16(at + 24, EXTRA_BYTES, true);
    };
    // The extended timestamp after the name: the modification time alone (flag bit 0).
    const extra = (view, at) => {
      view.setUint16(at, 0x5455, true);
      view.setUint16(at + 2, 5, true);
      view.setUint8(at + 4, 1);
      view.setUint32(at + 5, seconds, true);
    };
    head.setUint32(0, 0x04034b50, true);
    common(head, 4);
    new Uint8Array(head.buffer).set(nameBytes, 30);
    extra(head, 30 + nameBytes.length);
    entry.setUint32(0, 0x02014b50, true);
    entry.setUint16(4, 10, true);  // made by version 1.0, MS-DOS
    common(entry, 6);
    entry.setUint32(42, offset, true);
    new Uint8Array(entry.buffer).set(nameBytes, 46);
    extra(entry, 46 + nameBytes.length);
    heads.push(head.buffer);
    central.push(new Uint8Array(entry.buffer));
    offset += head.byteLength + sizes[i];
  });
  const centralBytes = central.reduce((total, entry) => total + entry.length, 0);
  if (offset + centralBytes > 0xffffffff || sizes.some((size) => size > 0xffffffff)) return null;
  const tail = new Uint8Array(centralBytes + 22);
  let at = 0;
  for (const entry of central) {
    tail.set(entry, at);
    at += entry.length;
  }
  const end = new DataView(tail.buffer, at);
  end.setUint32(0, 0x06054b50, true);
  end.setUint16(8, names.length, true);  // entries on this disk
  end.setUint16(10, names.length, true);  // entries in all
  end.setUint32(12, centralBytes, true);
  end.setUint32(16, offset, true);
  return {heads, tail: tail.buffer};
}

let modulePromise = null;

// Always a promise: the factory of Debian's Emscripten returns the module itself, with no
// then() or catch(), and throws where a newer one would reject.
function loadModule() {
  if (!modulePromise) {
    modulePromise = Promise.resolve().then(() => createLedgerModule({print() {}, printErr() {}}));
  }
  return modulePromise;
}

// The bytes a read asks for, where the browser lets the reader choose.
const READ_BYTES = 4 * 1024 * 1024;

// A reader of `file` that fills a buffer of READ_BYTES a read where the browser can (a chunk of
// its own size is a few dozen KiB, and each costs a turn of the event loop), else one that takes
// the browser's chunks: read() gives the next chunk.
function chunkReader(file) {
  const stream = file.stream();
  let reader;
  try {
    reader = stream.getReader({mode: 'byob'});
  } catch (error) {
    const plain = stream.getReader();
    return {read: () => plain.read()};
  }
  let buffer = new ArrayBuffer(READ_BYTES);
  return {
    async read() {
      const result = await reader.read(new Uint8Array(buffer));
      // The buffer read into comes back in the view, as the one to read into next.
      if (result.value) buffer = result.value.buffer;
      return result;
    },
  };
}

// Reads `file` straight into the module's memory at `at`, a chunk at a time: holding the whole
// file in an ArrayBuffer first would touch its size in memory once more.
async function readInto(file, module, at, report = true) {
  const end = at + file.size;
  const reader = chunkReader(file);
  for (;;) {
    const {done, value} = await reader.read();
    if (done) break;
    if (value.length > end - at) throw new Error('the file changed while it was read');
    module.HEAPU8.set(value, at);
    at += value.length;
    if (report) tellProgress(0.5 * (1 - (end - at) / file.size));
  }
  if (at !== end) throw new Error('the file changed while it was read');
}

// The buffers of a result's files and preview, to be transferred with it.
function transferable(result) {
  const buffers = [];
  for (const file of result.files || []) buffers.push(...file.pieces);
  if (result.zip) buffers.push(...result.zip.heads, result.zip.tail);
  const preview = result.preview;
  if (preview) {
    for (const section of [preview.scouts, preview.adults]) {
      for (const part of ['lines', 'cellAt', 'lengths', 'keeps', 'cut']) buffers.push(section[part].buffer);
    }
    buffers.push(preview.cells.buffer);
  }
  return buffers;
}

// Reads the earlier record files into the module's memory: {scouts, adults} as convert takes
// them, each {at, size} or null, the addresses to free, and the name of a file that could not be
// read (whose run then compares with neither: a comparison never makes the run fail).
async function readEarlier(module, earlier) {
  const placed = {scouts: null, adults: null};
  const held = [];
  for (const kind of ['scouts', 'adults']) {
    const file = earlier[kind];
    if (!file) continue;
    const at = module._malloc(Math.max(file.size, 1)) >>> 0;
    if (at === 0) return {placed: null, held, unread: file.name};
    held.push(at);
    try {
      await readInto(file, module, at, false);
    } catch (error) {
      return {placed: null, held, unread: file.name};
    }
    placed[kind] = {at, size: file.size};
  }
  return {placed, held, unread: ''};
}

async function convert(file, limit, earlier, compareOnly) {
  const module = await loadModule();
  const size = file.size;
  const earlierBytes = earlier ? [earlier.scouts, earlier.adults].reduce((total, f) => total + (f ? f.size : 0), 0) : 0;
  if (size + earlierBytes > limit) return {tooLarge: {fileBytes: size + earlierBytes, needs: null}};
  progressAt = performance.now();
  const input = module._malloc(Math.max(size, 1)) >>> 0;
  if (input === 0) return {outOfMemory: true};
  const phases = {started: performance.now()};
  let run;
  let files = [];
  let zip = null;
  let held = [];
  let unread = '';
  try {
    try {
      await readInto(file, module, input);
    } catch (error) {
      // What the command says of an export it cannot read: the caption, and the file's name.
      return {completed: false, notice: module.notice('readFailed', file.name)};
    }
    let compared = null;
    if (earlier) {
      const read = await readEarlier(module, earlier);
      held = read.held;
      unread = read.unread;
      if (read.placed) compared = {...read.placed, preview: !compareOnly};
    }
    phases.read = performance.now();
    // Each output leaves the module a piece at a time, copied at once into an ArrayBuffer of its
    // own; the pieces of a completed run make the files, which the page turns into Blobs only
    // when they are asked for.
    const names = module.outputNames();
    const pieces = names.map(() => []);
    // The module bounds what the run holds besides the export, and runs only within the limit.
    run = module.convert(input, size, limit - size - earlierBytes, {
      begin(index) { pieces[index] = []; },
      piece(index, bytes) {
        if (compareOnly) return true;
        try {
          pieces[index].push(bytes.slice().buffer);
          return true;
        } catch (error) {
          return false;  // the page is out of memory: the run says so
        }
      },
      drop(index) { pieces[index] = []; },
      progress(line, lines) { tellProgress(0.5 + 0.5 * line / lines); },
    }, compared);
    phases.converted = performance.now();
    if (!run.fits) return {tooLarge: {fileBytes: size, needs: run.needs}};
    if (run.completed && !compareOnly) {
      files = names.map((name, i) => ({name, pieces: pieces[i]}));
      const sizes = pieces.map((parts) => parts.reduce((total, piece) => total + piece.byteLength, 0));
      zip = zipParts(names, sizes, run.crcs, new Date());
    }
  } finally {
    module._free(input);
    for (const at of held) module._free(at);
  }
  const phaseMs = {
    read: phases.read - phases.started,
    // The preview is made in the same read of the export as the files.
    convert: phases.converted - phases.read,
  };
  return {completed: run.completed, notice: run.notice, files, zip, preview: run.preview,
    crcs: run.crcs, comparison: run.comparison, unread, memoryBytes: module.HEAPU8.length, phaseMs};
}

self.onmessage = async (event) => {
  if (event.data.warm) {
    // Loaded ahead of the first choice, so that a run does not wait for it.
    loadModule().catch(() => { modulePromise = null; });
    return;
  }
  try {
    const {file, limit, earlier, compareOnly} = event.data;
    const result = await convert(file, limit, earlier || null, Boolean(compareOnly));
    self.postMessage(result, transferable(result));
  } catch (error) {
    // The module may be unusable after a failure inside it: the next run loads a fresh one.
    modulePromise = null;
    self.postMessage({error: String((error && error.message) || error)});
  }
};
