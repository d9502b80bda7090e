// Kvo-Umsetzer im Browser. The core (kvo-core.js, WebAssembly) checks and
// converts each file a window at a time, says which of the desktop tool's
// steps comes next and what befell it, in the desktop tool's words; this
// page finds the files, does each step with the browser's calls, and shows
// the outcome.
//
// In place (the File System Access API: Chrome, Edge), each file goes the
// desktop tool's way, at its steps and under their names: the file is read
// and converted into its own writable stream, which changes nothing until
// it is closed ("read"); the original is copied to a temporary name beside
// it, which then takes the name NAME.old, never over a file of that name
// ("backup"); the file is checked once more ("replace"); and the stream is
// closed, which puts the new file in place in one step ("last"). Several
// files are under way at once; they start their changes in their order.
// Everywhere else the converted files are offered for saving, in a folder
// of their own, and nothing of the user's changes.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  // The core's outcomes, and what befell a file on the disk (kvo_fail), by
  // name: numbered as the core numbers them, once it is loaded.
  let Outcome = null;
  let Fault = null;
  let Action = null;
  const NEED = -1;  // the core wants more bytes
  // Files up to this size are read in one call, larger ones a window at a
  // time: memory stays the same whatever a file's size.
  const WHOLE = 8 << 20;
  const WINDOW = 4 << 20;
  // What the survey of a large file reads around each count field.
  const PEEK = 64 << 10;
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

  let core = null;
  const ready = KvoCore().then((module) => {
    core = module;
    ({ Outcome, Failure: Fault, Action } = JSON.parse(core.UTF8ToString(core._kvo_numbers())));
  });

  // What the run does at each step of a file; the test build acts there.
  let reached = async () => {};

  // ---- the core's C interface -------------------------------------------

  function withString(text, use) {
    const size = core.lengthBytesUTF8(text) + 1;
    const pointer = core._malloc(size);
    core.stringToUTF8(text, pointer, size);
    try { return use(pointer); } finally { core._free(pointer); }
  }
  const said = (pointer) => core.UTF8ToString(pointer);

  const Core = {
    begin(operation) { core._kvo_begin(operation); },
    file(path, inFolder) { return withString(path, (p) => core._kvo_file(p, inFolder ? 1 : 0)); },
    start(index, size, backupTaken, undo = null) {
      return core._kvo_start(index, size, backupTaken ? 1 : 0, undo ? 1 : 0, undo ? undo.size : 0);
    },
    give(job, offset, bytes) {
      const at = core._kvo_window(job, bytes.length);  // may grow the memory: HEAPU8 after it
      core.HEAPU8.set(bytes, at);
      core._kvo_give(job, offset, bytes.length);
    },
    step(job) { return core._kvo_step(job); },
    need(job) { return { offset: core._kvo_need_offset(job), size: core._kvo_need_size(job) }; },
    // The converted bytes so far, copied out of the core's memory (a view
    // into it is emptied when another file's job grows that memory, which
    // any wait for the browser lets happen): into a buffer of their own, or
    // into spare's, which the caller has done with before the next piece.
    output(job, spare = null) {
      const n = core._kvo_output_size(job);
      if (n === 0) return null;
      const from = core._kvo_output(job);
      let bytes;
      if (spare) {
        if (!spare.buffer || spare.buffer.length < n) spare.buffer = new Uint8Array(n);
        bytes = spare.buffer.subarray(0, n);
        bytes.set(core.HEAPU8.subarray(from, from + n));
      } else {
        bytes = core.HEAPU8.slice(from, from + n);
      }
      const piece = { offset: core._kvo_output_offset(job), bytes };
      core._kvo_taken(job);
      return piece;
    },
    // Undo: the data file's bytes beside the piece taken last, for the core
    // to compare.
    compare(job, bytes) {
      const at = core._kvo_theirs(job, bytes.length);  // may grow the memory: HEAPU8 after it
      core.HEAPU8.set(bytes, at);
      core._kvo_compare(job, bytes.length);
    },
    end(job) { core._kvo_end(job); },
    next(job, resumed) { return core._kvo_next(job, resumed ? 1 : 0); },
    did(job, answer, error) { withString((error && error.name) || '', (e) => core._kvo_did(job, answer, e)); },
    fail(index, fault, reason) { withString(reason || '', (r) => core._kvo_fail(index, fault, r)); },
    reason(error) { return withString((error && error.name) || '', (n) => said(core._kvo_reason(n))); },
    line(index) { return said(core._kvo_line(index)); },
    problem(index) { return core._kvo_problem(index) === 1; },
    message(index) { return said(core._kvo_message(index)); },
    summary() { return said(core._kvo_summary()); },
    sortKey(name) { return withString(name, (n) => said(core._kvo_sort_key(n))); },
    backupCopyName(name) { return withString(name, (n) => said(core._kvo_backup_copy_name(n))); },
    // The desktop tool's rules for names: a data file, its backup's name.
    isData(name) { return withString(name, (n) => core._kvo_is_data(n)) === 1; },
    backupName(name) { return withString(name, (n) => said(core._kvo_backup_name(n))); },
    progressLine(done, total) { return withString('', (n) => said(core._kvo_progress_line(done, total, n))); },
    isTemporary(candidate, name) {
      return withString(candidate, (c) => withString(name, (n) => core._kvo_is_temporary(c, n))) === 1;
    },
  };

  // ---- finding the files --------------------------------------------------

  // As a German reader orders names, the same order as the desktop tool's.
  function naturally(list, nameOf) {
    const keys = new Map(list.map((x) => [x, Core.sortKey(nameOf(x))]));
    return list.sort((a, b) => (keys.get(a) < keys.get(b) ? -1 : keys.get(a) > keys.get(b) ? 1 : 0));
  }

  // What a run that was cut short left in a folder: the browser's own
  // unfinished copies (NAME.crswap) of a file whole under its name, and the
  // tool's temporary files of its data files (the desktop's too, its first
  // release's among them). One that a write in progress still holds cannot
  // be removed, and stays.
  async function clearLeftovers(dir, entries) {
    const names = new Set(entries.map((e) => e.name));
    const data = entries.filter((e) => e.kind === 'file' && Core.isData(e.name)).map((e) => e.name);
    for (const entry of entries) {
      if (entry.kind !== 'file') continue;
      const meant = entry.name.replace(/\.crswap$/, '');
      const swap = meant !== entry.name && names.has(meant) && /\.(dat|old|tmp)$/i.test(meant);
      const ours = data.some((d) => Core.isTemporary(entry.name, d));
      if (swap || ours) await dir.removeEntry(entry.name).catch(() => {});
    }
  }

  async function entriesOf(dir) {
    const entries = [];
    for await (const entry of dir.values()) entries.push(entry);
    return naturally(entries, (e) => e.name);
  }

  // Every .dat in a folder and its subfolders, as handles with their folder.
  async function walkFolder(dir, prefix, out) {
    const entries = await entriesOf(dir);
    await clearLeftovers(dir, entries);
    const listed = new Set(entries.map((e) => e.name));
    for (const entry of entries) {
      if (entry.kind === 'directory') {
        await walkFolder(entry, prefix + entry.name + '/', out);
      } else if (Core.isData(entry.name) && !entry.name.endsWith('.crswap')) {
        out.push({ dir, handle: entry, path: prefix + entry.name, inFolder: true, listed });
      }
    }
    return out;
  }

  // Files chosen one by one come without their folder: the backup must go
  // beside them, so the user names the folder, once.
  async function folderOf(fileHandles) {
    hint('Wählen Sie nun den Ordner dieser Dateien, damit die Sicherung daneben entstehen kann.');
    const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite', startIn: fileHandles[0] });
    hint('');
    return filesIn(dir, fileHandles);
  }

  async function filesIn(dir, fileHandles) {
    const found = [];
    for (const handle of fileHandles) {
      const where = await dir.resolve(handle);
      if (where === null) throw new Error(`„${handle.name}“ liegt nicht im gewählten Ordner „${dir.name}“.`);
      let folder = dir;
      for (const part of where.slice(0, -1)) folder = await folder.getDirectoryHandle(part);
      await clearLeftovers(folder, await entriesOf(folder));
      found.push({ dir: folder, handle, path: where.join('/'), inFolder: false });
    }
    return found;
  }

  async function writable(dir) {
    const options = { mode: 'readwrite' };
    if ((await dir.queryPermission(options)) === 'granted') return true;
    return (await dir.requestPermission(options)) === 'granted';
  }

  // ---- reading, converting, comparing --------------------------------------

  // Why a step failed: which fault, and the browser's error.
  class Failed extends Error {
    constructor(fault, error) {
      super(fault);
      this.fault = fault;
      this.error = error;
    }
  }
  const Cancelled = 'cancelled';

  const failing = (fault) => (e) => {
    throw e instanceof Failed || e === Cancelled ? e : new Failed(fault, e);
  };
  const unchanged = (before, now) => before.size === now.size && before.lastModified === now.lastModified;

  async function slice(blob, offset, length) {
    return new Uint8Array(await blob.slice(offset, offset + length).arrayBuffer());
  }

  // How long a read of the browser's may go unanswered before it is given
  // up (seen, rarely, on a busy machine: a stream's read that never came
  // back) and its window read in one call instead.
  let stallMs = 10000;
  const STALLED = Symbol('stalled');

  // A large file's windows, read one after the other into one buffer that
  // goes round: a new buffer for each window would pile up faster than the
  // browser frees them, and memory would grow with the file. A read
  // elsewhere (the survey's count fields) reads a slice.
  class Reader {
    constructor(blob) {
      this.blob = blob;
      this.buffer = null;
      this.reader = null;
      this.at = -1;
    }
    async read(offset, length) {
      if (length <= PEEK) return slice(this.blob, offset, length);
      if (this.at !== offset) {
        this.close();
        this.reader = this.blob.slice(offset).stream().getReader({ mode: 'byob' });
        this.at = offset;
      }
      if (!this.buffer || this.buffer.byteLength < length) this.buffer = new ArrayBuffer(length);
      let filled = 0;
      while (filled < length) {
        let timer;
        const answer = await Promise.race([
          this.reader.read(new Uint8Array(this.buffer, filled, length - filled)),
          new Promise((ok) => { timer = setTimeout(() => ok(STALLED), stallMs); }),
        ]).finally(() => clearTimeout(timer));
        if (answer === STALLED) {
          // The buffer is the stream's now; the next read starts afresh.
          this.close();
          this.buffer = null;
          this.at = -1;
          return slice(this.blob, offset, length);
        }
        const { value, done } = answer;
        if (done) break;
        this.buffer = value.buffer;  // handed back, moved
        filled += value.byteLength;
      }
      this.at += filled;
      return new Uint8Array(this.buffer, 0, filled);
    }
    close() {
      if (this.reader) this.reader.cancel().catch(() => {});
      this.reader = null;
    }
  }

  // Runs a job over a file's bytes, a window at a time, handing each piece
  // of the conversion to put as it comes; a cancel between windows stops it.
  // Returns the file's outcome; read, if given, has a file read in one call.
  // A large file's pieces go round one buffer unless put keeps them: a new
  // buffer for each would pile up as the reader's would.
  async function pump(job, blob, put, { stoppable = false, read = null, keeps = false } = {}) {
    const reader = new Reader(blob);
    const spare = blob.size > WHOLE && !keeps ? {} : null;
    try {
      for (;;) {
        const outcome = Core.step(job);
        const piece = Core.output(job, spare);
        if (piece) await put(piece);
        if (outcome !== NEED) return Core.step(job);  // its verdict, the last piece through
        if (stoppable && cancelled) throw Cancelled;
        const { offset, size } = Core.need(job);
        if (blob.size <= WHOLE) {
          const bytes = await slice(blob, offset, blob.size - offset).catch(failing(Fault.Read));
          if (read && offset === 0) read(bytes);
          Core.give(job, offset, bytes);
        } else {
          const length = Math.min(blob.size - offset, Math.max(size, size <= 4 ? PEEK : WINDOW));
          Core.give(job, offset, await reader.read(offset, length).catch(failing(Fault.Read)));
        }
      }
    } finally {
      reader.close();
    }
  }

  // Whether two files hold the same bytes.
  async function sameBytes(a, b) {
    if (a.size !== b.size) return false;
    const x = new Reader(a), y = new Reader(b);
    try {
      for (let at = 0; at < a.size; at += WINDOW) {
        const length = Math.min(WINDOW, a.size - at);
        const [p, q] = await Promise.all([x.read(at, length), y.read(at, length)]);
        for (let i = 0; i < p.length; ++i) if (p[i] !== q[i]) return false;
      }
      return true;
    } finally {
      x.close();
      y.close();
    }
  }

  // A file's bytes into a stream, a window at a time; read and write fail as
  // themselves (Failed with the fault given for each).
  async function copyInto(blob, stream, readFault, writeFault) {
    const reader = new Reader(blob);
    try {
      for (let at = 0; at < blob.size; at += WINDOW) {
        const bytes = await reader.read(at, Math.min(WINDOW, blob.size - at)).catch(failing(readFault));
        await stream.write(bytes).catch(failing(writeFault));
      }
    } finally {
      reader.close();
    }
  }

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

  // ---- in place -----------------------------------------------------------

  let cancelled = false;
  let lastRun = [];  // what the last run converted, for undo

  // The original's bytes under a temporary name beside it: the bytes read in
  // one call where the file was read so, otherwise streamed from the file
  // (which can no longer be read as it was once it changed).
  async function copyBeside(item, file, whole) {
    const { dir, handle } = item;
    const copy = await dir.getFileHandle(Core.backupCopyName(handle.name), { create: true })
      .catch(failing(Fault.Backup));
    let stream = null;
    try {
      stream = await copy.createWritable({ keepExistingData: false }).catch(failing(Fault.Backup));
      if (whole) {
        await stream.write(whole).catch(failing(Fault.Backup));
      } else {
        // A file changed since it was read can no longer be read as it was.
        await copyInto(file, stream, Fault.Changed, Fault.Backup);
      }
      await stream.close().catch(failing(Fault.Backup));
      stream = null;
    } catch (e) {
      // A stream left open keeps its file from being removed.
      if (stream) await stream.abort().catch(() => {});
      await dropCopy(item);
      throw e;
    }
    return copy;
  }
  const dropCopy = (item) => removeSoon(item.dir, Core.backupCopyName(item.handle.name));

  // Removes a file the run made, once the browser has let go of the stream
  // that was aborted on it (which it does a moment after abort() returns);
  // what stays is cleared by the next run.
  async function removeSoon(dir, name) {
    for (let wait = 1; wait < 1000; wait *= 2) {
      try {
        return await dir.removeEntry(name);
      } catch (e) {
        if (e.name === 'NotFoundError') return undefined;
        if (e.name !== 'NoModificationAllowedError') return undefined;
      }
      await new Promise((ok) => setTimeout(ok, wait));
    }
    return undefined;
  }

  // Takes back the backup this run made, while it still holds the original's
  // bytes: the original is whole under its name.
  async function takeBack(item, file, whole) {
    try {
      const backup = await (await item.dir.getFileHandle(Core.backupName(item.handle.name))).getFile();
      const same = whole ? backup.size === whole.length && (await slice(backup, 0, backup.size)).every((b, i) => b === whole[i])
        : await sameBytes(backup, file);
      if (same) await item.dir.removeEntry(Core.backupName(item.handle.name));
    } catch (e) {
      // Left as it is: the original is whole under its name.
    }
  }

  // Whether the run is to go on with a file that is read: once the files
  // before it are read too, no cancel came meanwhile. So a cancel leaves the
  // same files as the desktop tool's, which reads one file after the other.
  async function goOn(item) {
    await item.before;
    return !cancelled;
  }

  async function convertInPlace(item) {
    const { dir, handle, index } = item;
    const backupName = Core.backupName(handle.name);
    let job = null, stream = null, copy = null, file = null, whole = null;
    try {
      file = await handle.getFile().catch(failing(Fault.Read));
      await item.hold(file.size);
      // A backup that holds these very bytes is one a run made before it
      // was cut short; any other file of that name is refused. (Where the
      // walk listed the folder, it knows there is none.)
      const kept = item.listed && !item.listed.has(backupName) ? null
        : await existing(dir, backupName).catch(failing(Fault.Read));
      const resumed = kept !== null && kept !== 'folder' && await sameBytes(await kept.getFile(), file);
      job = Core.start(index, file.size, kept !== null && !resumed, false);
      // A small file's conversion is written once it is known good, beside
      // the copy for its backup; a large one's window by window.
      const pieces = [];
      const put = async (piece) => {
        if (file.size <= WHOLE) return pieces.push(piece.bytes);
        if (!stream) stream = await handle.createWritable({ keepExistingData: false });
        return stream.write(piece.bytes);
      };
      const outcome = await pump(job, file, (piece) => put(piece).catch(failing(Fault.Output)),
        { stoppable: file.size > WHOLE, read: (bytes) => { whole = bytes; } })
        .catch(async (e) => {
          // A file changed since it was read can no longer be read as it was.
          if (e instanceof Failed && e.fault === Fault.Read && !unchanged(file, await handle.getFile())) {
            throw new Failed(Fault.Changed);
          }
          throw e;
        });
      if (outcome !== Outcome.Converted) return;
      // The desktop tool's steps, as the core says them: the page does each
      // and says what the browser answered.
      const refusal = (done) => (done.status === 'fulfilled' ? null
        : done.reason instanceof Failed ? done.reason : new Failed(null, done.reason));
      const steps = {
        [Action.Stage]: async () => {
          const writing = (async () => {
            if (!stream) stream = await handle.createWritable({ keepExistingData: false });
            for (const piece of pieces) await stream.write(piece);
          })();
          const copying = resumed ? null : copyBeside(item, file, whole).then((made) => { copy = made; });
          const [wrote, copied] = (await Promise.allSettled([writing, copying])).map(refusal);
          // A copy streamed from a file that changed meanwhile cannot be read as it was.
          const changed = copied && copied.fault === Fault.Changed;
          return [(wrote ? 1 : 0) | (copied ? (changed ? 4 : 2) : 0), (wrote || copied || {}).error];
        },
        [Action.Turn]: async () => {
          if (!(await goOn(item))) return [1];
          await reached('read', item);
          item.passed();
          return [0];
        },
        [Action.Name]: async () => {
          await reached('backup', item);
          // Looked for as late as the browser allows: move() would replace it.
          if (await existing(dir, backupName)) return [2];
          await copy.move(backupName);
          return [0];
        },
        [Action.Check]: async () => {
          await reached('replace', item);
          return [unchanged(file, await handle.getFile()) ? 0 : 1];
        },
        [Action.Close]: async () => {
          await reached('last', item);
          await stream.close();  // the new file takes the name here
          stream = null;
          lastRun.push(item);
          return [0];
        },
        [Action.Drop]: async () => {
          await dropCopy(item);
          return [0];
        },
        [Action.TakeBack]: async () => {
          await takeBack(item, file, whole);
          return [0];
        },
      };
      for (let action; (action = Core.next(job, resumed)) !== Action.Done;) {
        const [answer, error] = await steps[action]().catch((e) => [1, e]);
        Core.did(job, answer, error);
      }
    } catch (e) {
      if (e === Cancelled) return Core.fail(index, Fault.Interrupted);
      if (!(e instanceof Failed)) throw e;
      Core.fail(index, e.fault, e.error ? Core.reason(e.error) : '');
    } finally {
      item.passed();
      if (stream) await stream.abort().catch(() => {});
      if (job) Core.end(job);
      item.release();
    }
  }

  // Undo of a file this run converted: only while it is still exactly the
  // conversion of its backup; then the backup's bytes take the file's name
  // in one step, and the backup goes.
  async function undoInPlace(item) {
    const { dir, handle, index } = item;
    const backupName = Core.backupName(handle.name);
    let job = null, stream = null;
    try {
      const file = await handle.getFile().catch(failing(Fault.NotUndone));
      const kept = await existing(dir, backupName).catch(failing(Fault.NotUndone));
      if (kept === null || kept === 'folder') throw new Failed(Fault.NoBackup);
      const old = await kept.getFile().catch(failing(Fault.NotUndone));
      await item.hold(old.size);
      // The conversion of the backup, compared by the core with the file as
      // it comes.
      job = Core.start(index, old.size, false, file);
      const compare = async (piece) => Core.compare(job, await slice(file, piece.offset, piece.bytes.length));
      const outcome = await pump(job, old, (piece) => compare(piece).catch(failing(Fault.NotUndone)));
      if (outcome !== Outcome.Undone) return;
      await reached('read', item);
      item.passed();
      await reached('putback', item);
      const [fileNow, oldNow] = await Promise.all([handle.getFile(), kept.getFile()]);
      if (!unchanged(file, fileNow) || !unchanged(old, oldNow)) throw new Failed(Fault.ChangedWhileUndone);
      stream = await handle.createWritable({ keepExistingData: false }).catch(failing(Fault.NotUndone));
      await copyInto(old, stream, Fault.ChangedWhileUndone, Fault.NotUndone);
      await reached('last', item);
      if (!unchanged(file, await handle.getFile())) throw new Failed(Fault.ChangedWhileUndone);
      await stream.close().catch(failing(Fault.NotUndone));  // the original takes the name here
      stream = null;
      // The backup goes, while it is what was compared: a twin of the file now.
      if (unchanged(old, await kept.getFile().catch(() => ({})))) {
        await dir.removeEntry(backupName).catch(() => {});
      }
    } catch (e) {
      if (!(e instanceof Failed)) throw e;
      Core.fail(index, e.fault, e.error ? Core.reason(e.error) : '');
    } finally {
      item.passed();
      if (stream) await stream.abort().catch(() => {});
      if (job) Core.end(job);
      item.release();
    }
  }

  // ---- for saving (browsers without write access) ------------------------

  let saved = [];  // {path, blob}

  async function convertForSaving(item) {
    const pieces = [];
    await item.hold(item.file.size);
    const job = Core.start(item.index, item.file.size, false, false);
    try {
      const outcome = await pump(job, item.file, async (piece) => {
        pieces.push(piece.bytes);
      }, { stoppable: item.file.size > WHOLE, keeps: true })
        .catch((e) => {
          if (e === Cancelled) return Core.fail(item.index, Fault.Interrupted);
          if (!(e instanceof Failed)) throw e;
          return Core.fail(item.index, e.fault, Core.reason(e.error));
        });
      if (outcome === Outcome.Convertible) saved.push({ path: item.path, blob: new Blob(pieces) });
    } finally {
      item.passed();
      Core.end(job);
      item.release();
    }
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
    button.textContent = one ? `„${name}“ speichern` : 'Alle als ZIP-Datei speichern';
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

  function notice(text) {
    $('notice').textContent = text;
    $('notice').hidden = text === '';
  }

  function hint(text) {
    $('hint').textContent = text;
    $('hint').hidden = text === '';
  }

  // A file's line; one that needs a look says so in words, not by its colour
  // alone.
  function show(index) {
    const line = Core.line(index);
    if (line === '') return;
    const item = document.createElement('li');
    if (Core.problem(index)) {
      item.className = 'problem';
      const mark = document.createElement('span');
      mark.className = 'mark';
      mark.textContent = 'Bitte ansehen: ';
      item.append(mark);
    }
    const text = document.createElement('span');
    text.className = 'line';
    text.textContent = line;
    item.append(text);
    $('lines').append(item);
  }

  // One run over the files: step does one, on the disk or in memory. Several
  // are under way at once; their lines come in their order.
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
    $('cancel').focus();
    Core.begin(operation);
    budget = new Budget(MEMORY);
    let passedBefore = Promise.resolve(), fundedBefore = Promise.resolve();
    for (const item of items) {
      item.index = Core.file(item.path, item.inFolder);
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
    const showSettled = () => {
      while (shown < items.length && settled[shown]) show(items[shown++].index);
      $('now').textContent = Core.progressLine(Math.min(done, items.length - 1), items.length);
      $('bar').value = items.length === 0 ? 1 : done / items.length;
    };
    const worker = async () => {
      while (next < items.length) {
        const at = next++;
        const item = items[at];
        // Not begun once the user cancelled: the files before it are done.
        if (!cancelled) await step(item);
        item.passed();
        item.release();
        settled[at] = true;
        ++done;
        showSettled();
      }
    };
    await Promise.all(Array.from({ length: Math.min(IN_FLIGHT, items.length) }, worker));
    $('bar').value = 1;
    $('work').hidden = true;
    $('form').inert = false;
    const single = items.length === 1 && !items[0].inFolder;
    $('summary').textContent = items.length === 0 ? 'Keine Datei mit der Endung .dat gefunden'
      : single ? Core.message(items[0].index) : Core.summary();
    // Told to whoever cannot see it: the summary is a live region, and the
    // focus goes there, not to the page's body.
    $('summary').focus();
    window.kvoLastRun = {
      lines: [...$('lines').children].map((li) => ({ text: li.querySelector('.line').textContent, problem: li.classList.contains('problem') })),
      summary: single ? '' : Core.summary(),
    };
  }

  async function convertHere(items) {
    lastRun = [];
    await run(items, 0, convertInPlace);
    $('undo').hidden = lastRun.length === 0;
  }

  async function convertToSave(items) {
    saved = [];
    await run(items, 1, convertForSaving);
    offerSaving();
  }

  async function guarded(work) {
    try {
      await work();
    } catch (e) {
      $('work').hidden = true;
      $('form').inert = false;
      hint('');
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
    await convertHere(await folderOf(handles));
  }));

  $('folder').addEventListener('click', () => guarded(async () => {
    if (!inPlace) return $('pick-folder').click();
    const dir = await window.showDirectoryPicker({ id: 'kvo', mode: 'readwrite' });
    await ready;
    await convertHere(await walkFolder(dir, dir.name + '/', []));
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
      await ready;
      if (!handles) return convertToSave(await filesFromEntries(entries));
      const found = (await Promise.all(handles)).filter(Boolean);
      const folders = found.filter((h) => h.kind === 'directory');
      const files = found.filter((h) => h.kind === 'file' && Core.isData(h.name));
      let list = [];
      for (const dir of folders) {
        if (!(await writable(dir))) throw new Error(`Ohne Erlaubnis zum Schreiben in „${dir.name}“ bleibt alles, wie es ist.`);
        list = list.concat(await walkFolder(dir, dir.name + '/', []));
      }
      if (files.length > 0) list = list.concat(await folderOf(files));
      await convertHere(list);
    });
  });

  // For scripts and the browser tests: a run over a folder handle, as if the
  // user had picked it, or over named files in one.
  window.kvoConvertFolder = async (dir) => {
    await ready;
    await convertHere(await walkFolder(dir, dir.name ? dir.name + '/' : '', []));
    return window.kvoLastRun;
  };
  window.kvoConvertFiles = async (dir, names) => {
    await ready;
    const handles = [];
    for (const name of names) handles.push(await dir.getFileHandle(name));
    await convertHere(await filesIn(dir, handles));
    return window.kvoLastRun;
  };

  // @test-hooks@

  $('mode').textContent = inPlace
    ? 'Dieser Browser setzt die Dateien an ihrem Platz um und legt die Sicherung (Endung .old) daneben.'
    : 'Dieser Browser darf nicht in Ihre Ordner schreiben: Ihre Dateien bleiben, wie sie sind, und Sie speichern die umgesetzten Dateien selbst.';
  $('folder').hidden = !inPlace && !('webkitdirectory' in document.createElement('input'));

  if (location.protocol === 'file:') {
    hint('Von der Festplatte geöffnet, arbeitet die Seite, kann sich aber nicht für die Arbeit ohne Netz merken. '
      + 'Dafür legen Sie den Ordner auf einen Webserver oder öffnen die Seite einmal von dort.');
  } else if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch(() => {});
  }
})();
