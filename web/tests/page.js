// The page in a real browser (Debian's Chromium, driven by puppeteer-core),
// served from 127.0.0.1, as a user has it:
// - in place, on the browser's origin-private file system, whose folder
//   handles are those of a picked folder: a folder ends exactly as the
//   command line leaves the same folder, with the same lines, and
//   "Rückgängig machen" brings it back;
// - where the browser may not write (the pickers taken away, as in Firefox),
//   chosen and dropped files are offered for saving, with the same bytes;
// - the page closed in the middle of a run leaves each file untouched or
//   converted with its backup, and the next run finishes the job;
// - after the page has loaded, no request leaves it.
//   node page.js SITE CLI GEN [PICTURES_DIR]
'use strict';
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { unzipSync } = require('fflate');

const [site, cli, gen] = process.argv.slice(2, 5).map((a) => path.resolve(a));
const pictures = process.argv[5] && path.resolve(process.argv[5]);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-page-'));
const step = (what) => console.log(`- ${what}`);

// Until the condition holds in the page: checked at each change of the page,
// in its own world (puppeteer's waits did not always come back here).
const until = (page, condition) => page.evaluate(`new Promise((ok) => {
  const holds = ${condition};
  const observer = new MutationObserver(() => holds() && (observer.disconnect(), ok()));
  observer.observe(document, { subtree: true, childList: true, attributes: true, characterData: true });
  if (holds()) (observer.disconnect(), ok());
})`);

// ---- the files ---------------------------------------------------------

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

function generated(seed, mb) {
  const file = path.join(work, `gen-${seed}-${mb}.dat`);
  execFileSync(gen, ['--seed', String(seed), '--mb', String(mb), file]);
  return fs.readFileSync(file);
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

const good = generated(1, 0.2);
const converted = desktop({ 'neu.dat': good }, 'v11').after['neu.dat'];
const folder = {
  'gut.dat': generated(2, 0.2),
  'neu.dat': converted,
  'kurz.dat': good.subarray(0, 5000),
  'belegt.dat': generated(3, 0.1),
  'belegt.old': Buffer.from('x'),
  'Notiz.dat': Buffer.from('Nicht vergessen: Weichen ölen.\n'),
  'Bahnhof/Ost.dat': generated(4, 0.1),
};

// ---- the server and the browser -------------------------------------------

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/$/, '/index.html');
  const file = path.join(site, path.normalize(name));
  if (!file.startsWith(site) || !fs.existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  response.end(fs.readFileSync(file));
});

async function main() {
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const url = `http://127.0.0.1:${server.address().port}/`;
  const browser = await puppeteer.launch({
    executablePath: process.env.KVO_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: path.join(work, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const requests = [];  // every request a page makes after it loaded
  const open = async (setup) => {
    const page = await browser.newPage();
    page.on('pageerror', (e) => console.log(`  the page: ${e.message}`));
    page.on('console', (m) => console.log(`  the page says: ${m.text()}`));
    await page.setViewport({ width: 1280, height: 720 });
    if (setup) await setup(page);
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(() => navigator.serviceWorker.ready);
    page.on('request', (r) => requests.push(r.url()));
    return page;
  };
  const shot = async (page, name) => {
    if (!pictures) return;
    fs.mkdirSync(pictures, { recursive: true });
    await page.screenshot({ path: path.join(pictures, `${name}.png`), fullPage: true });
  };

  try {
    step('the page loads');
    const page = await open();
    await shot(page, 'start');
    await page.setViewport({ width: 390, height: 844 });
    await shot(page, 'start-phone');
    await page.setViewport({ width: 1280, height: 720 });

    step('in place on the origin-private file system');
    // ---- in place -----------------------------------------------------------
    const put = (tree, name) => page.evaluate(async (tree, name) => {
      const root = await navigator.storage.getDirectory();
      await root.removeEntry(name, { recursive: true }).catch(() => {});
      const dir = await root.getDirectoryHandle(name, { create: true });
      for (const [file, base64] of Object.entries(tree)) {
        const parts = file.split('/');
        let where = dir;
        for (const part of parts.slice(0, -1)) where = await where.getDirectoryHandle(part, { create: true });
        const stream = await (await where.getFileHandle(parts.at(-1), { create: true })).createWritable();
        await stream.write(Uint8Array.from(atob(base64), (c) => c.charCodeAt(0)));
        await stream.close();
      }
    }, Object.fromEntries(Object.entries(tree).map(([k, v]) => [k, v.toString('base64')])), name);
    const take = async (p, name) => Object.fromEntries(Object.entries(await p.evaluate(async (name) => {
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
    }, name)).map(([k, v]) => [k, Buffer.from(v, 'base64')]));
    const sameTree = (a, b, what) => {
      assert.deepEqual(Object.keys(a).sort(), Object.keys(b).sort(), what);
      for (const k of Object.keys(a)) assert.ok(a[k].equals(b[k]), `${what}: ${k}`);
    };

    await put(folder, 'Ordner');
    const said = await page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Ordner');
      return window.kvoConvertFolder(dir);
    });
    const expected = desktop(folder, 'in-place');
    assert.deepEqual(said.lines.slice().sort().concat([said.summary]), expected.lines);
    sameTree(await take(page, 'Ordner'), expected.after, 'in place');
    await shot(page, 'umgesetzt');
    await page.setViewport({ width: 390, height: 844 });
    await shot(page, 'umgesetzt-phone');
    await page.setViewport({ width: 1280, height: 720 });

    step('undo');
    await page.click('#undo');
    await until(page, () => document.getElementById('summary').textContent.includes('rückgängig'));
    assert.equal(await page.$eval('#summary', (e) => e.textContent),
      'Zusammenfassung: 2 rückgängig gemacht, 0 nicht rückgängig gemacht');
    sameTree(await take(page, 'Ordner'), folder, 'after undo');

    step('closed in the middle of a run');
    // ---- closed in the middle of a run ---------------------------------------
    const many = {};
    for (let i = 0; i < 24; ++i) many[`f${String(i).padStart(2, '0')}.dat`] = generated(10 + i, 1);
    const manyConverted = desktop(many, 'many').after;
    await put(many, 'Viele');
    await page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
      window.kvoConvertFolder(dir);
    });
    await until(page, () => document.querySelectorAll('#lines li').length >= 3);
    await shot(page, 'fortschritt');
    await page.close();
    const again = await open();
    const cut = await take(again, 'Viele');
    let done = 0;
    for (const [name, original] of Object.entries(many)) {
      const now = cut[name], backup = cut[name.replace('.dat', '.old')];
      if (now.equals(original)) {
        // Untouched; a backup the cut run began is empty or the very bytes.
        assert.ok(!backup || backup.length === 0 || backup.equals(original), `${name}: a stray backup`);
      } else {
        assert.ok(now.equals(manyConverted[name]) && backup && backup.equals(original), `${name}: neither`);
        ++done;
      }
    }
    assert.ok(done >= 3, `${done} converted before the page closed`);
    const finished = await again.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Viele');
      return window.kvoConvertFolder(dir);
    });
    assert.equal(finished.summary, `Zusammenfassung: ${24 - done} umgesetzt, ${done} schon auf Version 1.1, 0 nicht umgesetzt`);
    sameTree(await take(again, 'Viele'), manyConverted, 'finished');
    await again.close();

    step('saving where the browser may not write');
    // ---- where the browser may not write --------------------------------------
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
      assert.equal(await came, 'completed');
      const bytes = fs.readFileSync(file);
      fs.rmSync(file);
      return bytes;
    };
    step('chosen');
    // As the file dialog gives them to the page.
    await plain.evaluate((files) => {
      const given = new DataTransfer();
      for (const [name, base64] of Object.entries(files)) {
        given.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
      }
      const input = document.getElementById('pick-files');
      input.files = given.files;
      input.dispatchEvent(new Event('change'));
    }, Object.fromEntries(['gut.dat', 'belegt.dat', 'kurz.dat', 'Notiz.dat'].map((n) => [n, folder[n].toString('base64')])));
    await until(plain, () => !document.getElementById('save').hidden);
    await shot(plain, 'speichern');
    const zip = unzipSync(await saveAs('kvo-umsetzer-umgesetzt.zip'));
    assert.deepEqual(Object.keys(zip).sort(), ['belegt.dat', 'gut.dat']);
    assert.ok(Buffer.from(zip['gut.dat']).equals(expected.after['gut.dat']));
    assert.ok(Buffer.from(zip['belegt.dat']).equals(desktop({ 'belegt.dat': folder['belegt.dat'] }, 'belegt').after['belegt.dat']));
    sameTree(readTree(chosen), folder, 'the chosen files');
    // Dropped: one file, saved as itself.
    step('a dropped file');
    const box = await (await plain.$('#drop')).boundingBox();
    const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    const data = { items: [], files: [path.join(chosen, 'Bahnhof', 'Ost.dat')], dragOperationsMask: 1 };
    for (const type of ['dragEnter', 'dragOver', 'drop']) {
      await cdp.send('Input.dispatchDragEvent', { type, ...at, data });
    }
    await until(plain, () => document.getElementById('download').textContent.includes('Ost.dat'));
    assert.ok((await saveAs('Ost.dat')).equals(expected.after['Bahnhof/Ost.dat']));
    await plain.setViewport({ width: 390, height: 844 });
    await shot(plain, 'speichern-phone');

    assert.deepEqual(requests, [], 'requests after the page loaded');
    console.log(`in place, undo, a cut run and saving: as the desktop tool; ${requests.length} requests after loading`);
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
