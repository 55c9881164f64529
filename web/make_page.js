// Writes the self-contained page: node make_page.js SOURCE_DIR MODULE_JS OUTPUT_HTML.
// The fixed texts and notices come from the built module itself, so the page holds no copy of its
// own; the stylesheet, the script and the worker (the module followed by worker.js) are inlined,
// and the Content-Security-Policy allows exactly these inline parts by their hashes.
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
  const csp = [
    "default-src 'none'",
    "script-src " + hash(script) + " 'wasm-unsafe-eval'",
    "worker-src blob:",
    "style-src " + hash(style),
    "img-src data:",
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
    WORKER: worker,
  };
  const page = read('page.html').replace(/@([A-Z]+)@/g, (whole, name) => {
    if (!(name in fields)) throw new Error('page.html names an unknown field ' + whole);
    return fields[name];
  });
  fs.writeFileSync(outputPath, page);
}

main().catch((error) => {
  console.error('make_page: ' + error.message);
  process.exit(1);
});
