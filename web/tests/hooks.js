// The test build's own, never in the page users get: its tests act at each
// step of a file (window.kvoReached), undo files they name, grow the
// core's memory as another file's job would, and wait less for a read
// that never answers.
reached = async (step, item) => {
  if (window.kvoReached) await window.kvoReached(step, item.path);
};
window.kvoUndoFiles = async (dir, names) => {
  await ready;
  const items = [];
  for (const name of names) {
    items.push({ dir, handle: await dir.getFileHandle(name), path: name, inFolder: false });
  }
  await run(items, 'undo');
  return window.kvoLastRun;
};
window.kvoGrowMemory = () => core._free(core._malloc(core.HEAPU8.length));
window.kvoStallAfter = (ms) => { stallMs = ms; };
