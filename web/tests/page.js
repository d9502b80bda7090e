// The page in a real browser (Debian's Chromium, driven by puppeteer-core),
// served from 127.0.0.1 as a user has it, in its test build (the same page
// with the tests' hooks; the page users get has none):
// - every row of the table of scenarios (tests/scenarios.txt) the page can
//   produce, in place on the browser's origin-private file system, whose
//   folder handles are those of a picked folder, the row's event at its
//   step: the same lines, counts and files as the command line;
// - a folder as the command line leaves it, and undo of that run;
// - the page closed in the middle of a run, and the run after it;
// - Abbrechen in the middle of a folder; what a screen reader is told; the
//   focus ring; problem lines marked in words;
// - a large file converted in place in bounded memory;
// - where the browser may not write, the files offered for saving, never
//   under their originals' names;
// - after the page has loaded, no request leaves it.
//   node page.js SITE CLI GEN SCENARIOS [PICTURES_DIR]
'use strict';
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { unzipSync } = require('fflate');
const { readScenarios } = require('./scenarios');
const chooseFiles = require('./choose');

const [site, cli, gen, table] = process.argv.slice(2, 6).map((a) => path.resolve(a));
const pictures = process.argv[6] && path.resolve(process.argv[6]);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-page-'));
const step = (what) => console.log(`- ${what}`);

// Every wait has a limit that names what it waited for: a hang is told as
// one, at its place, long before the runner's own limit ends the test, with
// the browser's file calls that had not answered by then.
const watched = new Set();  // pages whose file calls are watched
const within = (what, promise, minutes = 4) => {
  let timer;
  const limit = new Promise((_, fail) => {
    timer = setTimeout(async () => {
      const pending = [];
      for (const page of watched) pending.push(...await page.evaluate(() => window.kvoPending()).catch(() => []));
      fail(new Error(`no end in ${minutes} minutes: ${what}; unanswered: ${pending.join(', ') || 'none'}`));
    }, minutes * 60000);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
};
// Notes each file call of the browser's that a page makes until it answers.
async function watchCalls(page) {
  watched.add(page);
  page.on('close', () => watched.delete(page));
  await page.evaluateOnNewDocument(() => {
    const pending = new Map();
    let next = 0;
    const watch = (type, names) => {
      for (const name of names) {
        const call = type.prototype[name];
        type.prototype[name] = function (...args) {
          const id = next++;
          pending.set(id, `${type.name}.${name}(${this.name || ''})`);
          const result = call.apply(this, args);
          return result instanceof Promise ? result.finally(() => pending.delete(id)) : (pending.delete(id), result);
        };
      }
    };
    watch(FileSystemFileHandle, ['getFile', 'createWritable', 'move']);
    watch(FileSystemDirectoryHandle, ['getFileHandle', 'getDirectoryHandle', 'removeEntry']);
    watch(FileSystemWritableFileStream, ['write', 'close', 'abort', 'seek']);
    watch(Blob, ['arrayBuffer']);
    watch(ReadableStreamBYOBReader, ['read']);
    window.kvoPending = () => [...pending.values()];
  });
}

// Until the condition holds in the page: checked at each change of the page,
// in its own world (puppeteer's waits did not always come back here).
const until = (page, what, condition) => within(what, page.evaluate(`new Promise((ok) => {
  const holds = ${condition};
  const observer = new MutationObserver(() => holds() && (observer.disconnect(), ok()));
  observer.observe(document, { subtree: true, childList: true, attributes: true, characterData: true });
  if (holds()) (observer.disconnect(), ok());
})`));

// ---- the files ---------------------------------------------------------

// A file's bytes as the table writes them, made by the project's generator.
const made = new Map();
function contents(expression) {
  if (!made.has(expression)) {
    const file = path.join(work, `contents-${made.size}.dat`);
    execFileSync(gen, ['--contents', expression, file]);
    made.set(expression, file);
  }
  return made.get(expression);
}
const digest = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

// name -> bytes of a folder tree, subfolders as "a/b.dat".
function readTree(dir, prefix = '') {
  const out = {};
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) Object.assign(out, readTree(full, prefix + entry.name + '/'));
    else out[prefix + entry.name] = fs.readFileSync(full);
  }
  return out;
}

function writeTree(dir, tree) {
  for (const [name, bytes] of Object.entries(tree)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), bytes);
  }
}

// What the command line does to a tree: its lines (sorted, the summary
// last) and the tree afterwards.
function desktop(tree, name) {
  const dir = path.join(work, name);
  writeTree(path.join(dir, 'Ordner'), tree);
  const run = spawnSync(cli, ['Ordner'], { cwd: dir, encoding: 'utf8' });
  assert.equal(run.error, undefined);
  const lines = (run.stdout + run.stderr).split('\n').filter(Boolean);
  const summary = lines.filter((l) => l.startsWith('Zusammenfassung: '));
  return { lines: lines.filter((l) => !summary.includes(l)).sort().concat(summary), after: readTree(path.join(dir, 'Ordner')) };
}

// ---- the server and the browser -------------------------------------------

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };
// The site, and for the tests' own use the files under /files/ (a file by
// its path here) and /contents/ (a file as the table writes it).
let served = {};
const server = http.createServer((request, response) => {
  const url = new URL(request.url, 'http://x');
  const name = decodeURIComponent(url.pathname).replace(/^\/$/, '/index.html');
  // A page of the same origin without the page's rules, that fills its files.
  if (name === '/helper.html') return response.end('<!DOCTYPE html><title>helper</title>');
  let file = path.join(site, path.normalize(name));
  if (name.startsWith('/contents/')) file = contents(name.slice('/contents/'.length));
  if (name.startsWith('/files/')) file = served[name.slice('/files/'.length)];
  if (!file || (!file.startsWith(site) && !name.startsWith('/contents/') && !name.startsWith('/files/')) || !fs.existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
    'Content-Length': fs.statSync(file).size });
  fs.createReadStream(file).pipe(response);
});

async function main() {
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const url = `http://127.0.0.1:${server.address().port}/`;
  const launch = (profile) => puppeteer.launch({
    executablePath: process.env.KVO_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // A slow or busy machine takes its time; the test's own limit holds.
    protocolTimeout: 0,
    userDataDir: profile || path.join(work, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const browsers = [];  // each closed at the end, however the test ends
  const browser = await launch();
  browsers.push(browser);
  const requests = [];  // every request a page makes after it loaded, but the tests' own
  const open = async (setup) => {
    const page = await browser.newPage();
    page.on('pageerror', (e) => console.log(`  the page: ${e.message}`));
    page.on('console', (m) => console.log(`  the page says: ${m.text()}`));
    await page.setViewport({ width: 1280, height: 720 });
    await watchCalls(page);
    if (setup) await setup(page);
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(() => navigator.serviceWorker.ready);
    page.on('request', (r) => !/\/(contents|files)\//.test(r.url()) && requests.push(r.url()));
    return page;
  };
  const helper = await browser.newPage();
  await helper.goto(`${url}helper.html`);
  const shot = async (page, name) => {
    if (!pictures) return;
    fs.mkdirSync(pictures, { recursive: true });
    await page.screenshot({ path: path.join(pictures, `${name}.png`), fullPage: true });
  };

  // ---- the origin-private file system ---------------------------------------

  // Puts files into a folder of it, made anew: name -> a path under /files/
  // or /contents/, fetched and written as they come (by the helper page: the
  // page itself may fetch nothing).
  const put = (folder, sources) => within(`the files of ${folder} put in place`, helper.evaluate(async (folder, sources) => {
    const root = await navigator.storage.getDirectory();
    await root.removeEntry(folder, { recursive: true }).catch(() => {});
    const dir = await root.getDirectoryHandle(folder, { create: true });
    for (const [file, source] of Object.entries(sources)) {
      const parts = file.split('/');
      let where = dir;
      for (const part of parts.slice(0, -1)) where = await where.getDirectoryHandle(part, { create: true });
      if (source === null) continue;  // a folder
      const stream = await (await where.getFileHandle(parts.at(-1), { create: true })).createWritable();
      await (await fetch(source)).body.pipeTo(stream);
    }
  }, folder, sources));
  // What a folder of it holds: name -> the SHA-256 of its bytes.
  const hashes = (folder) => within(`the files of ${folder} read`, helper.evaluate(async (folder) => {
    const out = {};
    const walk = async (dir, prefix) => {
      for await (const entry of dir.values()) {
        if (entry.kind === 'directory') await walk(entry, prefix + entry.name + '/');
        else {
          const hash = await crypto.subtle.digest('SHA-256', await (await entry.getFile()).arrayBuffer());
          out[prefix + entry.name] = [...new Uint8Array(hash)].map((b) => b.toString(16).padStart(2, '0')).join('');
        }
      }
    };
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle(folder), '');
    return out;
  }, folder));
  const take = async (name) => Object.fromEntries(Object.entries(await within(`the files of ${name} taken`, helper.evaluate(async (name) => {
    const out = {};
    const walk = async (dir, prefix) => {
      for await (const entry of dir.values()) {
        if (entry.kind === 'directory') await walk(entry, prefix + entry.name + '/');
        else {
          const bytes = new Uint8Array(await (await entry.getFile()).arrayBuffer());
          let s = '';
          for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
          out[prefix + entry.name] = btoa(s);
        }
      }
    };
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle(name), '');
    return out;
  }, name))).map(([k, v]) => [k, Buffer.from(v, 'base64')]));
  const sameTree = (a, b, what) => {
    assert.deepEqual(Object.keys(a).sort(), Object.keys(b).sort(), what);
    for (const k of Object.keys(a)) assert.ok(a[k].equals(b[k]), `${what}: ${k}`);
  };
  const contentsOf = (expression) => `/contents/${encodeURIComponent(expression)}`;

  try {
    step('the page loads');
    let page = await open();
    const production = fs.readFileSync(path.join(site, '..', 'site', 'app.js'), 'utf8');
    assert.ok(!production.includes('kvoReached'), 'the page users get has a test hook');
    await shot(page, 'start');
    await page.setViewport({ width: 390, height: 844 });
    await shot(page, 'start-phone');
    await page.setViewport({ width: 1280, height: 720 });

    // ---- the table of scenarios --------------------------------------------
    step('the table of scenarios');
    const core = await require(path.join(site, 'kvo-core.js'))();
    const temporaryName = (name) => {
      const n = core.lengthBytesUTF8(name) + 1, p = core._malloc(n);
      core.stringToUTF8(name, p, n);
      const temporary = core.UTF8ToString(core._kvo_temporary_name(p));
      core._free(p);
      return temporary;
    };
    let ran = 0, marked = 0, options = 0;
    for (const row of readScenarios(table, temporaryName)) {
      if (row.notOn.browser) {
        ++marked;
        continue;
      }
      if (row.run.some((a) => a.startsWith('-') && a !== '--undo')) {
        ++options;  // the command line's
        continue;
      }
      const trace = `row "${row.name}", scenarios.txt:${row.line}`;
      const sources = {};
      for (const e of row.files) sources[e.name] = e.kind === 'folder' ? null : contentsOf(e.contents);
      await put('w', sources);
      // A folder its user may not list: one the browser will not list.
      await page.evaluate((names) => {
        const values = FileSystemDirectoryHandle.prototype.kvoValues || FileSystemDirectoryHandle.prototype.values;
        FileSystemDirectoryHandle.prototype.kvoValues = values;
        FileSystemDirectoryHandle.prototype.values = function () {
          if (names.includes(this.name)) throw new DOMException('not listed', 'NotAllowedError');
          return values.call(this);
        };
      }, row.files.filter((e) => e.kind === 'folder' && e.mode && !(parseInt(e.mode, 8) & 0o400)).map((e) => e.name.split('/').pop()));
      // What another program saves or puts, ready before the run.
      const ready = { 'v10.dat': contentsOf('v10/9') };
      if (row.at && row.at.action === 'put') ready.put = contentsOf(row.at.args[1]);
      await put('saved', ready);
      // The row's event, done in the page at its step.
      await page.evaluate((at, saved) => {
        let fired = false;
        const file = async (name) => {
          let dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('w');
          const parts = name.split('/');
          for (const part of parts.slice(0, -1)) dir = await dir.getDirectoryHandle(part);
          return { dir, name: parts.at(-1) };
        };
        const act = async () => {
          fired = true;
          const { dir, name } = await file(at.args[0] || at.file);
          if (at.action === 'append') {
            const handle = await dir.getFileHandle(name);
            const stream = await handle.createWritable({ keepExistingData: true });
            await stream.seek((await handle.getFile()).size);
            await stream.write(new Uint8Array([33]));
            await stream.close();
          } else if (at.action === 'saveover') {
            const saving = await dir.getFileHandle(`${name}.neu`, { create: true });
            const root = await navigator.storage.getDirectory();
            const from = await (await root.getDirectoryHandle('saved')).getFileHandle('v10.dat');
            await (await from.getFile()).stream().pipeTo(await saving.createWritable());
            await saving.move(name);
          } else if (at.action === 'remove') {
            await dir.removeEntry(name);
          } else if (at.action === 'put') {
            const root = await navigator.storage.getDirectory();
            const from = await (await root.getDirectoryHandle('saved')).getFileHandle('put');
            const to = await dir.getFileHandle(name, { create: true });
            await (await from.getFile()).stream().pipeTo(await to.createWritable());
          } else if (at.action === 'cancel') {
            document.getElementById('cancel').click();
          } else if (at.action === 'full') {
            const write = FileSystemWritableFileStream.prototype.write;
            FileSystemWritableFileStream.prototype.write = function () {
              return Promise.reject(new DOMException('full', 'QuotaExceededError'));
            };
            window.kvoWrite = write;
          } else {
            throw new Error(`no such event here: ${at.action}`);
          }
        };
        window.kvoFired = () => fired;
        window.kvoReached = at && at.step !== 'start' ? async (step, path) => {
          if (!fired && step === at.step && (path === at.file || path.endsWith(`/${at.file}`))) await act();
        } : null;
        window.kvoStart = at && at.step === 'start' ? act : async () => {};
      }, row.at || null);
      const go = () => page.evaluate(async (run, folder) => {
        const w = await (await navigator.storage.getDirectory()).getDirectoryHandle('w');
        if (run[0] === '--undo') return window.kvoUndoFiles(w, run.slice(1));
        if (folder) return window.kvoConvertFolder(await w.getDirectoryHandle(run[0]));
        return window.kvoConvertFiles(w, run);
      }, row.run, row.run.length === 1 && row.files.some((e) => e.name.startsWith(`${row.run[0]}/`)));
      await page.evaluate(() => window.kvoStart());
      const said = await within(`${trace}: the run`, go());
      await page.evaluate(() => {
        if (window.kvoWrite) FileSystemWritableFileStream.prototype.write = window.kvoWrite;
      });
      assert.equal(await page.evaluate(() => window.kvoFired()), row.at !== undefined, `${trace}: the event`);
      assert.deepEqual(said.lines, row.lines.map(({ problem, text }) => ({ problem, text })), trace);
      if (row.sum) assert.equal(said.summary, `Zusammenfassung: ${row.sum}`, trace);
      const expected = (entries) => Object.fromEntries(entries.filter((e) => e.kind !== 'folder')
        .map((e) => [e.name, digest(contents(e.contents))]));
      assert.deepEqual(await hashes('w'), expected(row.after), `${trace}: after`);
      await page.evaluate(() => { window.kvoReached = null; });
      await within(`${trace}: the rerun`, go());
      assert.deepEqual(await hashes('w'), expected(row.then || row.after), `${trace}: after a rerun`);
      ++ran;
    }
    console.log(`browser: ${ran} rows run, ${marked} marked as not to be produced here, ${options} the command line's`);
    assert.ok(ran > 0);

    // ---- a folder as the command line leaves it, and undo ----------------------
    step('in place on the origin-private file system');
    const generated = (expression) => fs.readFileSync(contents(expression));
    const good = generated('v10/1');
    const folder = {
      'gut.dat': generated('v10/2'),
      'neu.dat': generated('v10/1>11'),
      'kurz.dat': good.subarray(0, 5000),
      'belegt.dat': generated('v10/3'),
      'belegt.old': Buffer.from('x'),
      'Notiz.dat': Buffer.from('Nicht vergessen: Weichen ölen.\n'),
      'Bahnhof/Ost.dat': generated('v10/4'),
    };
    const serve = (tree, prefix) => {
      const sources = {};
      for (const [name, bytes] of Object.entries(tree)) {
        const file = path.join(work, 'served', prefix, name);
        fs.mkdirSync(path.dirname(file), { recursive: true });
        fs.writeFileSync(file, bytes);
        served[`${prefix}/${name}`] = file;
        sources[name] = `/files/${prefix}/${name}`;
      }
      return sources;
    };
    await put('Ordner', serve(folder, 'ordner'));
    const said = await within('the folder converted in place', page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Ordner');
      return window.kvoConvertFolder(dir);
    }));
    const expected = desktop(folder, 'in-place');
    assert.deepEqual(said.lines.map((l) => l.text).sort().concat([said.summary]), expected.lines);
    sameTree(await take('Ordner'), expected.after, 'in place');
    // Problem lines say so in words, not by colour alone; the summary is
    // where a screen reader hears it and where the focus is; undo beside it.
    assert.deepEqual(await page.$$eval('#lines li.problem .mark', (m) => m.map((e) => e.textContent)),
      ['Bitte ansehen: ', 'Bitte ansehen: ', 'Bitte ansehen: ']);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'summary');
    assert.equal(await page.$eval('#summary', (e) => e.textContent), said.summary);
    assert.equal(await page.$eval('#summary', (e) => e.closest('[aria-live]').getAttribute('role')), 'status');
    assert.equal(await page.$eval('#undo', (e) => e.parentElement === document.getElementById('summary').parentElement), true);
    await shot(page, 'umgesetzt');
    await page.setViewport({ width: 390, height: 844 });
    await shot(page, 'umgesetzt-phone');
    await page.setViewport({ width: 1280, height: 720 });

    step('undo');
    await page.click('#undo');
    await until(page, 'the summary of undo', () => document.getElementById('summary').textContent.includes('rückgängig'));
    assert.equal(await page.$eval('#summary', (e) => e.textContent),
      'Zusammenfassung: 2 rückgängig gemacht, 0 nicht rückgängig gemacht');
    sameTree(await take('Ordner'), folder, 'after undo');

    step('two windows at once');
    // The second window's run waits while the first's is under way, says
    // so, and finds the files as the first left them.
    const two = { 'a.dat': good, 'b.dat': generated('v10/2') };
    await put('Zwei', serve(two, 'zwei'));
    const inZwei = async () => window.kvoConvertFolder(await (await navigator.storage.getDirectory()).getDirectoryHandle('Zwei'));
    await page.evaluate(() => {
      const held = new Promise((ok) => { window.kvoLetGo = ok; });
      window.kvoReached = async (step) => step === 'read' && held;
    });
    const first = page.evaluate(inZwei);
    await until(page, 'the first window under way', () => !document.getElementById('work').hidden);
    const other = await open();
    const second = other.evaluate(inZwei);
    await until(other, 'the second window waiting', () => document.getElementById('notice').textContent
      === 'Ein anderes Fenster dieser Seite setzt gerade um; es geht weiter, sobald es fertig ist');
    await page.evaluate(() => { window.kvoReached = null; window.kvoLetGo(); });
    const [once, again] = await within('two windows at once', Promise.all([first, second]));
    assert.equal(once.summary, 'Zusammenfassung: 2 umgesetzt, 0 nicht umgesetzt');
    assert.deepEqual(again.lines.map((l) => l.text), ['Zwei/a.dat: Schon auf Version 1.1, nichts zu tun',
      'Zwei/b.dat: Schon auf Version 1.1, nichts zu tun']);
    sameTree(await take('Zwei'), desktop(two, 'zwei').after, 'two windows at once');
    await other.close();

    // ---- Abbrechen, and what a user is told ----------------------------------
    step('an empty folder');
    await page.evaluate(async () => window.kvoConvertFolder(await (await navigator.storage.getDirectory()).getDirectoryHandle('Leer', { create: true })));
    assert.equal(await page.$eval('#summary', (e) => e.textContent), 'Keine Datei mit der Endung .dat gefunden');

    step('a file chosen outside the folder chosen for it');
    // The page's own words, from the core's texts, in the notice; nothing
    // is converted.
    const outside = await page.evaluate(async () => {
      const root = await navigator.storage.getDirectory();
      const other = await root.getDirectoryHandle('Anderswo', { create: true });
      const file = await other.getFileHandle('a.dat', { create: true });
      await guarded(async () => convertHere(async () => filesIn(await root.getDirectoryHandle('Leer'), [file])));
      return document.getElementById('notice').textContent;
    });
    assert.equal(outside, '„a.dat“ liegt nicht im gewählten Ordner „Leer“.');

    step('Abbrechen in the middle of a folder');
    const many = {};
    for (let i = 0; i < 40; ++i) many[`f${i + 1}.dat`] = generated(`v10/${10 + i}`);
    await put('Viele', serve(many, 'viele'));
    // Cancelled once the fifth file is read; the files started before it
    // finish, the others are not begun and are counted as such.
    await page.evaluate(() => {
      window.kvoReached = async (step, path) => {
        if (step === 'read' && path.endsWith('/f5.dat')) document.getElementById('cancel').click();
      };
    });
    const cut = await within('the run cancelled at f5.dat', page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
      return window.kvoConvertFolder(dir);
    }));
    const counted = /^Zusammenfassung: (\d+) umgesetzt, (\d+) nicht begonnen, 0 nicht umgesetzt$/.exec(cut.summary);
    assert.ok(counted, cut.summary);
    assert.equal(Number(counted[1]), cut.lines.length);
    assert.equal(Number(counted[1]) + Number(counted[2]), 40);
    assert.ok(Number(counted[1]) >= 5 && Number(counted[2]) > 0, cut.summary);
    // Named in the order a reader expects: f1, f2, ..., f10.
    assert.deepEqual(cut.lines.map((l) => l.text.split(':')[0]),
      Object.keys(many).slice(0, cut.lines.length).map((n) => `Viele/${n}`));
    await page.evaluate(() => { window.kvoReached = null; });

    step('the progress bar, the focus ring');
    assert.equal(await page.$eval('#bar', (e) => e.getAttribute('aria-label')), 'Fortschritt des Umsetzens');
    await page.focus('#convert');
    await page.keyboard.press('Tab');
    await page.keyboard.down('Shift');
    await page.keyboard.press('Tab');
    await page.keyboard.up('Shift');
    const ring = await page.$eval('#convert', (e) => getComputedStyle(e).outlineColor);
    const background = await page.$eval('body', (e) => getComputedStyle(e).backgroundColor);
    const luminance = (css) => {
      const [r, g, b] = css.match(/\d+/g).slice(0, 3).map((v) => {
        const c = Number(v) / 255;
        return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
      });
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const [light, dark] = [luminance(ring), luminance(background.includes('0, 0, 0, 0') ? 'rgb(255,255,255)' : background)].sort((a, b) => b - a);
    assert.ok((light + 0.05) / (dark + 0.05) >= 3, `the focus ring: ${ring} on ${background}`);

    // ---- closed in the middle of a run ---------------------------------------
    step('closed in the middle of a run');
    const big = {};
    for (let i = 0; i < 12; ++i) big[`f${String(i).padStart(2, '0')}.dat`] = generated(`big/${30 + i}`);
    const bigConverted = desktop(big, 'many').after;
    await put('Viele', serve(big, 'big'));
    await page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
      window.kvoConvertFolder(dir);
    });
    await until(page, 'two lines of the run to be closed', () => !document.getElementById('work').hidden && document.querySelectorAll('#lines li').length >= 2);
    await shot(page, 'fortschritt');
    await page.close();
    page = await open();
    step('what the closed page left');
    const after = await hashes('Viele');
    const hashOf = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
    let done = 0;
    for (const [name, original] of Object.entries(big)) {
      const now = after[name], backup = after[name.replace('.dat', '.old')];
      if (now === hashOf(original)) {
        // Untouched, and no backup: that comes whole under its name or not.
        assert.ok(!backup || backup === hashOf(original), `${name}: a stray backup`);
      } else {
        assert.ok(now === hashOf(bigConverted[name]) && backup === hashOf(original), `${name}: neither`);
        ++done;
      }
    }
    assert.ok(done >= 2, `${done} converted before the page closed`);
    const finished = await within('the run after the closed page', page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
      return window.kvoConvertFolder(dir);
    }));
    assert.equal(finished.summary, `Zusammenfassung: ${12 - done} umgesetzt, ${done} schon auf Version 1.1, 0 nicht umgesetzt`);
    // The closed page's unfinished copies are the browser's to let go of; one
    // it still held stays for the run after, which clears it.
    const wanted = Object.fromEntries(Object.entries(bigConverted).map(([k, v]) => [k, hashOf(v)]));
    // Read until two reads agree: the closed page's streams are the
    // browser's to settle.
    let now = await hashes('Viele');
    for (let last = null, reads = 0; JSON.stringify(now) !== JSON.stringify(last); ++reads) {
      assert.ok(reads < 1000, 'the closed page\'s files never settled');
      [last, now] = [now, await hashes('Viele')];
    }
    for (const name of Object.keys(now)) {
      if (!(name in wanted)) assert.match(name, /^\.kvo-.*\.tmp(\.crswap)?$|\.crswap$/, 'finished');
    }
    if (Object.keys(now).length > Object.keys(wanted).length) {
      await within('the run that clears what the closed page held', page.evaluate(async () => {
        const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
        return window.kvoConvertFolder(dir);
      }));
      now = await hashes('Viele');
    }
    assert.deepEqual(now, wanted, 'finished');

    // ---- a large file through the browser's troubles ------------------------------
    // A large file converted while the page meets a trouble the test makes
    // in it: still the command line's bytes under a success line.
    //   grow: another file's job grows the core's memory while this one waits
    //         for its stream, after the first piece was handed over;
    //   stall: one read of the browser's never answers, and is given up.
    for (const [trouble, folder, seed] of [['grow', 'Wachsen', 60], ['stall', 'Stockt', 61]]) {
      step(`a large file, the page meeting: ${trouble}`);
      const large = { 'gross.dat': generated(`big/${seed}`) };
      await put(folder, serve(large, folder));
      const said = await within(`the large file meeting ${trouble}`, page.evaluate(async (trouble, folder) => {
        const [type, name] = trouble === 'grow' ? [FileSystemFileHandle, 'createWritable'] : [ReadableStreamBYOBReader, 'read'];
        const call = type.prototype[name];
        let calls = 0;
        type.prototype[name] = function (...args) {
          if (trouble === 'grow') window.kvoGrowMemory();
          return trouble === 'stall' && ++calls === 2 ? new Promise(() => {}) : call.apply(this, args);
        };
        window.kvoStallAfter(500);
        try {
          const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle(folder);
          return await window.kvoConvertFiles(dir, ['gross.dat']);
        } finally {
          type.prototype[name] = call;
          window.kvoStallAfter(10000);
        }
      }, trouble, folder));
      assert.deepEqual(said.lines, [{ problem: false, text: 'gross.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old' }]);
      // A file named alone closes with what its own box says.
      assert.equal(await page.$eval('#summary', (e) => e.textContent), 'Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old');
      sameTree(await take(folder), desktop(large, folder).after, `the large file meeting ${trouble}`);
    }

    // ---- a large file in bounded memory -----------------------------------------
    step('a large file in bounded memory');
    {
      // KVO_LARGE_MB=1024 for the figure of a gigabyte.
      const largeMb = Number(process.env.KVO_LARGE_MB || 300);
      // The file put into the browser's file system by one browser; the page
      // converts it in another on the same profile, whose page's process has
      // done nothing else: its peak is the conversion's.
      const large = path.join(work, 'gross.dat');
      execFileSync(gen, ['--seed', '7', '--mb', String(largeMb), large]);
      served['large/gross.dat'] = large;
      const profile = path.join(work, 'profile-large');
      const filler = await launch(profile);
      browsers.push(filler);
      const helping = await filler.newPage();
      await watchCalls(helping);
      await helping.goto(`${url}helper.html`);
      await within(`the large file filled (${largeMb} MB)`, helping.evaluate(async () => {
        const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Gross', { create: true });
        const stream = await (await dir.getFileHandle('gross.dat', { create: true })).createWritable();
        await (await fetch('/files/large/gross.dat')).body.pipeTo(stream);
      }));
      await filler.close();
      step('  filled; converting');
      const own = await launch(profile);
      browsers.push(own);
      const converting = await own.newPage();
      await watchCalls(converting);
      await converting.goto(url, { waitUntil: 'load' });
      const said = await within(`the large file converted (${largeMb} MB)`, converting.evaluate(async () => {
        const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Gross');
        return window.kvoConvertFiles(dir, ['gross.dat']);
      }));
      assert.deepEqual(said.lines, [{ problem: false, text: 'gross.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old' }]);
      // The peak of the page's process, as the system counts it (VmHWM):
      // the browser names its processes.
      const info = await (await own.target().createCDPSession()).send('SystemInfo.getProcessInfo');
      const peak = Math.max(...info.processInfo.filter((p) => p.type === 'renderer').map((p) =>
        Number(/VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${p.id}/status`, 'utf8'))[1]) * 1024));
      console.log(`  a file of ${largeMb} MB converted in place; the page's peak memory: ${(peak / (1 << 20)).toFixed(0)} MB`);
      assert.ok(peak < 256 * (1 << 20), `peak ${peak} bytes`);
      await own.close();
    }

    // ---- where the browser may not write --------------------------------------
    step('saving where the browser may not write');
    const plain = await open((p) => p.evaluateOnNewDocument(() => {
      for (const name of ['showDirectoryPicker', 'showOpenFilePicker']) {
        Object.defineProperty(window, name, { value: undefined });
      }
      Object.defineProperty(DataTransferItem.prototype, 'getAsFileSystemHandle', { value: undefined });
    }));
    const downloads = path.join(work, 'downloads');
    fs.mkdirSync(downloads);
    const downloader = await browser.target().createCDPSession();
    await downloader.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
    const cdp = await plain.createCDPSession();
    const chosen = path.join(work, 'chosen');
    writeTree(chosen, folder);
    const saveAs = async (name) => {
      const file = path.join(downloads, name);
      // Done when the browser says so.
      const came = new Promise((ok) => {
        const progress = (event) => {
          if (event.state !== 'inProgress') {
            downloader.off('Browser.downloadProgress', progress);
            ok(event.state);
          }
        };
        downloader.on('Browser.downloadProgress', progress);
      });
      await plain.click('#download');
      assert.equal(await within(`the download of ${name}`, came), 'completed');
      const bytes = fs.readFileSync(file);
      fs.rmSync(file);
      return bytes;
    };
    step('chosen');
    // As the file dialog gives them to the page.
    await chooseFiles(plain, Object.fromEntries(['gut.dat', 'belegt.dat', 'kurz.dat', 'Notiz.dat'].map((n) => [n, folder[n]])));
    await until(plain, 'the chosen files offered for saving', () => !document.getElementById('save').hidden);
    await shot(plain, 'speichern');
    // In a folder of their own: unpacked where the originals are, nothing is
    // written over.
    const zip = unzipSync(await saveAs('kvo-umsetzer-version-1.1.zip'));
    assert.deepEqual(Object.keys(zip).sort(), ['Version 1.1/belegt.dat', 'Version 1.1/gut.dat']);
    assert.ok(Buffer.from(zip['Version 1.1/gut.dat']).equals(expected.after['gut.dat']));
    assert.ok(Buffer.from(zip['Version 1.1/belegt.dat']).equals(desktop({ 'belegt.dat': folder['belegt.dat'] }, 'belegt').after['belegt.dat']));
    sameTree(readTree(chosen), folder, 'the chosen files');
    // Dropped: one file, saved under a name of its own.
    step('a dropped file');
    const box = await (await plain.$('#drop')).boundingBox();
    const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    const data = { items: [], files: [path.join(chosen, 'Bahnhof', 'Ost.dat')], dragOperationsMask: 1 };
    for (const type of ['dragEnter', 'dragOver', 'drop']) {
      await cdp.send('Input.dispatchDragEvent', { type, ...at, data });
    }
    await until(plain, 'the dropped file offered for saving', () => document.getElementById('download').textContent.includes('Ost'));
    assert.ok((await saveAs('Ost (Version 1.1).dat')).equals(expected.after['Bahnhof/Ost.dat']));
    await plain.setViewport({ width: 390, height: 844 });
    await shot(plain, 'speichern-phone');

    assert.deepEqual(requests, [], 'requests after the page loaded');
    console.log(`the table, in place, undo, a cut run, Abbrechen and saving: as the desktop tool; ${requests.length} requests after loading`);
  } finally {
    for (const b of browsers) await b.close().catch(() => {});
    server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
