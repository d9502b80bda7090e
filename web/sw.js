// Keeps the page's own files, so that it opens without a network after the
// first visit. The network first, so that a new version comes at once.
'use strict';
const CACHE = 'kvo-umsetzer';
const FILES = ['./', 'index.html', 'core.js', 'files.js', 'steps.js', 'app.js', 'style.css', 'kvo-core.js', 'fflate.js',
               'manifest.webmanifest'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(
    fetch(request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          caches.open(CACHE).then((cache) => cache.put(request, copy));
        }
        return response;
      })
      .catch(() => caches.match(request, { ignoreSearch: true })));
});
