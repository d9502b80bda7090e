// The browser version against the desktop tool: 1,000 files of about 250 KB
// converted in place on Chromium's origin-private file system, and the same
// files by the command line on the disk. Prints both times and their ratio,
// and the page against the least any page can do in place with the same
// calls (read each file, write a copy and move it to NAME.old, write the
// same bytes back through the file's writable stream, 64 under way). SITE is
// the test build of the page (site-test), whose hooks start a run.
//   node bench/web-bench.js SITE CLI GEN [FILES] [ROUNDS]
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require(path.join(__dirname, '..', 'web', 'node_modules', 'puppeteer-core'));

const [site, cli, gen] = process.argv.slice(2, 5).map((a) => path.resolve(a));
const count = Number(process.argv[5] || 1000);
const rounds = Number(process.argv[6] || 5);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-web-bench-'));

const files = path.join(work, 'Ordner');
fs.mkdirSync(files);
for (let i = 0; i < count; ++i) {
  execFileSync(gen, ['--seed', String(i + 1), '--mb', '0.25', path.join(files, `f${i}.dat`)]);
}
const names = fs.readdirSync(files);

// The page's own folder, and the files under /files/ for a helper page that
// puts them into the browser's file system.
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  if (url === '/helper.html') return response.end('<!DOCTYPE html><title>helper</title>');
  const file = url.startsWith('/files/') ? path.join(files, path.basename(url))
    : path.join(site, url === '/' ? 'index.html' : path.basename(url));
  if (!fs.existsSync(file)) return response.writeHead(404).end();
  response.writeHead(200, { 'Content-Type': file.endsWith('.html') ? 'text/html; charset=utf-8'
    : file.endsWith('.js') ? 'text/javascript' : 'application/octet-stream' });
  response.end(fs.readFileSync(file));
});

(async () => {
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const base = `http://127.0.0.1:${server.address().port}`;
  const browser = await puppeteer.launch({
    executablePath: process.env.KVO_CHROMIUM || '/usr/bin/chromium', headless: true,
    userDataDir: path.join(work, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run'],
  });
  try {
    const helper = await browser.newPage();
    await helper.goto(`${base}/helper.html`);
    const fill = () => helper.evaluate(async (names) => {
      const root = await navigator.storage.getDirectory();
      await root.removeEntry('Ordner', { recursive: true }).catch(() => {});
      const dir = await root.getDirectoryHandle('Ordner', { create: true });
      for (const name of names) {
        const bytes = await (await fetch(`/files/${name}`)).arrayBuffer();
        const stream = await (await dir.getFileHandle(name, { create: true })).createWritable();
        await stream.write(bytes);
        await stream.close();
      }
    }, names);
    const floor = () => helper.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Ordner');
      // The folder listed too, as any page must to find its files.
      const start = performance.now();
      const handles = [];
      for await (const entry of dir.values()) handles.push(entry);
      let next = 0;
      await Promise.all(Array.from({ length: 64 }, async () => {
        while (next < handles.length) {
          const handle = handles[next++];
          const bytes = await (await handle.getFile()).arrayBuffer();
          const copy = await dir.getFileHandle(`${handle.name}.tmp`, { create: true });
          const out = await copy.createWritable({ keepExistingData: false });
          await out.write(bytes);
          await out.close();
          await copy.move(handle.name.replace(/\.dat$/, '.old'));
          const back = await handle.createWritable({ keepExistingData: false });
          await back.write(bytes);
          await back.close();
        }
      }));
      return performance.now() - start;
    });
    const page = await browser.newPage();
    await page.goto(`${base}/`, { waitUntil: 'load' });
    const convert = () => page.evaluate(async () => {
      const dir = await (await navigator.storage.getDirectory()).getDirectoryHandle('Ordner');
      const start = performance.now();
      await window.kvoConvertFolder(dir);
      return performance.now() - start;
    });
    // In turns, each on the same files afresh: the browser's speed wanders
    // from one run to the next, so each pair is timed close together and
    // the middle pair's ratio counts.
    const ratios = [];
    let browserMs = 0;
    for (let round = 0; round < rounds; ++round) {
      await fill();
      const floorMs = await floor();
      await fill();
      browserMs = await convert();
      ratios.push(browserMs / floorMs);
      console.log(`the least a page can do in place: ${floorMs.toFixed(0)} ms, the page: ${browserMs.toFixed(0)} ms, ${(browserMs / floorMs).toFixed(2)}`);
    }
    ratios.sort((a, b) => a - b);
    const start = process.hrtime.bigint();
    execFileSync(cli, [files], { stdio: 'ignore' });
    const nativeMs = Number(process.hrtime.bigint() - start) / 1e6;
    console.log(`${count} files of 250 KB: browser ${browserMs.toFixed(0)} ms, command line ${nativeMs.toFixed(0)} ms, ratio ${(browserMs / nativeMs).toFixed(2)}`);
    console.log(`the page to the least a page can do in place, the middle of ${rounds}: ${ratios[rounds >> 1].toFixed(2)}`);
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
})();
