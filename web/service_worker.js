// Keeps the site for offline use. It installs the site's files into a cache named after their
// content, serves them from there, and, once a new build's worker takes over, drops the caches
// of earlier builds.
'use strict';
// Filled in when the site is built: the site's files, and a digest of their bytes.
const FILES = @FILES@;
const VERSION = @VERSION@;
// Per place, so that two copies of the site on one origin keep their caches apart.
const PREFIX = 'ledger-convert ' + self.registration.scope + ' ';
const CACHE = PREFIX + VERSION;

self.addEventListener('install', (event) => {
  // Asked of the server, past any copy in the browser's HTTP cache that an earlier build left.
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((name) => new Request(name, {cache: 'reload'}))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names
      .filter((name) => name.startsWith(PREFIX) && name !== CACHE)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  const url = new URL(request.url);
  url.search = url.hash = '';
  if (url.origin !== location.origin) return;
  // The site's folder itself is its page.
  const key = url.href === self.registration.scope ? 'index.html' : request;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(key, {ignoreSearch: true}))
    .then((cached) => cached || fetch(request)));
});
