// The page: hands one chosen or dropped file to the conversion worker, shows the run's notice in
// a modal dialog and, after a completed run, offers the three files and previews what their
// records hold. NOTICES (the core's notices that the page shows of its own: {code, kind, caption,
// message} by code) is put in front of this script when the page is built.
'use strict';

// What the 32-bit module can hold at once: the export and its output together.
const LIMIT_BYTES = 1024 * 1024 * 1024;
// Runs shorter than this show no progress bar, so that a quick run does not flicker.
const PROGRESS_DELAY_MS = 150;
// Members shown at once in each preview table.
const PAGE_ROWS = 50;

const chooseButton = document.getElementById('choose');
const fileInput = document.getElementById('file');
const statusLine = document.getElementById('status');
const progress = document.getElementById('progress');
const results = document.getElementById('results');
const links = document.getElementById('links');
const saveButton = document.getElementById('save');
const saveStatus = document.getElementById('save-status');
const downloadAll = document.getElementById('download-all');
const importNext = document.getElementById('import-next');
const cancelButton = document.getElementById('cancel');
const busyLine = document.getElementById('busy');
const dialog = document.getElementById('notice');
const okButton = document.getElementById('ok');
// The converted notice's first paragraph says that the run completed; the rest, how to import,
// is shown only once the files are saved.
const [CONVERTED_TEXT, ...IMPORT_TEXT] = NOTICES.converted.message.split('\n\n');
// What the dialog says after a completed run, after the core's sentence: saving comes first.
const SAVE_FIRST = 'Now save the files below, with “Download all” or one by one, into the folder ' +
    'from which your ledger program imports.';
// What the page says once "Download all" has saved the archive, before how to import.
const UNPACK_TEXT = 'Unpack ledger-import.zip into the folder from which your ledger program imports, ' +
    'replacing the files there.';
// The advice under the reason a file is no export.
const EXPORT_AGAIN = 'Please export it again from the web program, and choose that file here ' +
    'without opening it in another program first.';

const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById('worker-source').textContent], {type: 'text/javascript'}));
let worker = null;
let running = false;
let progressTimer = 0;
let offered = [];  // {name, size, pieces, blob, url} of the files offered now
let zip = null;  // {heads, tail, url} of the archive of the files offered now, or null
let saved = new Set();  // the names of the offered files saved one by one
let current = null;  // the file being converted
let shown = null;  // the preview on the page now: readPreview's result
let runs = 0;  // the runs started, so that a preview drawn late is that of the last run

function describeBytes(bytes) {
  if (bytes >= 1024 * 1024 * 1024) return (bytes / (1024 * 1024 * 1024)).toFixed(1) + ' GiB';
  if (bytes >= 1024 * 1024) return (bytes / (1024 * 1024)).toFixed(1) + ' MiB';
  if (bytes >= 1024) return (bytes / 1024).toFixed(1) + ' KiB';
  return bytes + (bytes === 1 ? ' byte' : ' bytes');
}

// Shows `notice` in the dialog: its message's paragraphs, or `paragraphs` in their place.
function showNotice(notice, paragraphs = notice.message.split('\n\n')) {
  document.getElementById('icon-information').hidden = notice.kind !== 'information';
  document.getElementById('icon-warning').hidden = notice.kind === 'information';
  document.getElementById('notice-caption').textContent = notice.caption;
  const body = document.getElementById('notice-body');
  body.replaceChildren(...paragraphs.map((paragraph) => {
    const p = document.createElement('p');
    p.textContent = paragraph;
    return p;
  }));
  if (dialog.open) dialog.close();
  dialog.showModal();
  okButton.focus();
}

// After a completed run, the keyboard goes on to saving.
dialog.addEventListener('close', () => (results.hidden || !zip ? chooseButton : downloadAll).focus());

function clearOffer() {
  for (const file of offered) if (file.url) URL.revokeObjectURL(file.url);
  if (zip && zip.url) URL.revokeObjectURL(zip.url);
  offered = [];
  zip = null;
  saved = new Set();
  links.replaceChildren();
  results.hidden = true;
  saveStatus.textContent = '';
  importNext.textContent = '';
}

// Once the files are saved, whichever way, the page says how to import them; after the archive,
// first where to unpack it.
function markSaved(archive = false) {
  importNext.textContent = (archive ? [UNPACK_TEXT, ...IMPORT_TEXT] : IMPORT_TEXT).join(' ');
}

// A file's Blob, made from the worker's pieces when it is first asked for: making one copies its
// bytes, which a run then does only for the files that are saved, and after the dialog shows.
function blobOf(file) {
  if (!file.blob) {
    file.blob = new Blob(file.pieces);
    file.pieces = null;
  }
  return file.blob;
}

// The archive of the three files: the worker's headers around the files' Blobs, which it holds
// without copying them again.
function zipBlob() {
  const parts = [];
  offered.forEach((file, i) => parts.push(zip.heads[i], blobOf(file)));
  parts.push(zip.tail);
  return new Blob(parts, {type: 'application/zip'});
}

// Points `link` at the Blob that `make` makes, once, for `holder()` before anything can follow it:
// a press, the keyboard's focus or a click.
function readyLink(link, holder, make) {
  const point = () => {
    const held = holder();
    if (!held) return;
    if (!held.url) held.url = URL.createObjectURL(make());
    link.href = held.url;
  };
  for (const type of ['pointerdown', 'focus', 'click']) link.addEventListener(type, point);
}

readyLink(downloadAll, () => zip, zipBlob);
downloadAll.addEventListener('click', () => markSaved(true));

function offer(files, archive) {
  offered = files.map(({name, pieces}) => ({name, pieces, size: pieces.reduce((total, piece) => total + piece.byteLength, 0)}));
  zip = archive;
  downloadAll.parentElement.hidden = !zip;
  downloadAll.href = '#';
  if (zip) {
    const bytes = zip.heads.reduce((total, head) => total + head.byteLength, zip.tail.byteLength) +
        offered.reduce((total, file) => total + file.size, 0);
    document.getElementById('download-all-size').textContent = '(ledger-import.zip, ' + describeBytes(bytes) + ')';
  }
  for (const file of offered) {
    const link = document.createElement('a');
    link.href = '#';
    readyLink(link, () => file, () => blobOf(file));
    link.addEventListener('click', () => {
      saved.add(file.name);
      if (saved.size === offered.length) markSaved();
    });
    link.download = file.name;
    link.textContent = file.name;
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = ' (' + describeBytes(file.size) + ')';
    const item = document.createElement('li');
    item.append(link, size);
    links.append(item);
  }
  saveButton.hidden = typeof window.showDirectoryPicker !== 'function';
  results.hidden = false;
}

// The preview, as the module's convert returns it (web/binding.cc describes it). Only the rows of
// the page on screen become elements.
const previewSection = document.getElementById('preview');
const onlyCut = document.getElementById('only-cut');
const decoder = new TextDecoder('windows-1252');

// A count as the reader's locale writes it, with its noun.
function counted(count, one, many) {
  return count.toLocaleString() + ' ' + (count === 1 ? one : many);
}

// Export bytes as text: windows-1252, with control bytes as their visible symbols.
function decodeBytes(bytes) {
  return decoder.decode(bytes).replace(/[\x00-\x1f]/g, (c) => String.fromCharCode(0x2400 + c.charCodeAt(0)));
}

function readPreview(preview) {
  const counts = {scouts: preview.scouts.count, adults: preview.adults.count, cuts: preview.cuts, utf8: preview.utf8};
  const groups = [['scouts', 'scout', preview.scouts], ['adults', 'adult', preview.adults]]
    .map(([id, one, section]) => ({id, one, ...section, page: 0}));
  return {counts, groups, cells: preview.cells};
}

function fieldCell(kept, lost) {
  const cell = document.createElement('td');
  const keptText = decodeBytes(kept);
  if (lost.length === 0) {
    cell.textContent = keptText;
    return cell;
  }
  const lostText = decodeBytes(lost);
  const length = kept.length + lost.length;
  cell.className = 'cut';
  cell.title = 'Cut: the record keeps ' + kept.length + ' of its ' + length + ' bytes and loses “' + lostText + '”';
  const mark = document.createElement('span');
  mark.className = 'cut-mark';
  mark.setAttribute('aria-hidden', 'true');
  mark.textContent = '✂';
  const said = document.createElement('span');
  said.className = 'visually-hidden';
  said.textContent = 'cut, keeps ' + kept.length + ' of ' + length + ' bytes: ';
  const gone = document.createElement('del');
  gone.textContent = lostText;
  cell.append(mark, said, keptText, gone);
  return cell;
}

function renderGroup(preview, group) {
  const root = document.getElementById(group.id);
  const members = onlyCut.checked ? group.cut.length : group.count;
  const pages = Math.max(1, Math.ceil(members / PAGE_ROWS));
  group.page = Math.max(0, Math.min(group.page, pages - 1));
  const first = group.page * PAGE_ROWS;
  const last = Math.min(first + PAGE_ROWS, members);
  const empty = root.querySelector('.preview-empty');
  empty.textContent = group.count === 0 ? 'No ' + group.id + '.' : 'No ' + group.one + ' has a cut field.';
  empty.hidden = members > 0;
  root.querySelector('.table-scroll').hidden = members === 0;
  const pager = root.querySelector('.pager');
  pager.hidden = members <= PAGE_ROWS;
  pager.querySelector('.pager-range').textContent =
      (first + 1).toLocaleString() + '–' + last.toLocaleString() + ' of ' + counted(members, group.one, group.id) +
      (onlyCut.checked ? ' with cut fields' : '');
  const previous = pager.querySelector('.previous');
  const next = pager.querySelector('.next');
  const focused = document.activeElement;
  previous.disabled = group.page === 0;
  next.disabled = group.page === pages - 1;
  // A button that goes dark under the keyboard hands its focus to the other one.
  if (focused === previous && previous.disabled) next.focus();
  if (focused === next && next.disabled) previous.focus();

  const rows = [];
  for (let n = first; n < last; n++) {
    const index = onlyCut.checked ? group.cut[n] : n;
    const tr = document.createElement('tr');
    const number = document.createElement('th');
    number.scope = 'row';
    number.textContent = index + 1;
    const line = document.createElement('td');
    line.textContent = group.lines[index];
    const cutFields = document.createElement('td');
    tr.append(number, line, cutFields);
    const cut = [];
    const width = group.columns.length;
    let at = group.cellAt[index];
    for (let c = 0; c < width; c++) {
      const length = group.lengths[index * width + c];
      const keeps = group.keeps[index * width + c];
      if (keeps < length) cut.push(group.columns[c].field);
      tr.append(fieldCell(preview.cells.subarray(at, at + keeps), preview.cells.subarray(at + keeps, at + length)));
      at += length;
    }
    cutFields.textContent = cut.join(', ');
    rows.push(tr);
  }
  root.querySelector('tbody').replaceChildren(...rows);
}

function renderPreview() {
  for (const group of shown.groups) renderGroup(shown, group);
}

function showPreview(result) {
  const preview = readPreview(result);
  const {scouts, adults, cuts, utf8} = preview.counts;
  document.getElementById('preview-counts').textContent = counted(scouts, 'scout', 'scouts') + ', ' +
      counted(adults, 'adult', 'adults') + ', ' + counted(cuts, 'field cut', 'fields cut');
  // Text saved as UTF-8 is no error the run can find, but the ledger program reads each of its
  // bytes as a character, as the preview does.
  const utf8Line = document.getElementById('preview-utf8');
  utf8Line.hidden = utf8 === 0;
  utf8Line.textContent = utf8 === 0 ? '' : counted(utf8, 'field holds', 'fields hold') +
      ' UTF-8 text, whose characters of more than one byte the ledger program will show as this ' +
      'preview does, one character a byte.';
  for (const group of preview.groups) {
    const heads = [
      ['No.', 'The member\'s number in its section'],
      ['Line', 'The member\'s line in the export'],
      ['Cut', 'The fields that its record cuts'],
      ...group.columns.map((column) => ['Field ' + column.field, column.room === 0
        ? 'The flag word: 1 when the field reads yes, else 0' : 'Keeps up to ' + column.room + ' bytes']),
    ];
    const head = document.createElement('tr');
    for (const [text, title] of heads) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.textContent = text;
      th.title = title;
      head.append(th);
    }
    document.getElementById(group.id).querySelector('thead').replaceChildren(head);
  }
  shown = preview;
  // With fields cut, the members that lose bytes come first: they are what a leader looks for;
  // unless every member loses some, when the filter would hide nobody.
  const cutMembers = preview.groups.reduce((total, group) => total + group.cut.length, 0);
  onlyCut.checked = cutMembers > 0 && cutMembers < scouts + adults;
  renderPreview();
  previewSection.hidden = false;
}

function clearPreview() {
  previewSection.hidden = true;
  shown = null;
  for (const id of ['scouts', 'adults']) {
    const root = document.getElementById(id);
    root.querySelector('thead').replaceChildren();
    root.querySelector('tbody').replaceChildren();
  }
}

onlyCut.addEventListener('change', () => {
  if (!shown) return;
  for (const group of shown.groups) group.page = 0;
  renderPreview();
});
for (const id of ['scouts', 'adults']) {
  const root = document.getElementById(id);
  root.append(document.getElementById('preview-group').content.cloneNode(true));
  const heading = root.querySelector('h3');
  heading.id = id + '-heading';
  heading.textContent = root.dataset.heading;
  root.querySelector('.table-scroll').setAttribute('aria-labelledby', heading.id);
  for (const [name, step] of [['previous', -1], ['next', 1]]) {
    root.querySelector('.' + name).addEventListener('click', () => {
      const group = shown && shown.groups.find((g) => g.id === id);
      if (!group) return;
      group.page += step;
      renderGroup(shown, group);
    });
  }
}

// During a run the keyboard is on Cancel, taken from "Choose…" before that is disabled under it.
// Cancel is focusable from the run's start but shows only with the bar, so that a quick run does
// not flicker.
function setRunning(on, message) {
  running = on;
  clearTimeout(progressTimer);
  progress.hidden = true;
  progress.value = 0;
  cancelButton.hidden = !on;
  cancelButton.classList.toggle('pending', on);
  if (on) {
    cancelButton.focus();
    progressTimer = setTimeout(() => {
      progress.hidden = false;
      cancelButton.classList.remove('pending');
    }, PROGRESS_DELAY_MS);
  }
  chooseButton.disabled = on;
  document.getElementById('page').setAttribute('aria-busy', on ? 'true' : 'false');
  statusLine.textContent = message;
  busyLine.textContent = '';
}

// `needs` is what the run would hold besides the file, as the module counts it (null when the
// file alone passes the limit).
function tooLargeNotice(fileBytes, needs) {
  const file = 'the file is ' + describeBytes(fileBytes) + ' (' + fileBytes + ' bytes)';
  const held = needs === null ? file + ', more than'
    : file + ', and its records and their preview would take up to ' + describeBytes(needs) +
      ' (' + needs + ' bytes) more: together, more than';
  return {
    kind: 'warning',
    caption: NOTICES.converted.caption,
    message: 'This export is too large to convert in the browser: ' + held + ' the ' +
        describeBytes(LIMIT_BYTES) + ' that this page can hold.\n\n' +
        'No file was written. Please convert it with the Ledger Convert program on a computer.',
  };
}

function finishRun(file, started, result) {
  current = null;
  const seconds = ((performance.now() - started) / 1000).toFixed(2);
  performance.measure('ledger-run', {start: started, detail: {memoryBytes: result.memoryBytes || 0, phaseMs: result.phaseMs}});
  if (result.tooLarge) {
    setRunning(false, file.name + ' was not converted: it is too large for this page.');
    showNotice(tooLargeNotice(result.tooLarge.fileBytes, result.tooLarge.needs));
    return;
  }
  if (result.outOfMemory) result = {notice: NOTICES.outOfMemory};
  if (result.error !== undefined) {
    setRunning(false, file.name + ' was not converted.');
    showNotice({
      kind: 'warning',
      caption: NOTICES.converted.caption,
      message: 'The conversion stopped unexpectedly (' + result.error + ').\n\nNo file was written.',
    });
    return;
  }
  if (result.completed) offer(result.files, result.zip);
  // What the dialog says: after a completed run, that the files are to be saved; for a file that
  // is no export, why, as the command says it, and what to do.
  let paragraphs = result.notice.message.split('\n\n');
  if (result.completed) paragraphs = [CONVERTED_TEXT, SAVE_FIRST];
  if (result.notice.reason) paragraphs.push(file.name + ': ' + result.notice.reason + '.', EXPORT_AGAIN);
  // The notice follows in a task of its own, and the preview is drawn behind it once it has been
  // painted: after a large run, laying out the preview's tables takes longer than the rest of the
  // page, and would otherwise hold the notice back.
  const run = runs;
  setTimeout(() => {
    setRunning(false, file.name + (result.completed ? ' was converted in ' + seconds + ' s.' : ' was not converted.'));
    showNotice(result.notice, paragraphs);
    if (!result.completed || !result.preview) return;
    requestAnimationFrame(() => setTimeout(() => {
      if (run === runs) showPreview(result.preview);
    }, 0));
  }, 0);
}

function readyWorker() {
  if (!worker) {
    worker = new Worker(workerUrl);
    worker.postMessage({warm: true});
  }
  return worker;
}

// Says that a file chosen or dropped during a run is not taken.
function refuseWhileRunning(file) {
  busyLine.textContent = 'A conversion is under way' + (file ? ': ' + file.name + ' was not taken' : '') +
      '. Wait for it to end, or cancel it, then choose the file again.';
}

function startRun(file) {
  if (running) {
    refuseWhileRunning(file);
    return;
  }
  clearOffer();
  clearPreview();
  ++runs;
  const started = performance.now();
  current = file;
  setRunning(true, 'Converting ' + file.name + '…');
  if (file.size > LIMIT_BYTES) {
    finishRun(file, started, {tooLarge: {fileBytes: file.size, needs: null}});
    return;
  }
  const runner = readyWorker();
  const settle = (result) => {
    runner.onmessage = runner.onerror = null;
    if (result.error !== undefined) {
      // A failed worker may hold a broken module or memory it cannot give back: start afresh.
      runner.terminate();
      if (worker === runner) worker = null;
    }
    finishRun(file, started, result);
  };
  runner.onmessage = (event) => {
    if (event.data.progress !== undefined) {
      progress.value = event.data.progress;
      return;
    }
    settle(event.data);
  };
  runner.onerror = (event) => {
    event.preventDefault();
    settle({error: event.message || 'the worker failed'});
  };
  runner.postMessage({file, limit: LIMIT_BYTES});
}

// Stops the run at once: its worker goes, with whatever it held, and a fresh one is made ready.
function cancelRun() {
  if (!running || !current) return;
  const file = current;
  current = null;
  if (worker) {
    worker.onmessage = worker.onerror = null;
    worker.terminate();
    worker = null;
  }
  readyWorker();
  setRunning(false, file.name + ' was not converted: the conversion was cancelled. No file was written.');
  chooseButton.focus();
}

cancelButton.addEventListener('click', cancelRun);
// Escape cancels a run wherever the focus is.
document.addEventListener('keydown', (event) => {
  if (event.key !== 'Escape' || !running) return;
  event.preventDefault();
  cancelRun();
});

readyWorker();
chooseButton.addEventListener('click', () => fileInput.click());
fileInput.addEventListener('change', () => {
  const file = fileInput.files[0];
  // Cleared so that choosing the same file again is a new choice.
  fileInput.value = '';
  if (file) startRun(file);
});

function carriesFiles(event) {
  return event.dataTransfer && Array.from(event.dataTransfer.types).includes('Files');
}
document.addEventListener('dragover', (event) => {
  if (!carriesFiles(event)) return;
  event.preventDefault();
  event.dataTransfer.dropEffect = 'copy';
  document.body.classList.add('dropping');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dropping');
});
document.addEventListener('drop', (event) => {
  document.body.classList.remove('dropping');
  if (!carriesFiles(event)) return;
  event.preventDefault();
  const files = event.dataTransfer.files;
  if (files.length === 0) return;
  if (running) {
    refuseWhileRunning(files.length === 1 ? files[0] : null);
    return;
  }
  if (files.length > 1) {
    showNotice(NOTICES.dropOneFile);
    return;
  }
  startRun(files[0]);
});

saveButton.addEventListener('click', async () => {
  const files = offered;
  let folder;
  try {
    folder = await window.showDirectoryPicker({id: 'ledger-convert', mode: 'readwrite'});
  } catch (error) {
    saveStatus.textContent = error.name === 'AbortError' ? 'No folder was chosen; nothing was written.'
                                                         : 'The folder could not be opened: ' + error.message;
    return;
  }
  const written = [];
  for (const file of files) {
    try {
      const handle = await folder.getFileHandle(file.name, {create: true});
      const writable = await handle.createWritable();
      await writable.write(blobOf(file));
      await writable.close();
      written.push(file.name);
    } catch (error) {
      saveStatus.textContent = (written.length ? 'Wrote ' + written.join(', ') + ' into ' + folder.name + ', but ' : '') +
          file.name + ' could not be written: ' + error.message;
      return;
    }
  }
  saveStatus.textContent = 'Wrote ' + written.join(', ') + ' into the folder ' + folder.name + '.';
  if (files === offered) markSaved();
});
