// The page: hands one chosen or dropped file to the conversion worker, shows the run's notice in
// a modal dialog and, after a completed run, offers the three files. TEXTS (the core's fixed
// texts) is put in front of this script when the page is built.
'use strict';

// What the 32-bit module can hold at once: the export and its output together.
const LIMIT_BYTES = 1024 * 1024 * 1024;
// Runs shorter than this show no progress bar, so that a quick run does not flicker.
const PROGRESS_DELAY_MS = 150;

const chooseButton = document.getElementById('choose');
const fileInput = document.getElementById('file');
const statusLine = document.getElementById('status');
const progress = document.getElementById('progress');
const results = document.getElementById('results');
const links = document.getElementById('links');
const saveButton = document.getElementById('save');
const saveStatus = document.getElementById('save-status');
const dialog = document.getElementById('notice');
const okButton = document.getElementById('ok');

const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById('worker-source').textContent], {type: 'text/javascript'}));
let worker = null;
let running = false;
let progressTimer = 0;
let offered = [];  // {name, blob, url} of the files offered now

function describeBytes(bytes) {
  if (bytes >= 1024 * 1024 * 1024) return (bytes / (1024 * 1024 * 1024)).toFixed(1) + ' GiB';
  if (bytes >= 1024 * 1024) return (bytes / (1024 * 1024)).toFixed(1) + ' MiB';
  if (bytes >= 1024) return (bytes / 1024).toFixed(1) + ' KiB';
  return bytes + (bytes === 1 ? ' byte' : ' bytes');
}

function showNotice(notice) {
  document.getElementById('icon-information').hidden = notice.kind !== 'information';
  document.getElementById('icon-warning').hidden = notice.kind === 'information';
  document.getElementById('notice-caption').textContent = notice.caption;
  const body = document.getElementById('notice-body');
  body.replaceChildren(...notice.text.split('\n\n').map((paragraph) => {
    const p = document.createElement('p');
    p.textContent = paragraph;
    return p;
  }));
  if (dialog.open) dialog.close();
  dialog.showModal();
  okButton.focus();
}

dialog.addEventListener('close', () => chooseButton.focus());

function clearOffer() {
  for (const file of offered) URL.revokeObjectURL(file.url);
  offered = [];
  links.replaceChildren();
  results.hidden = true;
  saveStatus.textContent = '';
}

function offer(files) {
  offered = files.map((file) => ({...file, url: URL.createObjectURL(file.blob)}));
  for (const file of offered) {
    const link = document.createElement('a');
    link.href = file.url;
    link.download = file.name;
    link.textContent = file.name;
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = ' (' + describeBytes(file.blob.size) + ')';
    const item = document.createElement('li');
    item.append(link, size);
    links.append(item);
  }
  saveButton.hidden = typeof window.showDirectoryPicker !== 'function';
  results.hidden = false;
}

function setRunning(on, message) {
  running = on;
  chooseButton.disabled = on;
  document.getElementById('page').setAttribute('aria-busy', on ? 'true' : 'false');
  statusLine.textContent = message;
  clearTimeout(progressTimer);
  progress.hidden = true;
  if (on) progressTimer = setTimeout(() => { progress.hidden = false; }, PROGRESS_DELAY_MS);
}

function tooLargeNotice(fileBytes) {
  return {
    kind: 'warning',
    caption: TEXTS.noticeCaption,
    text: 'This export is too large to convert in the browser: the file is ' +
        describeBytes(fileBytes) + ' (' + fileBytes + ' bytes), and the file and its output ' +
        'together would need more than the ' + describeBytes(LIMIT_BYTES) +
        ' that this page can hold.\n\n' +
        'No file was written. Please convert it with the Ledger Convert program on a computer.',
  };
}

function finishRun(file, started, result) {
  const seconds = ((performance.now() - started) / 1000).toFixed(2);
  performance.measure('ledger-run', {start: started, detail: {memoryBytes: result.memoryBytes || 0, phaseMs: result.phaseMs}});
  if (result.tooLarge) {
    setRunning(false, file.name + ' was not converted: it is too large for this page.');
    showNotice(tooLargeNotice(result.tooLarge.fileBytes));
    return;
  }
  if (result.outOfMemory) result = {notice: {kind: 'warning', caption: TEXTS.noticeCaption, text: TEXTS.outOfMemory}};
  if (result.error !== undefined) {
    setRunning(false, file.name + ' was not converted.');
    showNotice({
      kind: 'warning',
      caption: TEXTS.noticeCaption,
      text: 'The conversion stopped unexpectedly (' + result.error + ').\n\nNo file was written.',
    });
    return;
  }
  if (result.completed) {
    offer(result.files);
    setRunning(false, file.name + ' was converted in ' + seconds + ' s.');
  } else {
    setRunning(false, file.name + ' was not converted.');
  }
  showNotice(result.notice);
}

function readyWorker() {
  if (!worker) {
    worker = new Worker(workerUrl);
    worker.postMessage({warm: true});
  }
  return worker;
}

function startRun(file) {
  if (running) return;
  clearOffer();
  const started = performance.now();
  setRunning(true, 'Converting ' + file.name + '…');
  if (file.size > LIMIT_BYTES) {
    finishRun(file, started, {tooLarge: {fileBytes: file.size}});
    return;
  }
  const current = readyWorker();
  const settle = (result) => {
    current.onmessage = current.onerror = null;
    if (result.error !== undefined) {
      // A failed worker may hold a broken module or memory it cannot give back: start afresh.
      current.terminate();
      if (worker === current) worker = null;
    }
    finishRun(file, started, result);
  };
  current.onmessage = (event) => settle(event.data);
  current.onerror = (event) => {
    event.preventDefault();
    settle({error: event.message || 'the worker failed'});
  };
  current.postMessage({file, limit: LIMIT_BYTES});
}

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
  event.dataTransfer.dropEffect = running ? 'none' : 'copy';
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
  if (running || files.length === 0) return;
  if (files.length > 1) {
    showNotice({kind: 'information', caption: TEXTS.noticeCaption, text: TEXTS.dropOneFile});
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
      await writable.write(file.blob);
      await writable.close();
      written.push(file.name);
    } catch (error) {
      saveStatus.textContent = (written.length ? 'Wrote ' + written.join(', ') + ' into ' + folder.name + ', but ' : '') +
          file.name + ' could not be written: ' + error.message;
      return;
    }
  }
  saveStatus.textContent = 'Wrote ' + written.join(', ') + ' into the folder ' + folder.name + '.';
});
