// The core (kvo-core.js, WebAssembly) and its C interface: it checks and
// converts each file a window at a time, says which step comes next and
// what befell the file, in the desktop tool's words and by its rules for
// names.
'use strict';

// The core's actions and the flags of the page's answers, by name: numbered
// as the core numbers them, once it is loaded; the page's runs, likewise;
// and the page's own texts.
let Action = null;
let Answer = null;
let Text = null;
let Mode = null;
const NEED = -1;  // the core wants more bytes

let core = null;
const ready = KvoCore().then((module) => {
  core = module;
  ({ Action, Answer, Text, Mode } = JSON.parse(core.UTF8ToString(core._kvo_numbers())));
});

function withString(text, use) {
  const size = core.lengthBytesUTF8(text) + 1;
  const pointer = core._malloc(size);
  core.stringToUTF8(text, pointer, size);
  try { return use(pointer); } finally { core._free(pointer); }
}
const said = (pointer) => core.UTF8ToString(pointer);

// Bytes into the core's memory at the room it gives, which may grow that
// memory: HEAPU8 after it.
function into(at, bytes, offset = 0) {
  core.HEAPU8.set(bytes, at + offset);
}

const Core = {
  // A run: in place, for saving, or undo.
  begin(mode) { core._kvo_begin(Mode[mode]); },
  file(path, inFolder) { return withString(path, (p) => core._kvo_file(p, inFolder ? 1 : 0)); },
  // The very file at an earlier index; a folder the browser may not list.
  sameAs(index, first) { core._kvo_same_as(index, first); },
  unlisted(index) { core._kvo_unlisted(index); },
  start(index, undo) { return core._kvo_start(index, 0, 0, undo ? 1 : 0, 0); },
  source(job, size, fileSize) { core._kvo_source(job, size, fileSize); },
  give(job, offset, bytes) {
    into(core._kvo_window(job, bytes.length), bytes);
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
    into(core._kvo_theirs(job, bytes.length), bytes);
    core._kvo_compare(job, bytes.length);
  },
  // Compare: a piece of the backup and of the file; whether to go on.
  pair(job, backup, file) {
    const at = core._kvo_pair(job, Math.max(backup.length, file.length));
    into(at, backup);
    into(at, file, Math.max(backup.length, file.length, 1));
    return core._kvo_paired(job, backup.length, file.length) === 1;
  },
  next(job) { return core._kvo_next(job); },
  point(job) { return said(core._kvo_point(job)); },
  did(job, answer, error) { return error ? withString(error.name || '', (e) => core._kvo_did(job, answer, e)) : core._kvo_did(job, answer, 0); },
  end(job) { core._kvo_end(job); },
  converted(index) { return core._kvo_converted(index) === 1; },
  line(index) { return said(core._kvo_line(index)); },
  problem(index) { return core._kvo_problem(index) === 1; },
  summary() { return said(core._kvo_summary()); },
  closing() { return said(core._kvo_closing()); },
  progressLine(done, total) { return withString('', (n) => said(core._kvo_progress_line(done, total, n))); },
  // The desktop tool's rules for names: their order, a data file, its
  // backup's name and the copy's before it, a cut run's leftovers.
  sortKey(name) { return withString(name, (n) => said(core._kvo_sort_key(n))); },
  isData(name) { return withString(name, (n) => core._kvo_is_data(n)) === 1; },
  backupName(name) { return withString(name, (n) => said(core._kvo_backup_name(n))); },
  backupCopyName(name) { return withString(name, (n) => said(core._kvo_backup_copy_name(n))); },
  leftovers(names) {
    return withString(names.map((n) => `${n}/`).join(''), (l) => said(core._kvo_leftovers(l))).split('/').slice(0, -1);
  },
};
