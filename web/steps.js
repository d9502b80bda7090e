// The steps on one file, as the core names them, done with the browser's
// calls; the core is told what the browser answered and decides what comes
// next, what befell the file and what is taken back. In place (the File
// System Access API: Chrome, Edge), they are the desktop tool's steps under
// their names (read, backup, replace, last); the one the browser cannot
// guard is the move of the backup's copy, which would replace a file that
// took the name since it was looked for. Everywhere else the converted
// files are offered for saving, and nothing of the user's changes.
'use strict';

// Files up to this size are read in one call, larger ones a window at a
// time: memory stays the same whatever a file's size.
const WHOLE = 8 << 20;
const WINDOW = 4 << 20;
// What the survey of a large file reads around each count field.
const PEEK = 64 << 10;

// What the run does at each named moment of a file; the test build acts
// there.
let reached = async () => {};
let cancelled = false;

// A step the browser refused: the core's answer for it, and its error.
class Failed extends Error {
  constructor(answer, error) {
    super(String(answer));
    Object.assign(this, { answer, error });
  }
}
const Cancelled = 'cancelled';
const failing = (answer) => (e) => {
  throw e instanceof Failed || e === Cancelled ? e : new Failed(answer, e);
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
// read, if given, has a file read in one call. A large file's pieces go
// round one buffer unless put keeps them: a new buffer for each would pile
// up as the reader's would.
async function pump(job, blob, put, { stoppable = false, read = null, keeps = false } = {}) {
  const reader = new Reader(blob);
  const spare = blob.size > WHOLE && !keeps ? {} : null;
  try {
    if (blob.size <= WHOLE) {  // given before it is asked for, the core never waits
      const bytes = await slice(blob, 0, blob.size).catch(failing(Answer.Refused));
      if (read) read(bytes);
      Core.give(job, 0, bytes);
    }
    for (;;) {
      const outcome = Core.step(job);
      const piece = Core.output(job, spare);
      if (piece) await put(piece);
      if (outcome !== NEED) return Core.step(job);  // its verdict, the last piece through
      if (stoppable && cancelled) throw Cancelled;
      const { offset, size } = Core.need(job);
      if (blob.size <= WHOLE) {
        Core.give(job, offset, await slice(blob, offset, blob.size - offset).catch(failing(Answer.Refused)));
      } else {
        const length = Math.min(blob.size - offset, Math.max(size, size <= 4 ? PEEK : WINDOW));
        Core.give(job, offset, await reader.read(offset, length).catch(failing(Answer.Refused)));
      }
    }
  } finally {
    reader.close();
  }
}

// A file's bytes into a stream, a window at a time; a read and a write that
// fail answer as given.
async function copyInto(blob, stream, readAnswer, writeAnswer) {
  const reader = new Reader(blob);
  try {
    for (let at = 0; at < blob.size; at += WINDOW) {
      const bytes = await reader.read(at, Math.min(WINDOW, blob.size - at)).catch(failing(readAnswer));
      await stream.write(bytes).catch(failing(writeAnswer));
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

// Removes a file the run made, once the browser has let go of the stream
// that was aborted on it (which it does a moment after abort() returns);
// what stays is cleared by the next run.
async function removeSoon(dir, name) {
  for (let wait = 1; wait < 1000; wait *= 2) {
    try {
      return await dir.removeEntry(name);
    } catch (e) {
      if (e.name !== 'NoModificationAllowedError') return undefined;
    }
    await new Promise((ok) => setTimeout(ok, wait));
  }
  return undefined;
}

// One file's way: mode is 'place', 'undo' or 'save'. The steps keep what
// they read and made: the file as read (and its bytes, where it was read
// in one call), its backup's, the new file's stream, the copy.
async function perform(item, mode) {
  const { dir, handle, index } = item;
  const backupName = dir ? Core.backupName(handle.name) : '';
  const job = Core.start(index, mode === 'undo');
  let file = item.file || null, whole = null, kept = null, old = null, stream = null, copy = null;
  const pieces = [];
  const newStream = async () => stream || (stream = await handle.createWritable({ keepExistingData: false }));
  const write = async () => {
    const into = await newStream();
    for (const piece of pieces) await into.write(piece);
  };
  const steps = {
    [Action.Look]: async () => {
      file = await handle.getFile();
      // Where the walk listed the folder, it knows whether the name is taken.
      kept = item.listed && !item.listed.has(backupName) ? null : await existing(dir, backupName);
      if (kept === 'folder') return Answer.Folder;
      if (kept === null) return 0;
      old = await kept.getFile();
      return Answer.Taken;
    },
    [Action.Compare]: async () => {
      const backup = await (await dir.getFileHandle(backupName)).getFile();
      const original = whole ? new Blob([whole]) : file;
      const a = new Reader(backup), b = new Reader(original);
      const piece = (blob, at) => Math.max(0, Math.min(WINDOW, blob.size - at));
      try {
        for (let at = 0, more = true; more && at < Math.max(backup.size, original.size); at += WINDOW) {
          const [x, y] = await Promise.all([a.read(at, piece(backup, at)), b.read(at, piece(original, at))]);
          more = Core.pair(job, x, y);
        }
      } finally {
        a.close();
        b.close();
      }
      return 0;
    },
    [Action.Convert]: async () => {
      const source = mode === 'undo' ? old : file;
      await item.hold(source.size);
      Core.source(job, source.size, file.size);
      // A small file's conversion is written once it is known good, beside
      // the copy for its backup; a large one's window by window. Undo
      // compares the file with the conversion of its backup as it comes.
      const put = mode === 'undo' ? async (p) => Core.compare(job, await slice(file, p.offset, p.bytes.length))
        : mode === 'save' || file.size <= WHOLE ? async (p) => { pieces.push(p.bytes); }
          : async (p) => (await newStream()).write(p.bytes);
      await pump(job, source, (p) => put(p).catch(failing(Answer.OtherRefused)), {
        stoppable: mode !== 'undo' && source.size > WHOLE, read: (bytes) => { whole = bytes; }, keeps: mode === 'save',
      }).catch(async (e) => {
        // A file changed since it was read can no longer be read as it was.
        if (mode !== 'place' || !(e instanceof Failed) || unchanged(file, await handle.getFile())) throw e;
        throw new Failed(e.answer | Answer.Changed, e.error);
      });
      return 0;
    },
    [Action.Keep]: async () => {
      saved.push({ path: item.path, blob: new Blob(pieces) });
      return 0;
    },
    [Action.Stage]: async () => {
      const copying = (async () => {
        copy = await dir.getFileHandle(Core.backupCopyName(handle.name), { create: true });
        const into = await copy.createWritable({ keepExistingData: false });
        try {
          // The bytes read in one call where the file was read so, otherwise
          // streamed from the file, which cannot be read as it was once it
          // changed.
          if (whole) await into.write(whole);
          else await copyInto(file, into, Answer.Changed, Answer.OtherRefused);
          await into.close();
        } catch (e) {
          await into.abort().catch(() => {});  // an open stream keeps its file from going
          throw e;
        }
      })().catch(failing(Answer.OtherRefused));
      const [wrote, copied] = await Promise.allSettled([write().catch(failing(Answer.Refused)), copying]);
      const failed = [wrote, copied].filter((s) => s.status === 'rejected').map((s) => s.reason);
      if (failed.length === 0) return 0;
      throw new Failed(failed.reduce((flags, e) => flags | e.answer, 0), failed[0].error);
    },
    [Action.Write]: async () => {
      await write();
      return 0;
    },
    [Action.Turn]: async () => {
      await item.before;  // a cancel leaves the same files as the desktop tool's
      return cancelled ? Answer.Cancelled : 0;
    },
    [Action.Pass]: async () => {
      item.passed();
      return 0;
    },
    [Action.Name]: async () => {
      if (await existing(dir, backupName)) return Answer.Taken;
      await copy.move(backupName);
      return 0;
    },
    [Action.Check]: async () => {
      const now = await handle.getFile();
      const backupNow = old ? await kept.getFile().catch(() => null) : null;
      return (unchanged(file, now) ? 0 : Answer.Changed)
        | (old && !(backupNow && unchanged(old, backupNow)) ? Answer.BackupChanged : 0);
    },
    [Action.Restore]: async () => {
      await copyInto(old, await newStream(), Answer.BackupChanged, Answer.Refused);
      return 0;
    },
    [Action.Close]: async () => {
      await stream.close();  // the new file (for undo, the original) takes the name here
      stream = null;
      return 0;
    },
    [Action.Drop]: async () => {
      await removeSoon(dir, Core.backupCopyName(handle.name));
      return 0;
    },
    [Action.Remove]: async () => {
      await dir.removeEntry(backupName).catch(() => {});
      return 0;
    },
  };
  const answerOf = (e) => (e instanceof Failed ? [e.answer, e.error] : [e === Cancelled ? Answer.Cancelled : Answer.Refused, e]);
  try {
    for (let action; (action = Core.next(job)) !== Action.Done;) {
      const point = Core.point(job);
      if (point) await reached(point, item);
      const [answer, error] = await steps[action]().then((a) => [a, null], answerOf);
      Core.did(job, answer, error);
    }
  } finally {
    item.passed();
    if (stream) await stream.abort().catch(() => {});
    Core.end(job);
    item.release();
  }
}
