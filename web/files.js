// Finding the files the user chose: a folder and its subfolders, files
// chosen one by one and the folder they lie in, dropped entries, or a file
// input's list; each as an item of the run.
'use strict';

// As a German reader orders names, the same order as the desktop tool's.
function naturally(list, nameOf) {
  const keys = new Map(list.map((x) => [x, Core.sortKey(nameOf(x))]));
  return list.sort((a, b) => (keys.get(a) < keys.get(b) ? -1 : keys.get(a) > keys.get(b) ? 1 : 0));
}

// A folder's entries, in order, once the core's leftovers of a cut run are
// gone from it. One that a write in progress still holds cannot be removed,
// and stays.
async function entriesOf(dir) {
  const entries = [];
  for await (const entry of dir.values()) entries.push(entry);
  const gone = new Set(Core.leftovers(entries.filter((e) => e.kind === 'file').map((e) => e.name)));
  for (const name of gone) await dir.removeEntry(name).catch(() => {});
  return naturally(entries.filter((e) => !gone.has(e.name)), (e) => e.name);
}

// Every .dat in a folder and its subfolders, as handles with their folder;
// a subfolder the browser may not list stands as an item of its own, which
// the run reports rather than passing it over.
async function walkFolder(dir, prefix, out, entries = null) {
  entries = entries || await entriesOf(dir);
  const listed = new Set(entries.map((e) => e.name));
  for (const entry of entries) {
    if (entry.kind === 'directory') {
      const inner = await entriesOf(entry).catch(() => null);
      if (inner) await walkFolder(entry, prefix + entry.name + '/', out, inner);
      else out.push({ path: prefix + entry.name, inFolder: true, unlisted: true });
    } else if (Core.isData(entry.name)) {
      out.push({ dir, handle: entry, path: prefix + entry.name, inFolder: true, listed });
    }
  }
  return out;
}

// Files chosen one by one come without their folder: the backup must go
// beside them, so the user names the folder, once.
async function folderOf(fileHandles) {
  $('hint').hidden = false;
  const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite', startIn: fileHandles[0] });
  $('hint').hidden = true;
  return filesIn(dir, fileHandles);
}

async function filesIn(dir, fileHandles) {
  const found = [];
  for (const handle of fileHandles) {
    const where = await dir.resolve(handle);
    if (where === null) throw new Error(`„${handle.name}“ ${Text.NotInFolder} „${dir.name}“.`);
    let folder = dir;
    for (const part of where.slice(0, -1)) folder = await folder.getDirectoryHandle(part);
    await entriesOf(folder);
    found.push({ dir: folder, handle, path: where.join('/'), inFolder: false });
  }
  return found;
}

// The earlier item of a run that is this very file (a folder dropped with
// a file in it names that file twice), if any. named: the items before, by
// their names.
async function sameBefore(item, named) {
  if (!item.handle) return null;
  const before = named.get(item.handle.name) || [];
  for (const other of before) {
    if (await other.handle.isSameEntry(item.handle).catch(() => false)) return other;
  }
  named.set(item.handle.name, before.concat(item));
  return null;
}

async function writable(dir) {
  const options = { mode: 'readwrite' };
  if ((await dir.queryPermission(options)) === 'granted') return true;
  return (await dir.requestPermission(options)) === 'granted';
}

// Browsers without write access: dropped entries, and a file input's list.
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
      for (const child of naturally(children, (c) => c.name)) await walk(child, true);
    } else if (Core.isData(entry.name)) {
      const file = await new Promise((ok, bad) => entry.file(ok, bad));
      out.push({ path: entry.fullPath.replace(/^\//, ''), inFolder, file });
    }
  };
  for (const entry of entries) await walk(entry, false);
  return out;
}

function filesFromInput(fileList) {
  return Array.from(fileList).filter((f) => Core.isData(f.name)).map((file) => {
    const path = file.webkitRelativePath || file.name;
    return { path, inFolder: path.includes('/'), file };
  });
}
