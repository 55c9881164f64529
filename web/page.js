// The page: hands one chosen or dropped export, and the earlier record files chosen with it, to
// the conversion worker, shows the run's notice in a modal dialog and, after a completed run,
// offers the three files, previews what their records hold and what they change from the earlier
// files, and checks the folder they are saved into. NOTICES (the core's notices that the page
// shows of its own: {code, kind, caption, message} by code) is put in front of this script when
// the page is built.
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
const goOnButton = document.getElementById('go-on');
const compareButton = document.getElementById('compare');
const earlierInput = document.getElementById('earlier-files');
const checkButton = document.getElementById('check');
const checkInput = document.getElementById('check-folder');
const checkStatus = document.getElementById('check-status');
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
// The earlier record files a choice may hold beside the export, by the name the import reads
// (in any case), and the kind of member each holds as the worker names it.
const EARLIER_FILES = [['CPERW.DAT', 'scouts'], ['APERW.DAT', 'adults']];
// A file that a browser saved under a new name, as Chromium ("CPERW (1).DAT") and Firefox
// ("CPERW(1).DAT") name a download whose name is taken: the ledger program reads none of them.
const RENAMED = /^(PVERSION|CPERW|APERW) ?\(\d+\)\.DAT$/i;

const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById('worker-source').textContent], {type: 'text/javascript'}));
let worker = null;
let running = false;
let progressTimer = 0;
let offered = [];  // {name, size, pieces, blob, url} of the files offered now
let zip = null;  // {heads, tail, url} of the archive of the files offered now, or null
let saved = new Set();  // the names of the offered files saved one by one
let cancelled = null;  // what cancelling the run under way does, or null
let lastRun = null;  // {file, crcs} of the completed run whose files are offered
let shown = null;  // the preview on the page now: readPreview's result
let runs = 0;  // the runs started, so that a preview drawn late is that of the last run

function describeBytes(bytes) {
  if (bytes >= 1024 * 1024 * 1024) return (bytes / (1024 * 1024 * 1024)).toFixed(1) + ' GiB';
  if (bytes >= 1024 * 1024) return (bytes / (1024 * 1024)).toFixed(1) + ' MiB';
  if (bytes >= 1024) return (bytes / 1024).toFixed(1) + ' KiB';
  return bytes + (bytes === 1 ? ' byte' : ' bytes');
}

let answer = null;  // resolves the promise of the dialog shown now
let focusAfter = null;  // where the keyboard goes when the dialog shown now closes, or null

// Shows `notice` in the dialog: its message's paragraphs, or `paragraphs` in their place. With
// `goOn`, it asks to go on: a button `goOn` beside Cancel, and a checkbox `option` when one is
// given. The keyboard goes back to `after`, when given, once it closes. Returns a promise of the
// answer, {goOn, option}, once the dialog closes.
function showNotice(notice, paragraphs = notice.message.split('\n\n'), {goOn = null, option = null, after = null} = {}) {
  document.getElementById('icon-information').hidden = notice.kind !== 'information';
  document.getElementById('icon-warning').hidden = notice.kind === 'information';
  document.getElementById('notice-caption').textContent = notice.caption;
  const body = document.getElementById('notice-body');
  body.replaceChildren(...paragraphs.map((paragraph) => {
    const p = document.createElement('p');
    p.textContent = paragraph;
    return p;
  }));
  if (goOn && option) {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.id = 'notice-option';
    label.append(box, ' ' + option);
    body.append(label);
  }
  goOnButton.hidden = !goOn;
  goOnButton.textContent = goOn || '';
  okButton.textContent = goOn ? 'Cancel' : 'OK';
  okButton.classList.toggle('primary', !goOn);
  if (answer) answer({goOn: false, option: false});
  if (dialog.open) dialog.close();
  dialog.returnValue = '';
  focusAfter = after;
  dialog.showModal();
  (goOn ? goOnButton : okButton).focus();
  return new Promise((resolve) => { answer = resolve; });
}

// After a completed run, the keyboard goes on to saving; after a question, back to what asked.
dialog.addEventListener('close', () => {
  // A dialog shown again at once closed the one before: its close comes when the new one is open.
  if (dialog.open) return;
  const option = document.getElementById('notice-option');
  const resolve = answer;
  answer = null;
  if (resolve) resolve({goOn: dialog.returnValue === 'go-on', option: Boolean(option && option.checked)});
  (focusAfter || (results.hidden || !zip ? chooseButton : downloadAll)).focus();
});

// A warning of the page's own, under the converter's caption.
function warn(paragraphs) {
  return showNotice({kind: 'warning', caption: NOTICES.converted.caption}, paragraphs);
}

// Names in a sentence: "A", "A and B", "A, B and C".
function listed(names) {
  return names.length < 2 ? names.join('') : names.slice(0, -1).join(', ') + ' and ' + names[names.length - 1];
}

// Sorts a choice of files: exactly one export, and beside it the earlier record files, one of
// each name at most. Returns {file, earlier} (earlier null without record files), or {problem},
// the paragraphs that say why nothing is converted, and `several` when it holds several exports. One file alone is the export, whatever its
// name: the run says what it is.
function sortChoice(files) {
  if (files.length === 1) return {file: files[0], earlier: null};
  const exports = [];
  const earlier = {};
  for (const file of files) {
    const found = EARLIER_FILES.find(([name]) => name === file.name.toUpperCase());
    if (!found) {
      exports.push(file);
    } else if (earlier[found[1]]) {
      return {problem: ['Two of the files chosen are named ' + found[0] + ': choose the record files ' +
          'of one folder, with one export.', 'Nothing was converted.']};
    } else {
      earlier[found[1]] = file;
    }
  }
  if (exports.length === 0) {
    return {problem: ['None of the files chosen is an export: choose the export file, and with it ' +
        'the earlier CPERW.DAT and APERW.DAT if they are to be compared.', 'Nothing was converted.']};
  }
  if (exports.length > 1) {
    return {several: true, problem: ['More than one of the files chosen is taken for an export: ' +
        listed(exports.map((file) => file.name)) + '. Choose one export at a time, and beside it ' +
        'only the earlier CPERW.DAT and APERW.DAT.', 'Nothing was converted.']};
  }
  return {file: exports[0], earlier: {scouts: earlier.scouts || null, adults: earlier.adults || null}};
}

function clearOffer() {
  for (const file of offered) if (file.url) URL.revokeObjectURL(file.url);
  if (zip && zip.url) URL.revokeObjectURL(zip.url);
  offered = [];
  zip = null;
  saved = new Set();
  links.replaceChildren();
  results.hidden = true;
  saveStatus.textContent = '';
  checkStatus.textContent = '';
  importNext.textContent = '';
  lastRun = null;
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

// What a comparison with earlier record files found ({comparison, unread, against, changes}:
// the module's comparison, or null when `unread` could not be read; what it was made against, as
// "the earlier files"; the notice's paragraph) in one sentence, in the words of that paragraph.
function changesText(found) {
  const {comparison, unread, against} = found;
  if (!comparison || !comparison.complete) {
    const why = unread ? unread + ' could not be read'
      : comparison && comparison.failed ? comparison.failed + ' could not be read as records'
      : 'There was not memory enough';
    return why + ': the run was not compared with ' + against + '.';
  }
  if (!comparison.anyChange) return heldExactly(against) + ' Check that the export is a new one.';
  return 'Compared with ' + against + ': ' + comparison.text;
}

// "The earlier files held exactly these members.", of what was compared against.
function heldExactly(against) {
  return against[0].toUpperCase() + against.slice(1) + ' held exactly these members.';
}

// The lists of the members a comparison found: what each is called, its columns and each row's
// cells, text or an element.
const CHANGE_LISTS = [
  ['added', 'Members added', ['Kind', 'No.', 'Line', 'Field 0'],
    (m) => [m.kind, m.number, m.line, decodeBytes(m.key)]],
  ['removed', 'Members removed', ['Kind', 'Record', 'Field 0'],
    (m) => [m.kind, m.record, decodeBytes(m.key)]],
  ['changed', 'Members changed', ['Kind', 'No.', 'Line', 'Field 0', 'Changed fields'],
    (m) => [m.kind, m.number, m.line, decodeBytes(m.key), changedFields(m.fields)]],
];

// Each changed field of a member: its earlier text struck through beside the new.
function changedFields(fields) {
  const cell = document.createDocumentFragment();
  for (const {field, earlier, now} of fields) {
    const change = document.createElement('span');
    change.className = 'change';
    const was = document.createElement('del');
    was.textContent = decodeBytes(earlier);
    const is = document.createElement('ins');
    is.textContent = decodeBytes(now);
    change.append('Field ' + field + ': ', was, ' ', is);
    cell.append(change);
  }
  return cell;
}

// Opens the preview with what a comparison found (see changesText): the counts, then a table of
// each kind of change that it found.
function showChanges(found) {
  const area = document.getElementById('changes');
  document.getElementById('changes-counts').textContent = found.comparison && found.comparison.complete
    ? (found.comparison.anyChange ? found.comparison.text : heldExactly(found.against))
    : changesText(found);
  const parts = [];
  const {comparison} = found;
  if (comparison && comparison.complete) {
    const said = document.createElement('p');
    said.textContent = 'Compared with ' + found.against + '.';
    parts.push(said);
    for (const [list, title, heads, cells] of CHANGE_LISTS) {
      const members = comparison[list];
      if (members.length === 0) continue;
      const group = document.createElement('div');
      group.className = 'preview-group';
      const heading = document.createElement('h3');
      heading.id = 'changes-' + list;
      heading.textContent = title + ' (' + (comparison.scouts[list] + comparison.adults[list]).toLocaleString() + ')';
      const scroll = document.createElement('div');
      scroll.className = 'table-scroll';
      scroll.tabIndex = 0;
      scroll.setAttribute('role', 'region');
      scroll.setAttribute('aria-labelledby', heading.id);
      const table = document.createElement('table');
      const head = document.createElement('tr');
      for (const text of heads) {
        const th = document.createElement('th');
        th.scope = 'col';
        th.textContent = text;
        head.append(th);
      }
      const body = document.createElement('tbody');
      for (const member of members) {
        const tr = document.createElement('tr');
        cells(member).forEach((value, i) => {
          const cell = document.createElement(i === 0 ? 'th' : 'td');
          if (i === 0) cell.scope = 'row';
          cell.append(typeof value === 'object' ? value : String(value));
          tr.append(cell);
        });
        body.append(tr);
      }
      const thead = document.createElement('thead');
      thead.append(head);
      table.append(thead, body);
      scroll.append(table);
      group.append(heading, scroll);
      parts.push(group);
    }
    if (!comparison.allListed) {
      const note = document.createElement('p');
      note.textContent = 'Each list shows its first ' + counted(Math.max(...CHANGE_LISTS.map(([list]) =>
        comparison[list].length)), 'member', 'members') + '.';
      parts.push(note);
    }
  }
  document.getElementById('changes-lists').replaceChildren(...parts);
  area.hidden = false;
}

function clearPreview() {
  previewSection.hidden = true;
  document.getElementById('changes').hidden = true;
  document.getElementById('changes-lists').replaceChildren();
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
  for (const button of [chooseButton, saveButton, compareButton, checkButton]) button.disabled = on;
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

function finishRun(file, started, result, earlier) {
  cancelled = null;
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
  if (result.completed) {
    offer(result.files, result.zip);
    lastRun = {file, crcs: result.crcs};
  }
  // What the dialog says: after a completed run, that the files are to be saved, then what the
  // earlier files held, as the command says it; for a file that is no export, why, as the command
  // says it, and what to do.
  let paragraphs = result.notice.message.split('\n\n');
  if (result.completed) paragraphs = [CONVERTED_TEXT, SAVE_FIRST];
  if (result.completed && result.notice.changes) paragraphs.push(result.notice.changes);
  const found = result.completed && earlier &&
      {comparison: result.comparison, unread: result.unread, against: 'the earlier files'};
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
      if (run !== runs) return;
      showPreview(result.preview);
      if (found) showChanges(found);
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

// Sends `message` to the worker and hands its one result to `done`, showing its progress.
function runInWorker(message, done) {
  const runner = readyWorker();
  const settle = (result) => {
    runner.onmessage = runner.onerror = null;
    if (result.error !== undefined) {
      // A failed worker may hold a broken module or memory it cannot give back: start afresh.
      runner.terminate();
      if (worker === runner) worker = null;
    }
    done(result);
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
  runner.postMessage(message);
}

// Converts `file`, compared with `earlier` ({scouts, adults}, each a File or null) when given.
function startRun(file, earlier = null) {
  if (running) {
    refuseWhileRunning(file);
    return;
  }
  clearOffer();
  clearPreview();
  ++runs;
  const started = performance.now();
  setRunning(true, 'Converting ' + file.name + '…');
  cancelled = () => setRunning(false, file.name + ' was not converted: the conversion was cancelled. No file was written.');
  if (file.size > LIMIT_BYTES) {
    finishRun(file, started, {tooLarge: {fileBytes: file.size, needs: null}});
    return;
  }
  runInWorker({file, limit: LIMIT_BYTES, earlier}, (result) => finishRun(file, started, result, earlier));
}

// Compares the records of the completed run with `earlier` ({scouts, adults}, each a File or
// Blob, or null), described as `against` ("the earlier files"), by converting its export again in
// the worker, keeping no file: a promise of what it found (see changesText), or null when it
// could not compare, which it has then said. The export must still be the one converted.
function compareWith(earlier, against) {
  return new Promise((resolve) => {
    if (running || !lastRun) {
      resolve(null);
      return;
    }
    const {file, crcs} = lastRun;
    const said = statusLine.textContent;
    setRunning(true, 'Comparing ' + file.name + ' with ' + against + '…');
    cancelled = () => {
      setRunning(false, 'The comparison with ' + against + ' was cancelled.');
      resolve(null);
    };
    runInWorker({file, limit: LIMIT_BYTES, earlier, compareOnly: true}, (result) => {
      cancelled = null;
      setRunning(false, said);
      const cannot = file.name + ' could not be compared with ' + against;
      if (result.error !== undefined) {
        warn([cannot + ': the comparison stopped unexpectedly (' + result.error + ').']);
      } else if (result.tooLarge || result.outOfMemory) {
        warn([cannot + ': together they are too large for this page.']);
      } else if (!result.completed || result.crcs.some((crc, i) => crc !== crcs[i])) {
        warn([cannot + ': it is no longer the file that was converted.', 'Convert it again, then compare.']);
      } else {
        resolve({comparison: result.comparison, unread: result.unread, against, changes: result.notice.changes});
        return;
      }
      resolve(null);
    });
  });
}

// Stops the run at once: its worker goes, with whatever it held, and a fresh one is made ready.
function cancelRun() {
  if (!running || !cancelled) return;
  const after = cancelled;
  cancelled = null;
  if (worker) {
    worker.onmessage = worker.onerror = null;
    worker.terminate();
    worker = null;
  }
  readyWorker();
  after();
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
// Converts a choice of files (sortChoice), or says why it does not; several exports dropped at
// once get the dialogs' own warning.
function takeChoice(files, dropped = false) {
  if (files.length === 0) return;
  if (running) {
    refuseWhileRunning(files.length === 1 ? files[0] : null);
    return;
  }
  const choice = sortChoice(files);
  if (choice.several && dropped) {
    showNotice(NOTICES.dropOneFile);
  } else if (choice.problem) {
    warn(choice.problem);
  } else {
    startRun(choice.file, choice.earlier);
  }
}

fileInput.addEventListener('change', () => {
  const files = Array.from(fileInput.files);
  // Cleared so that choosing the same file again is a new choice.
  fileInput.value = '';
  takeChoice(files);
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
  takeChoice(Array.from(event.dataTransfer.files), true);
});

// What a folder holds of the import's files: {earlier: {scouts, adults}, the record files there
// (File, or null), and renamed, the names of the files that look like renamed downloads}. The
// import reads names in any case.
async function readFolder(folder) {
  const earlier = {scouts: null, adults: null};
  const renamed = [];
  for await (const entry of folder.values()) {
    if (entry.kind !== 'file') continue;
    const found = EARLIER_FILES.find(([name]) => name === entry.name.toUpperCase());
    if (found) earlier[found[1]] = await entry.getFile();
    else if (RENAMED.test(entry.name)) renamed.push(entry.name);
  }
  return {earlier, renamed: renamed.sort()};
}

// What the page says of the renamed downloads in a folder.
function renamedText(names) {
  return names.length === 1
    ? names[0] + ' looks like a renamed download: the ledger program does not read it.'
    : listed(names) + ' look like renamed downloads: the ledger program does not read them.';
}

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
  // What is there first: the record files this run replaces, compared, and renamed downloads,
  // which may go; then the user says whether to go on.
  let there;
  try {
    there = await readFolder(folder);
  } catch (error) {
    saveStatus.textContent = 'The files in the folder ' + folder.name + ' could not be read: ' +
        error.message + '. Nothing was written.';
    return;
  }
  let remove = [];
  const held = EARLIER_FILES.filter(([, kind]) => there.earlier[kind]).map(([name]) => name);
  if (held.length > 0 || there.renamed.length > 0) {
    const paragraphs = [];
    if (held.length > 0) {
      const found = await compareWith(there.earlier, 'the files in the folder ' + folder.name);
      if (!found) {
        saveStatus.textContent = 'Nothing was written into the folder ' + folder.name + '.';
        return;
      }
      if (files === offered) showChanges(found);
      paragraphs.push('The folder ' + folder.name + ' already holds ' + listed(held) + '.', changesText(found));
    }
    if (there.renamed.length > 0) paragraphs.push(renamedText(there.renamed));
    paragraphs.push('Save this run\'s files into it, replacing the ones there?');
    const said = await showNotice({kind: 'information', caption: 'Save into folder'}, paragraphs, {
      goOn: 'Save', after: saveButton,
      option: there.renamed.length === 0 ? null
        : there.renamed.length === 1 ? 'Delete ' + there.renamed[0] : 'Delete these ' + there.renamed.length + ' files',
    });
    if (!said.goOn) {
      saveStatus.textContent = 'Nothing was written into the folder ' + folder.name + '.';
      return;
    }
    if (said.option) remove = there.renamed;
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
  let text = 'Wrote ' + written.join(', ') + ' into the folder ' + folder.name + '.';
  const deleted = [];
  for (const name of remove) {
    try {
      await folder.removeEntry(name);
      deleted.push(name);
    } catch (error) {
      text += ' ' + name + ' could not be deleted: ' + error.message + '.';
    }
  }
  if (deleted.length > 0) text += ' Deleted ' + listed(deleted) + '.';
  saveStatus.textContent = text;
  if (files === offered) markSaved();
});

// The earlier record files among `files` ({scouts, adults}), or {problem}: why they are not.
function earlierFiles(files) {
  const earlier = {scouts: null, adults: null};
  for (const file of files) {
    const found = EARLIER_FILES.find(([name]) => name === file.name.toUpperCase());
    if (!found) {
      return {problem: ['Only CPERW.DAT and APERW.DAT, the record files of an earlier import, can be ' +
          'compared: ' + file.name + ' is neither.', 'Nothing was compared.']};
    }
    if (earlier[found[1]]) {
      return {problem: ['Two of the files chosen are named ' + found[0] + ': choose the record files of ' +
          'one folder.', 'Nothing was compared.']};
    }
    earlier[found[1]] = file;
  }
  return {earlier};
}

compareButton.addEventListener('click', () => earlierInput.click());
earlierInput.addEventListener('change', async () => {
  const files = Array.from(earlierInput.files);
  earlierInput.value = '';
  if (files.length === 0 || running) return;
  const choice = earlierFiles(files);
  if (choice.problem) {
    warn(choice.problem);
    return;
  }
  const found = await compareWith(choice.earlier, 'the earlier files');
  if (!found) return;
  if (shown) showChanges(found);
  // As a run given the earlier files says it.
  showNotice({kind: 'information', caption: NOTICES.converted.caption},
      [found.changes || changesText(found)], {after: compareButton});
});

// Whether two Blobs hold the same bytes.
async function sameBytes(a, b) {
  if (a.size !== b.size) return false;
  const [x, y] = await Promise.all([a.arrayBuffer(), b.arrayBuffer()]);
  const words = x.byteLength >> 2;
  const [p, q] = [new Int32Array(x, 0, words), new Int32Array(y, 0, words)];
  for (let i = 0; i < words; i++) if (p[i] !== q[i]) return false;
  const [u, v] = [new Uint8Array(x), new Uint8Array(y)];
  for (let i = words << 2; i < u.length; i++) if (u[i] !== v[i]) return false;
  return true;
}

// Reads the import folder after the files were saved: it is ready when it holds this run's three
// files byte for byte. A browser that renamed a download leaves the older file in its place,
// which no download can see.
checkButton.addEventListener('click', () => checkInput.click());
checkInput.addEventListener('change', async () => {
  const chosen = Array.from(checkInput.files);
  checkInput.value = '';
  if (running || !lastRun) return;
  const files = offered;
  // The folder's own files, not those of folders within it.
  const top = chosen.filter((file) => file.webkitRelativePath.split('/').length === 2);
  const folderName = chosen.length > 0 ? chosen[0].webkitRelativePath.split('/')[0] : 'chosen';
  const byName = new Map();
  const renamed = [];
  for (const file of top) {
    const name = file.name.toUpperCase();
    if (files.some((offer) => offer.name === name)) byName.set(name, file);
    else if (RENAMED.test(file.name)) renamed.push(file.name);
  }
  renamed.sort();
  const missing = [];
  const differing = [];
  try {
    for (const file of files) {
      const there = byName.get(file.name);
      if (!there) missing.push(file.name);
      else if (!(await sameBytes(there, blobOf(file)))) differing.push(file.name);
    }
  } catch (error) {
    checkStatus.textContent = 'The files in the folder ' + folderName + ' could not be read: ' + error.message + '.';
    return;
  }
  if (files !== offered) return;
  if (missing.length === 0 && differing.length === 0) {
    const ready = 'The folder ' + folderName + ' holds this run\'s ' + listed(files.map((file) => file.name)) +
        ', byte for byte: it is ready to import.';
    checkStatus.textContent = ready + (renamed.length ? ' ' + renamedText(renamed) : '');
    showNotice({kind: 'information', caption: 'Check the import folder'},
        [ready, ...(renamed.length ? [renamedText(renamed)] : [])], {after: checkButton});
    return;
  }
  const paragraphs = ['The folder ' + folderName + ' does not hold this run\'s files: ' +
      listed([...differing.map((name) => name + ' differs'), ...missing.map((name) => name + ' is missing')]) + '.'];
  const earlier = {scouts: byName.get('CPERW.DAT') || null, adults: byName.get('APERW.DAT') || null};
  if ((earlier.scouts || earlier.adults) && differing.some((name) => name !== 'PVERSION.DAT')) {
    const found = await compareWith(earlier, 'the files in the folder ' + folderName);
    if (!found || files !== offered) return;
    if (shown) showChanges(found);
    paragraphs.push(changesText(found));
  }
  if (renamed.length) paragraphs.push(renamedText(renamed));
  paragraphs.push('Save the files into the folder again, replacing the ones there' +
      (renamed.length ? ' and deleting the renamed ones' : '') + ', then check it once more.');
  checkStatus.textContent = paragraphs.join(' ');
  showNotice({kind: 'warning', caption: 'Check the import folder'}, paragraphs, {after: checkButton});
});
