// Kvo-Umsetzer im Browser. The core (kvo-core.js, WebAssembly) checks and
// converts each file and says what befell it in the desktop tool's words;
// this page finds the files, reads and writes them, and shows the lines.
//
// In place (the File System Access API: Chrome, Edge), for each file: check
// the header, read it, never touch an existing NAME.old, write NAME.old with
// the original bytes and close it, and only then write the new NAME.dat
// through a writable stream, which replaces the file in one step when it is
// closed. Everywhere else the converted files are offered for saving.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  // The core's outcomes, as the desktop tool numbers them.
  const Outcome = { Converted: 3, Convertible: 4, Failed: 5 };
  // What befell a file on the disk (kvo_fail).
  const Fault = { BackupTaken: 0, Backup: 1, Output: 2, Changed: 3, Read: 4 };

  const inPlace = typeof window.showDirectoryPicker === 'function';

  let core = null;
  const ready = KvoCore().then((module) => { core = module; });

  // ---- the core's C interface -------------------------------------------

  function withString(text, use) {
    const size = core.lengthBytesUTF8(text) + 1;
    const pointer = core._malloc(size);
    core.stringToUTF8(text, pointer, size);
    try { return use(pointer); } finally { core._free(pointer); }
  }

  function withBytes(bytes, use) {
    const pointer = core._malloc(Math.max(1, bytes.length));
    core.HEAPU8.set(bytes, pointer);
    try { return use(pointer); } finally { core._free(pointer); }
  }

  function said() {
    return { line: core.UTF8ToString(core._kvo_line()), problem: core._kvo_problem() === 1 };
  }

  const Core = {
    begin(operation) { core._kvo_begin(operation); },
    convert(path, inFolder, bytes, backupTaken) {
      const outcome = withString(path, (p) => withBytes(bytes, (b) =>
        core._kvo_convert(p, inFolder ? 1 : 0, b, bytes.length, backupTaken ? 1 : 0)));
      const size = core._kvo_output_size();
      const output = size > 0 ? core.HEAPU8.slice(core._kvo_output(), core._kvo_output() + size) : null;
      return { outcome, output };
    },
    fail(fault, reason) { withString(reason || '', (r) => core._kvo_fail(fault, r)); },
    notReached(path, inFolder) { withString(path, (p) => core._kvo_not_reached(p, inFolder ? 1 : 0)); },
    undo(path, file, backup) {
      return withString(path, (p) => withBytes(file, (f) => withBytes(backup, (b) =>
        core._kvo_undo(p, f, file.length, b, backup.length)))) === 1;
    },
    undoFailed(path, reason) {
      withString(path, (p) => withString(reason, (r) => core._kvo_undo_failed(p, r)));
    },
    said,
    summary() { return core.UTF8ToString(core._kvo_summary()); },
  };

  // ---- finding the files --------------------------------------------------

  const isData = (name) => /\.dat$/i.test(name);
  const oldName = (name) => name.replace(/\.[^.]*$/, '') + '.old';
  const byName = (a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0);

  // Every .dat in a folder and its subfolders, as handles with their folder.
  // What a run left that was cut short while the browser wrote a backup or a
  // new file (NAME.crswap, the browser's own unfinished copy) is cleared
  // away: the file it was meant to become is whole under its name. One that
  // a write in progress still holds cannot be removed, and stays.
  async function walkFolder(dir, prefix, out) {
    const entries = [];
    for await (const entry of dir.values()) entries.push(entry);
    entries.sort(byName);
    const names = new Set(entries.map((e) => e.name));
    for (const entry of entries) {
      const meant = entry.name.replace(/\.crswap$/, '');
      if (entry.kind === 'file' && meant !== entry.name && names.has(meant) && /\.(dat|old)$/i.test(meant)) {
        await dir.removeEntry(entry.name).catch(() => {});
      } else if (entry.kind === 'directory') {
        await walkFolder(entry, prefix + entry.name + '/', out);
      } else if (isData(entry.name)) {
        out.push({ dir, handle: entry, path: prefix + entry.name, inFolder: true });
      }
    }
    return out;
  }

  // Files chosen one by one come without their folder: the backup must go
  // beside them, so the user names the folder, once.
  async function folderOf(fileHandles) {
    notice('Wählen Sie nun den Ordner dieser Dateien, damit die Sicherung daneben entstehen kann.');
    const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite', startIn: fileHandles[0] });
    const found = [];
    for (const handle of fileHandles) {
      const where = await dir.resolve(handle);
      if (where === null) throw new Error(`„${handle.name}“ liegt nicht im gewählten Ordner „${dir.name}“.`);
      let folder = dir;
      for (const part of where.slice(0, -1)) folder = await folder.getDirectoryHandle(part);
      found.push({ dir: folder, handle, path: where.join('/'), inFolder: false });
    }
    notice('');
    return found;
  }

  async function writable(dir) {
    const options = { mode: 'readwrite' };
    if ((await dir.queryPermission(options)) === 'granted') return true;
    return (await dir.requestPermission(options)) === 'granted';
  }

  // ---- in place -----------------------------------------------------------

  let cancelled = false;
  let lastRun = [];  // what the last run converted, for undo

  const reasonOf = (error) => (error && error.message) || String(error);
  const readAll = async (file) => new Uint8Array(await file.arrayBuffer());
  const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
  const unchanged = (before, now) => before.size === now.size && before.lastModified === now.lastModified;

  // The file of that name in the folder; null when there is none, 'folder'
  // when a folder has the name.
  async function existing(dir, name) {
    try {
      return await dir.getFileHandle(name);
    } catch (e) {
      if (e.name === 'NotFoundError') return null;
      if (e.name === 'TypeMismatchError') return 'folder';
      throw e;
    }
  }

  async function write(handle, bytes) {
    const stream = await handle.createWritable({ keepExistingData: false });
    try {
      await stream.write(bytes);
    } catch (e) {
      await stream.abort().catch(() => {});
      throw e;
    }
    await stream.close();  // the new bytes take the name here, in one step
  }

  async function convertInPlace(item) {
    const { dir, handle, path, inFolder } = item;
    const backupName = oldName(handle.name);
    let before, bytes;
    try {
      before = await handle.getFile();
      bytes = await readAll(before);
    } catch (e) {
      Core.convert(path, inFolder, new Uint8Array(0), false);
      Core.fail(Fault.Read, reasonOf(e));
      return;
    }
    // A backup that holds these very bytes is one a run made before it was
    // cut short; an empty one is what a run left that was cut short while
    // it wrote the backup (a backup of a data file is never empty).
    let backup = await existing(dir, backupName), resumed = false, leftover = false;
    if (backup === 'folder') {
      Core.convert(path, inFolder, bytes, true);
      return;
    }
    if (backup) {
      const held = await backup.getFile();
      leftover = held.size === 0;
      resumed = !leftover && same(await readAll(held), bytes);
    }
    const { outcome, output } = Core.convert(path, inFolder, bytes, backup && !resumed && !leftover);
    if (outcome !== Outcome.Converted) return;

    let made = null;
    try {
      if (!unchanged(before, await handle.getFile())) return Core.fail(Fault.Changed);
      if (!resumed) {
        made = backup || await dir.getFileHandle(backupName, { create: true });
        // Taken by another program meanwhile: not ours to write over.
        if ((await made.getFile()).size !== 0) {
          made = null;
          return Core.fail(Fault.BackupTaken);
        }
        try {
          await write(made, bytes);
        } catch (e) {
          return Core.fail(Fault.Backup, reasonOf(e));
        }
      }
      if (!unchanged(before, await handle.getFile())) return Core.fail(Fault.Changed);
      try {
        await write(handle, output);
      } catch (e) {
        return Core.fail(Fault.Output, reasonOf(e));
      }
      made = null;  // the backup now holds the only copy of the original
      lastRun.push({ dir, handle, path, backupName });
    } finally {
      // A failure after the backup was made: the original is whole under its
      // name, and the backup goes again.
      if (made) await dir.removeEntry(backupName).catch(() => {});
    }
  }

  async function undoInPlace(item) {
    const { dir, handle, path, backupName } = item;
    try {
      const backup = await dir.getFileHandle(backupName);
      const file = await readAll(await handle.getFile());
      const old = await readAll(await backup.getFile());
      if (!Core.undo(path, file, old)) return;
      await write(handle, old);
      await dir.removeEntry(backupName);
    } catch (e) {
      Core.undoFailed(path, reasonOf(e));
    }
  }

  // ---- for saving (browsers without write access) ------------------------

  let saved = [];  // {path, bytes}

  function convertForSaving(item) {
    const { outcome, output } = Core.convert(item.path, item.inFolder, item.bytes, false);
    if (outcome === Outcome.Convertible) saved.push({ path: item.path, bytes: output });
  }

  async function filesFromEntries(entries) {
    const out = [];
    const walk = async (entry, inFolder) => {
      if (entry.isDirectory) {
        const reader = entry.createReader();
        const children = [];
        for (;;) {
          const batch = await new Promise((ok, bad) => reader.readEntries(ok, bad));
          if (batch.length === 0) break;
          children.push(...batch);
        }
        children.sort(byName);
        for (const child of children) await walk(child, true);
      } else if (isData(entry.name)) {
        const file = await new Promise((ok, bad) => entry.file(ok, bad));
        out.push({ path: entry.fullPath.replace(/^\//, ''), inFolder, bytes: await readAll(file) });
      }
    };
    for (const entry of entries) await walk(entry, false);
    return out;
  }

  async function filesFromInput(fileList) {
    const out = [];
    for (const file of Array.from(fileList).filter((f) => isData(f.name))) {
      const path = file.webkitRelativePath || file.name;
      out.push({ path, inFolder: path.includes('/'), bytes: await readAll(file) });
    }
    return out;
  }

  function offerSaving() {
    const button = $('download');
    if (saved.length === 0) {
      $('save').hidden = true;
      return;
    }
    const one = saved.length === 1;
    button.textContent = one ? `„${saved[0].path.split('/').pop()}“ speichern` : 'Alle als ZIP-Datei speichern';
    button.onclick = () => {
      const blob = one ? new Blob([saved[0].bytes])
        : new Blob([fflate.zipSync(Object.fromEntries(saved.map((s) => [s.path, [s.bytes, { level: 0 }]])))]);
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = one ? saved[0].path.split('/').pop() : 'kvo-umsetzer-umgesetzt.zip';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    };
    $('save').hidden = false;
  }

  // ---- the run --------------------------------------------------------------

  function notice(text) {
    $('notice').textContent = text;
    $('notice').hidden = text === '';
  }

  function show(line, problem) {
    const item = document.createElement('li');
    item.textContent = line;
    if (problem) item.className = 'problem';
    $('lines').append(item);
  }

  // One run over the files: step does one, on the disk or in memory.
  async function run(items, operation, step) {
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
    Core.begin(operation);
    let done = 0;
    for (const item of items) {
      if (cancelled) {
        Core.notReached(item.path, item.inFolder);
        continue;
      }
      $('now').textContent = `Datei ${done + 1} von ${items.length}: ${item.path}`;
      $('bar').value = done / items.length;
      await step(item);
      const { line, problem } = Core.said();
      show(line, problem);
      ++done;
    }
    $('bar').value = 1;
    $('work').hidden = true;
    $('form').inert = false;
    $('summary').textContent = items.length === 0 ? 'Keine Datei mit der Endung .dat gefunden'
      : items.length === 1 && !items[0].inFolder ? '' : Core.summary();
    window.kvoLastRun = { lines: [...$('lines').children].map((li) => li.textContent), summary: $('summary').textContent };
  }

  async function convertHere(items) {
    lastRun = [];
    await run(items, 0, convertInPlace);
    $('undo').hidden = lastRun.length === 0;
  }

  async function convertToSave(items) {
    saved = [];
    await run(items, 1, async (item) => convertForSaving(item));
    offerSaving();
  }

  async function guarded(work) {
    try {
      await work();
    } catch (e) {
      $('work').hidden = true;
      $('form').inert = false;
      if (e && e.name === 'AbortError') return;  // the user closed a picker
      notice(reasonOf(e));
    }
  }

  // ---- what the user does ---------------------------------------------------

  $('convert').addEventListener('click', () => guarded(async () => {
    if (!inPlace) return $('pick-files').click();
    const handles = await window.showOpenFilePicker({
      id: 'kvo', multiple: true, types: [{ description: 'Datendateien', accept: { 'application/octet-stream': ['.dat'] } }],
    });
    await convertHere(await folderOf(handles));
  }));

  $('folder').addEventListener('click', () => guarded(async () => {
    if (!inPlace) return $('pick-folder').click();
    const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite' });
    await convertHere(await walkFolder(dir, dir.name + '/', []));
  }));

  for (const id of ['pick-files', 'pick-folder']) {
    $(id).addEventListener('change', (event) => guarded(async () => {
      const items = await filesFromInput(event.target.files);
      event.target.value = '';
      await convertToSave(items);
    }));
  }

  $('cancel').addEventListener('click', () => {
    cancelled = true;
    $('cancel').disabled = true;
  });

  $('undo').addEventListener('click', () => guarded(async () => {
    const items = lastRun.slice();
    lastRun = [];
    await run(items, 3, undoInPlace);
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
      if (!handles) return convertToSave(await filesFromEntries(entries));
      const found = (await Promise.all(handles)).filter(Boolean);
      const folders = found.filter((h) => h.kind === 'directory');
      const files = found.filter((h) => h.kind === 'file' && isData(h.name));
      let list = [];
      for (const dir of folders) {
        if (!(await writable(dir))) throw new Error(`Ohne Erlaubnis zum Schreiben in „${dir.name}“ bleibt alles, wie es ist.`);
        list = list.concat(await walkFolder(dir, dir.name + '/', []));
      }
      if (files.length > 0) list = list.concat(await folderOf(files));
      await convertHere(list);
    });
  });

  // For the browser tests and for scripts: a run over a folder handle, as if
  // the user had picked it.
  window.kvoConvertFolder = async (dir) => {
    await convertHere(await walkFolder(dir, dir.name ? dir.name + '/' : '', []));
    return window.kvoLastRun;
  };

  $('mode').textContent = inPlace
    ? 'Dieser Browser setzt die Dateien an ihrem Platz um und legt die Sicherung (Endung .old) daneben.'
    : 'Dieser Browser darf nicht in Ihre Ordner schreiben: Ihre Dateien bleiben, wie sie sind, und Sie speichern die umgesetzten Dateien selbst.';
  $('folder').hidden = !inPlace && !('webkitdirectory' in document.createElement('input'));

  if (location.protocol === 'file:') {
    notice('Von der Festplatte geöffnet, arbeitet die Seite, kann sich aber nicht für die Arbeit ohne Netz merken. '
      + 'Dafür legen Sie den Ordner auf einen Webserver oder öffnen die Seite einmal von dort.');
  } else if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch(() => {});
  }
})();
