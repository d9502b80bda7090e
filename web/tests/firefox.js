// The page in Debian's Firefox ESR, headless, driven by puppeteer-core over
// WebDriver BiDi: a browser that may not write to the user's folders. The
// files chosen are converted and offered for saving, never under their
// originals' names: one as "NAME (Version 1.1).dat", several in a ZIP under
// a folder of their own; the chosen files stay as they are.
//   node firefox.js SITE CLI GEN
'use strict';
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { unzipSync } = require('fflate');
const chooseFiles = require('./choose');

const [site, cli, gen] = process.argv.slice(2, 5).map((a) => path.resolve(a));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-firefox-'));
const downloads = path.join(work, 'downloads');
fs.mkdirSync(downloads);

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.webmanifest': 'application/manifest+json' };
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/$/, '/index.html');
  const file = path.join(site, path.normalize(name));
  if (!file.startsWith(site) || !fs.existsSync(file)) return response.writeHead(404).end();
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  return response.end(fs.readFileSync(file));
});

// What the command line makes of a file.
function converted(bytes, name) {
  const dir = fs.mkdtempSync(path.join(work, 'cli-'));
  fs.writeFileSync(path.join(dir, name), bytes);
  execFileSync(cli, [name], { cwd: dir, stdio: 'ignore' });
  return fs.readFileSync(path.join(dir, name));
}

// Until the browser has written a download whole: the file is there, and
// no partial file beside it.
async function downloaded(name) {
  const file = path.join(downloads, name);
  for (;;) {
    let watcher;
    const changed = new Promise((ok) => { watcher = fs.watch(downloads, ok); });
    const names = fs.readdirSync(downloads);
    if (names.includes(name) && !names.some((n) => n.endsWith('.part'))) {
      watcher.close();
      const bytes = fs.readFileSync(file);
      fs.rmSync(file);
      return bytes;
    }
    await changed;
    watcher.close();
  }
}

async function main() {
  const firefox = process.env.KVO_FIREFOX || '/usr/bin/firefox-esr';
  if (!fs.existsSync(firefox)) {
    console.log(`skipped: no ${firefox} (tools/install-deps --web installs it)`);
    if (process.env.CI === 'true') throw new Error('CI must run this test');
    process.exitCode = 77;
    return;
  }
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: firefox,
    headless: true,
    userDataDir: path.join(work, 'profile'),
    extraPrefsFirefox: {
      'browser.download.dir': downloads,
      'browser.download.folderList': 2,
      'browser.download.useDownloadDir': true,
      'browser.download.always_ask_before_handling_new_types': false,
      'browser.helperApps.neverAsk.saveToDisk': 'application/octet-stream,application/zip',
    },
  });
  try {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'load' });
    assert.match(await page.$eval('#for-saving:not([hidden])', (e) => e.textContent), /darf nicht in Ihre Ordner schreiben/);
    const gen1 = path.join(work, 'a.dat'), gen2 = path.join(work, 'b.dat');
    execFileSync(gen, ['--seed', '1', '--mb', '0.2', gen1]);
    execFileSync(gen, ['--seed', '2', '--mb', '0.2', gen2]);
    const originals = { 'Nord.dat': fs.readFileSync(gen1), 'Süd.dat': fs.readFileSync(gen2) };
    const choose = (files) => chooseFiles(page, files);
    const offered = () => page.waitForFunction(() => !document.getElementById('save').hidden);

    // One file: a name of its own.
    await choose({ 'Nord.dat': originals['Nord.dat'] });
    await offered();
    assert.equal(await page.$eval('#download', (e) => e.textContent), '„Nord (Version 1.1).dat“ speichern');
    await page.click('#download');
    assert.ok((await downloaded('Nord (Version 1.1).dat')).equals(converted(originals['Nord.dat'], 'Nord.dat')));

    // Two: a ZIP, its files in a folder of their own.
    await choose(originals);
    await offered();
    await page.click('#download');
    const zip = unzipSync(await downloaded('kvo-umsetzer-version-1.1.zip'));
    assert.deepEqual(Object.keys(zip).sort(), ['Version 1.1/Nord.dat', 'Version 1.1/Süd.dat']);
    for (const name of Object.keys(originals)) {
      assert.ok(Buffer.from(zip[`Version 1.1/${name}`]).equals(converted(originals[name], name)), name);
    }
    console.log('Firefox ESR: one file and a ZIP saved, under names that overwrite nothing');
  } finally {
    await browser.close();
  }
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
}).finally(() => {
  server.close();
  fs.rmSync(work, { recursive: true, force: true });
});
