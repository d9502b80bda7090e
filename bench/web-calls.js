// What each file call of the browser version costs, on Chromium's
// origin-private file system: 500 files, 64 calls under way at once, the
// time per call. The page's in-place conversion makes these calls per file:
// getFile twice, arrayBuffer, getFileHandle (create, and one that finds
// nothing), createWritable twice, write twice, close twice, move. Their sum
// is the least a file can take while the backup is a copy, complete and
// closed, before the new file takes the name.
//   node bench/web-calls.js
'use strict';
const http = require('node:http');
const path = require('node:path');
const puppeteer = require(path.join(__dirname, '..', 'web', 'node_modules', 'puppeteer-core'));

(async () => {
  const server = http.createServer((request, response) => response.end('<!DOCTYPE html><title>calls</title>'));
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const browser = await puppeteer.launch({
    executablePath: process.env.KVO_CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run'],
  });
  try {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    const costs = await page.evaluate(async () => {
      const root = await navigator.storage.getDirectory();
      const dir = await root.getDirectoryHandle('calls', { create: true });
      const count = 500, bytes = new Uint8Array(250000);
      const ms = {};
      const each = async (name, call) => {
        const start = performance.now();
        let next = 0;
        await Promise.all(Array.from({ length: 64 }, async () => {
          while (next < count) await call(next++);
        }));
        ms[name] = (performance.now() - start) / count;
      };
      const handles = [], streams = [], files = [];
      await each('getFileHandle (create)', async (i) => { handles[i] = await dir.getFileHandle(`f${i}`, { create: true }); });
      await each('createWritable', async (i) => { streams[i] = await handles[i].createWritable({ keepExistingData: false }); });
      await each('write (250 KB)', async (i) => { await streams[i].write(bytes); });
      await each('close', async (i) => { await streams[i].close(); });
      await each('getFile', async (i) => { files[i] = await handles[i].getFile(); });
      await each('arrayBuffer (250 KB)', async (i) => { await files[i].arrayBuffer(); });
      await each('getFileHandle (none there)', async (i) => { await dir.getFileHandle(`x${i}`).catch(() => null); });
      await each('move', async (i) => { await handles[i].move(`g${i}`); });
      return ms;
    });
    const perFile = { 'getFile': 2, 'arrayBuffer (250 KB)': 1, 'getFileHandle (create)': 1, 'getFileHandle (none there)': 1,
      'createWritable': 2, 'write (250 KB)': 2, 'close': 2, 'move': 1 };
    let sum = 0;
    for (const [name, each] of Object.entries(costs)) {
      sum += each * perFile[name];
      console.log(`${name.padEnd(28)} ${each.toFixed(2)} ms  x${perFile[name]}`);
    }
    console.log(`per file, in place: ${sum.toFixed(2)} ms; 1,000 files: ${(sum).toFixed(1)} s at the least`);
  } finally {
    await browser.close();
    server.close();
  }
})();
