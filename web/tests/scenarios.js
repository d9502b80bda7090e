// The table of scenarios (tests/scenarios.txt), read as the C++ runners read
// it (tests/support/Scenario.cpp), for the browser's runner.
'use strict';
const fs = require('node:fs');

// Words split at spaces; "quoted words" may hold spaces and \xNN escapes,
// bytes of UTF-8.
function words(text) {
  const out = [];
  let word = '', quoted = false, any = false, bytes = [];
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (bytes.length > 0 && !(quoted && c === '\\' && text[i + 1] === 'x')) {
      word += Buffer.from(bytes).toString('utf8');
      bytes = [];
    }
    if (c === '"') {
      quoted = !quoted;
      any = true;
    } else if (quoted && c === '\\' && text[i + 1] === 'x') {
      bytes.push(parseInt(text.substr(i + 2, 2), 16));
      i += 3;
    } else if (!quoted && c === ' ') {
      if (any || word) out.push(word);
      word = '';
      any = false;
    } else {
      word += c;
    }
  }
  if (bytes.length > 0) word += Buffer.from(bytes).toString('utf8');
  if (any || word) out.push(word);
  return out;
}

function entry(word, temporaryName) {
  for (const [mark, kind] of [['=>', 'hardlink'], ['->', 'link'], ['=', 'file']]) {
    const at = word.indexOf(mark);
    if (at >= 0) {
      const [contents, mode] = word.slice(at + mark.length).split('@');
      return { kind, name: expand(word.slice(0, at), temporaryName), contents, mode };
    }
  }
  return { kind: 'folder', name: word.slice(0, word.lastIndexOf('/')), mode: word.split('@')[1] };
}

// {tmp:NAME}: the temporary name of NAME's new file, in its folder.
function expand(name, temporaryName) {
  return name.replace(/\{tmp:(.*?)\}/, (_, of) => {
    const slash = of.lastIndexOf('/');
    return of.slice(0, slash + 1) + temporaryName(of.slice(slash + 1));
  });
}

// temporaryName(name): the run's temporary name for a data file's new file.
function readScenarios(file, temporaryName) {
  const entries = (text) => words(text).map((w) => entry(w, temporaryName));
  const rows = [];
  fs.readFileSync(file, 'utf8').split('\n').forEach((text, i) => {
    if (text === '' || text.startsWith('#')) return;
    const colon = text.indexOf(': ');
    const key = text.slice(0, colon), value = text.slice(colon + 2);
    if (key === 'row') return rows.push({ name: value, line: i + 1, files: [], run: [], after: [], lines: [], notOn: {} });
    const row = rows.at(-1);
    if (key === 'files') row.files.push(...entries(value));
    else if (key === 'run') row.run = words(value);
    else if (key === 'user') row.plainUser = value === 'plain';
    else if (key === 'at') {
      const w = words(value);
      row.at = w[0] === 'start' ? { step: 'start', file: '', action: w[1], args: w.slice(2) }
        : { step: w[0], file: w[1], action: w[2], args: w.slice(3) };
    } else if (key === 'after') row.after.push(...entries(value));
    else if (key === 'then') (row.then = row.then || []).push(...entries(value));
    else if (key === 'line' || key === 'line!') row.lines.push({ problem: key === 'line!', text: value });
    else if (key === 'sum') row.sum = value;
    else if (key === 'exit') row.exit = Number(value);
    else if (key === 'not-on') {
      const space = value.indexOf(' ');
      for (const s of value.slice(0, space).split(',')) row.notOn[s] = value.slice(space + 1);
    } else throw new Error(`scenarios.txt:${i + 1}: unknown field ${key}`);
  });
  return rows;
}

module.exports = { readScenarios };
