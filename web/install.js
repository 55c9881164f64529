// Served over http(s), the page can be installed and kept for offline use: it names the web app
// manifest and registers the service worker that lie beside it. Opened from a file, it stands
// alone, as ever, and registers nothing.
'use strict';
if ((location.protocol === 'https:' || location.protocol === 'http:') &&
    'serviceWorker' in navigator) {
  const manifest = document.createElement('link');
  manifest.rel = 'manifest';
  manifest.href = 'manifest.webmanifest';
  document.head.append(manifest);
  // Without it the page still converts; it is only not kept for a visit without a network.
  navigator.serviceWorker.register('sw.js').catch((error) => {
    console.warn('This page will not be kept for offline use: ' + error.message);
  });
}
