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

// Where the browser offers to install the page (it fires beforeinstallprompt, over http(s) with
// the manifest), the page shows its Install button, which opens the browser's own prompt. The
// button goes once the user has chosen, or once the page is installed by any way.
{
  let offer = null;
  const button = () => document.getElementById('install');
  // The offer may come before the button is parsed: the button is shown when it is.
  const show = () => {
    if (button()) button().hidden = !offer;
  };
  window.addEventListener('beforeinstallprompt', (event) => {
    event.preventDefault();  // kept for the button, in place of the browser's own banner
    offer = event;
    show();
  });
  window.addEventListener('appinstalled', () => {
    offer = null;
    show();
  });
  document.addEventListener('DOMContentLoaded', () => {
    show();
    button().addEventListener('click', async () => {
      const asked = offer;
      if (!asked) return;
      offer = null;  // an offer prompts once
      try {
        await asked.prompt();
        await asked.userChoice;
      } catch (error) {
        console.warn('The browser did not offer to install this page: ' + error.message);
      }
      // The keyboard goes on to the page's main button, not to the page's body.
      const focused = document.activeElement === button();
      show();
      if (focused) document.getElementById('choose').focus();
    });
  });
}
