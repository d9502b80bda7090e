// Kvo-Umsetzer im Browser: the run over the files the user chose, the
// memory its files under way may hold, and what the page shows. The core
// (core.js) decides; the steps (steps.js) do what it says with the
// browser's calls; files.js finds the files.
'use strict';

const $ = (id) => document.getElementById(id);

// How many files are under way at once: each waits on the browser most of
// its time. A large file holds more memory (its windows, and the tables of
// the core that convert them), so the memory that files under way may hold
// is bounded too.
const IN_FLIGHT = 64;
const MEMORY = 128 << 20;
const memoryOf = (size) => (size <= WHOLE ? 3 * size + (1 << 20) : 4 * WINDOW + (12 << 20));

// The memory for the files under way, had in the files' order: a file
// never waits for one after it, which may wait for it in turn.
class Budget {
  constructor(bytes) {
    this.free = bytes;
    this.waiting = [];
  }
  async take(bytes) {
    while (this.free < bytes) await new Promise((ok) => this.waiting.push(ok));
    this.free -= bytes;
  }
  give(bytes) {
    this.free += bytes;
    const waiting = this.waiting;
    this.waiting = [];
    for (const ok of waiting) ok();
  }
}
let budget = new Budget(MEMORY);

const inPlace = typeof window.showDirectoryPicker === 'function';
let lastRun = [];  // what the last run converted in place, for undo
let saved = [];  // {path, blob}: what the last run converted for saving

// The converted files never under their originals' names: one file as
// "NAME (Version 1.1).dat", several in a ZIP under a folder of their own.
const savedName = (name) => name.replace(/(\.[^.]*)?$/, (ending) => ` (Version 1.1)${ending || '.dat'}`);
const kZipFolder = 'Version 1.1';

function offerSaving() {
  const button = $('download');
  if (saved.length === 0) {
    $('save').hidden = true;
    return;
  }
  const one = saved.length === 1;
  const name = one ? savedName(saved[0].path.split('/').pop()) : 'kvo-umsetzer-version-1.1.zip';
  button.textContent = one ? `„${name}“ ${Text.SaveOne}` : Text.SaveAll;
  button.onclick = async () => {
    const blob = one ? saved[0].blob : new Blob([fflate.zipSync(Object.fromEntries(await Promise.all(
      saved.map(async (s) => [`${kZipFolder}/${s.path}`, [new Uint8Array(await s.blob.arrayBuffer()), { level: 0 }]]))))]);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  };
  $('save-one').hidden = !one;
  $('save-zip').hidden = one;
  $('save').hidden = false;
}

// ---- the run --------------------------------------------------------------

// A notice: shown while it says something.
const notice = (text) => {
  $('notice').textContent = text;
  $('notice').hidden = text === '';
};
const element = (tag, className, text) => Object.assign(document.createElement(tag), { className, textContent: text });

// A file's line; one that needs a look says so in words, not by its colour
// alone.
function show(index) {
  const line = Core.line(index);
  if (line === '') return;
  const problem = Core.problem(index);
  const item = element('li', problem ? 'problem' : '', '');
  if (problem) item.append(element('span', 'mark', `${Text.LookMark}: `));
  item.append(element('span', 'line', line));
  $('lines').append(item);
}

// One run over the files, in place, for saving, or undo (mode). Several
// are under way at once; their lines come in their order.
async function run(items, mode) {
  await ready;
  cancelled = false;
  notice('');
  $('lines').replaceChildren();
  $('summary').textContent = '';
  $('undo').hidden = true;
  $('save').hidden = true;
  $('form').inert = true;
  $('work').hidden = false;
  $('outcome').hidden = false;
  $('cancel').disabled = false;
  $('cancel').focus();
  Core.begin(mode);
  budget = new Budget(MEMORY);
  let passedBefore = Promise.resolve(), fundedBefore = Promise.resolve();
  const named = new Map();
  for (const item of items) {
    item.index = Core.file(item.path, item.inFolder);
    const first = await sameBefore(item, named);
    if (first) Core.sameAs(item.index, first.index);
    if (item.unlisted) Core.unlisted(item.index);
    item.before = passedBefore;
    passedBefore = new Promise((ok) => { item.passed = ok; });
    item.turn = fundedBefore;
    fundedBefore = new Promise((ok) => { item.funded = ok; });
    // Its memory, had once those before it have theirs; given back when
    // it is through.
    item.held = 0;
    item.hold = async (size) => {
      await item.turn;
      item.held = memoryOf(size);
      await budget.take(item.held);
      item.funded();
    };
    item.release = () => {
      item.funded();
      budget.give(item.held);
      item.held = 0;
    };
  }
  let next = 0, shown = 0, done = 0;
  const settled = new Array(items.length).fill(false);
  // Drawn once a frame, not once a file: with many small files, drawing
  // after each took the thread the conversions need.
  const draw = () => {
    while (shown < items.length && settled[shown]) show(items[shown++].index);
    $('now').textContent = Core.progressLine(Math.min(done, items.length - 1), items.length);
    $('bar').value = items.length === 0 ? 1 : done / items.length;
  };
  let drawing = false, over = false;
  const showSettled = () => {
    if (drawing) return;
    drawing = true;
    requestAnimationFrame(() => {
      drawing = false;
      if (!over) draw();
    });
  };
  const worker = async () => {
    while (next < items.length) {
      const at = next++;
      const item = items[at];
      // Not begun once the user cancelled: the files before it are done.
      if (!cancelled) await perform(item, mode);
      item.passed();
      item.release();
      settled[at] = true;
      ++done;
      showSettled();
    }
  };
  await Promise.all(Array.from({ length: Math.min(IN_FLIGHT, items.length) }, worker));
  draw();
  over = true;
  $('bar').value = 1;
  $('work').hidden = true;
  $('form').inert = false;
  $('summary').textContent = Core.closing();
  // Told to whoever cannot see it: the summary is a live region, and the
  // focus goes there, not to the page's body.
  $('summary').focus();
}

// One run in place at a time, in all of the page's windows: the files are
// found once another window's run is over, as it left them (its backups).
async function alone(work) {
  if (!navigator.locks) return work();
  return navigator.locks.request('kvo-umsetzer', { ifAvailable: true }, async (lock) => {
    if (lock) return work();
    notice(Text.Wait);
    $('form').inert = true;
    return navigator.locks.request('kvo-umsetzer', work);
  });
}

async function convertHere(find) {
  await alone(async () => {
    const items = await find();
    await run(items, 'place');
    lastRun = items.filter((item) => Core.converted(item.index));
    $('undo').hidden = lastRun.length === 0;
  });
}

async function convertToSave(items) {
  saved = [];
  await run(items, 'save');
  offerSaving();
}

async function guarded(work) {
  try {
    await work();
  } catch (e) {
    $('work').hidden = true;
    $('form').inert = false;
    $('hint').hidden = true;
    if (e && e.name === 'AbortError') return;  // the user closed a picker
    notice((e && e.message) || String(e));
  }
}

// ---- what the user does ---------------------------------------------------

$('convert').addEventListener('click', () => guarded(async () => {
  if (!inPlace) return $('pick-files').click();
  const handles = await window.showOpenFilePicker({
    id: 'kvo', multiple: true, types: [{ description: 'Datendateien', accept: { 'application/octet-stream': ['.dat'] } }],
  });
  await ready;
  await convertHere(() => folderOf(handles));
}));

$('folder').addEventListener('click', () => guarded(async () => {
  if (!inPlace) return $('pick-folder').click();
  const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite' });
  await ready;
  await convertHere(() => walkFolder(dir, dir.name + '/', []));
}));

for (const id of ['pick-files', 'pick-folder']) {
  $(id).addEventListener('change', (event) => guarded(async () => {
    await ready;
    const items = filesFromInput(event.target.files);
    event.target.value = '';
    await convertToSave(items);
  }));
}

$('cancel').addEventListener('click', () => {
  cancelled = true;
  $('cancel').disabled = true;
});

$('undo').addEventListener('click', () => guarded(async () => {
  const items = lastRun.map(({ dir, handle, path }) => ({ dir, handle, path, inFolder: false }));
  lastRun = [];
  await alone(() => run(items, 'undo'));
}));

const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const items = [...event.dataTransfer.items].filter((i) => i.kind === 'file');
  // Handles and entries must be asked for before the event ends.
  const handles = inPlace && items[0] && items[0].getAsFileSystemHandle
    ? items.map((i) => i.getAsFileSystemHandle()) : null;
  const entries = items.map((i) => i.webkitGetAsEntry()).filter(Boolean);
  guarded(async () => {
    await ready;
    if (!handles) return convertToSave(await filesFromEntries(entries));
    const found = (await Promise.all(handles)).filter(Boolean);
    const folders = found.filter((h) => h.kind === 'directory');
    const files = found.filter((h) => h.kind === 'file' && Core.isData(h.name));
    for (const dir of folders) {
      if (!(await writable(dir))) throw new Error(`In „${dir.name}“ ${Text.NoWrite}.`);
    }
    await convertHere(async () => {
      let list = [];
      for (const dir of folders) list = list.concat(await walkFolder(dir, dir.name + '/', []));
      return files.length > 0 ? list.concat(await folderOf(files)) : list;
    });
  });
});

// @test-hooks@

$(inPlace ? 'in-place' : 'for-saving').hidden = false;
$('folder').hidden = !inPlace && !('webkitdirectory' in document.createElement('input'));

if (location.protocol === 'file:') {
  $('from-disk').hidden = false;
} else if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch(() => {});
}
