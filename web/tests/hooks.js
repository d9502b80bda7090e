// The test build's own, never in the page users get: its tests (and the
// bench) run over a folder handle as if the user had picked it, or over
// named files in one, and read what the page showed; they act at each step
// of a file (window.kvoReached), undo files they name, grow the core's
// memory as another file's job would, and wait less for a read that never
// answers.
const shownRun = run;
run = async (items, mode) => {
  await shownRun(items, mode);
  window.kvoLastRun = {
    lines: [...$('lines').children].map((li) => ({ text: li.querySelector('.line').textContent, problem: li.classList.contains('problem') })),
    summary: items.length === 1 && !items[0].inFolder ? '' : Core.summary(),
  };
};
window.kvoConvertFolder = async (dir) => {
  await ready;
  await convertHere(() => walkFolder(dir, dir.name ? dir.name + '/' : '', []));
  return window.kvoLastRun;
};
window.kvoConvertFiles = async (dir, names) => {
  await ready;
  const handles = [];
  for (const name of names) handles.push(await dir.getFileHandle(name));
  await convertHere(() => filesIn(dir, handles));
  return window.kvoLastRun;
};
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
