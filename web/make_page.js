// Writes the self-contained page: node make_page.js SOURCE_DIR MODULE_JS OUTPUT_HTML.
// The fixed texts and notices come from the built module itself, so the page holds no copy of its
// own; the stylesheet, the scripts and the worker (the module followed by worker.js) are inlined,
// and the Content-Security-Policy allows exactly these inline parts by their hashes.
// Beside the page go the files that make it installable over http(s): the web app manifest, its
// icons and the service worker (sw.js), which keeps them, the page and the licence for offline
// use under a cache named after their content. The page works without them.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const [sourceDir, modulePath, outputPath] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(sourceDir, name), 'utf8');
const hash = (text) => "'sha256-" + crypto.createHash('sha256').update(text, 'utf8').digest('base64') + "'";
const escapeHtml = (text) =>
  text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');

// Inlined text must not end its element early.
function checkInline(name, text) {
  if (/<\/(script|style)|<!--/i.test(text)) throw new Error(name + ' cannot be inlined: it holds </script, </style or <!--');
  return text;
}

async function main() {
  const module = await require(path.resolve(modulePath))();
  const text = (name) => {
    const found = module.text(name);
    if (found === null) throw new Error('the module has no text ' + name);
    return found;
  };
  // The notices the page shows of its own, by code; the converted one gives the page's caption.
  const notices = {};
  for (const code of ['converted', 'outOfMemory', 'dropOneFile']) notices[code] = module.notice(code, '');

  const style = checkInline('page.css', read('page.css'));
  const script = checkInline('page.js', 'const NOTICES = ' + JSON.stringify(notices) + ';\n' + read('page.js'));
  const worker = checkInline('the worker', fs.readFileSync(modulePath, 'utf8') + '\n' + read('worker.js'));
  const install = checkInline('install.js', read('install.js'));
  const csp = [
    "default-src 'none'",
    "script-src " + hash(script) + " " + hash(install) + " 'wasm-unsafe-eval'",
    // The conversion worker, from the inlined source; the service worker, beside the page.
    "worker-src blob: 'self'",
    "style-src " + hash(style),
    // The page's own icon; the manifest's icons, beside it.
    "img-src data: 'self'",
    "manifest-src 'self'",
    "connect-src 'none'",
    "base-uri 'none'",
    "form-action 'none'",
  ].join('; ');
  const fields = {
    CSP: csp,
    TITLE: escapeHtml(text('dialogTitle')),
    PURPOSE: escapeHtml(text('dialogPurpose')),
    BEFORE: escapeHtml(text('dialogBefore')),
    STYLE: style,
    SCRIPT: script,
    INSTALL: install,
    WORKER: worker,
  };
  const page = read('page.html').replace(/@([A-Z]+)@/g, (whole, name) => {
    if (!(name in fields)) throw new Error('page.html names an unknown field ' + whole);
    return fields[name];
  });
  fs.writeFileSync(outputPath, page);
  writeInstallable(path.dirname(outputPath), page);
}

// The manifest, its icons, the licence and the service worker, beside the page.
function writeInstallable(siteDir, page) {
  const manifest = JSON.stringify({
    name: 'Ledger Convert',
    short_name: 'LedgerConvert',
    lang: 'en',
    start_url: 'index.html',
    scope: './',
    display: 'standalone',
    background_color: '#f4f5f7',
    theme_color: '#1559b3',
    icons: [192, 512].map((size) => ({
      src: 'icon-' + size + '.png', sizes: size + 'x' + size, type: 'image/png',
    })),
  }, null, 2) + '\n';
  const site = {
    'index.html': Buffer.from(page, 'utf8'),
    'manifest.webmanifest': Buffer.from(manifest, 'utf8'),
    'icon-192.png': fs.readFileSync(path.join(sourceDir, 'icon-192.png')),
    'icon-512.png': fs.readFileSync(path.join(sourceDir, 'icon-512.png')),
    'LICENSE.txt': fs.readFileSync(path.join(sourceDir, '..', 'LICENSE')),
  };
  // A new build of any of them is a new cache, which replaces the old one.
  const version = crypto.createHash('sha256');
  for (const [name, bytes] of Object.entries(site)) {
    version.update(name + '\0' + bytes.length + '\0').update(bytes);
  }
  for (const [name, bytes] of Object.entries(site)) {
    if (name !== 'index.html') fs.writeFileSync(path.join(siteDir, name), bytes);
  }
  const fields = {VERSION: version.digest('hex').slice(0, 16), FILES: Object.keys(site)};
  fs.writeFileSync(path.join(siteDir, 'sw.js'), read('service_worker.js').replace(
    /@([A-Z]+)@/g, (whole, name) => {
      if (!(name in fields)) throw new Error('service_worker.js names an unknown field ' + whole);
      return JSON.stringify(fields[name]);
    }));
}

main().catch((error) => {
  console.error('make_page: ' + error.message);
  process.exit(1);
});
