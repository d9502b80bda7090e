// The browser's core against the desktop tool: over a folder of the project's
// generated files (1,000 random ones and the edge cases of the core's tests)
// each converted file must have the same bytes, and each file the same line,
// as the command line gives; the summary too.
//   node same-bytes.js SITE CLI GEN
'use strict';
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [site, cli, gen] = process.argv.slice(2).map((a) => path.resolve(a));
const KvoCore = require(path.resolve(site, 'kvo-core.js'));

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-web-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));
const mine = path.join(work, 'mine', 'Ordner');
fs.mkdirSync(mine, { recursive: true });

execFileSync(gen, ['--edge-cases', mine]);
for (let seed = 1; seed <= 1000; ++seed) {
  // Sizes from a header's worth to about 60 KB; some with counts of their own.
  const args = seed % 10 === 0 ? ['--count', `${6 + (seed % 5)}=${seed % 37}`] : ['--mb', String((seed % 7) / 120)];
  execFileSync(gen, ['--seed', String(seed), ...args, path.join(mine, `z${seed}.dat`)]);
}
// A backup name already taken.
fs.copyFileSync(path.join(mine, 'z1.dat'), path.join(mine, 'belegt.dat'));
fs.writeFileSync(path.join(mine, 'belegt.old'), 'x');

// The desktop tool converts a copy in place.
const theirs = path.join(work, 'theirs');
fs.cpSync(path.join(work, 'mine'), theirs, { recursive: true });
const run = spawnSync(cli, ['Ordner'], { cwd: theirs, encoding: 'utf8' });
assert.equal(run.error, undefined);
const cliLines = (run.stdout + run.stderr).split('\n').filter((l) => l !== '');
const cliSummary = cliLines.filter((l) => l.startsWith('Zusammenfassung: '));
const cliFiles = cliLines.filter((l) => !l.startsWith('Zusammenfassung: ')).sort();

KvoCore().then((core) => {
  const text = (s) => {
    const n = core.lengthBytesUTF8(s) + 1, p = core._malloc(n);
    core.stringToUTF8(s, p, n);
    return p;
  };
  // The page's way: the file a window at a time, here of `window` bytes at
  // least, so that the core stops and goes on wherever a window ends.
  const convert = (index, bytes, taken, window) => {
    const job = core._kvo_start(index, bytes.length, taken, 0, 0);
    const out = [];
    let outcome;
    for (;;) {
      outcome = core._kvo_step(job);
      const n = core._kvo_output_size(job);
      if (n > 0) {
        out.push(Buffer.from(core.HEAPU8.subarray(core._kvo_output(job), core._kvo_output(job) + n)));
        core._kvo_taken(job);
      }
      if (outcome !== -1) break;
      const at = core._kvo_need_offset(job);
      const piece = bytes.subarray(at, at + Math.max(window, core._kvo_need_size(job)));
      core.HEAPU8.set(piece, core._kvo_window(job, piece.length));
      core._kvo_give(job, at, piece.length);
    }
    core._kvo_end(job);
    return { outcome, output: Buffer.concat(out) };
  };
  core._kvo_begin(0);
  const lines = [];
  let converted = 0, compared = 0;
  const names = fs.readdirSync(mine).filter((n) => n.endsWith('.dat')).sort();
  for (const [i, name] of names.entries()) {
    const bytes = fs.readFileSync(path.join(mine, name));
    const where = text(`Ordner/${name}`);
    const index = core._kvo_file(where, 1);
    core._free(where);
    const taken = fs.existsSync(path.join(mine, name.replace(/\.dat$/, '.old'))) ? 1 : 0;
    // Whole, in windows of 4 KB, or byte by byte as the core asks.
    const { outcome, output } = convert(index, bytes, taken, [bytes.length, 4096, 1][i % 3]);
    lines.push(core.UTF8ToString(core._kvo_line(index)));
    const now = fs.readFileSync(path.join(theirs, 'Ordner', name));
    if (outcome === 3) {
      ++converted;
      assert.ok(output.equals(now), `${name}: other bytes than the desktop tool's`);
    } else {
      assert.ok(bytes.equals(now), `${name}: the desktop tool changed what the core refused`);
      assert.equal(output.length, 0, `${name}: refused, yet written`);
    }
    ++compared;
  }
  assert.deepEqual(lines.sort(), cliFiles);
  assert.deepEqual([core.UTF8ToString(core._kvo_summary())], cliSummary);
  assert.ok(converted >= 900 && compared - converted >= 200, `${converted} of ${compared} converted`);
  console.log(`${compared} files, ${converted} converted, same bytes and lines as ${path.basename(cli)}`);
});
