// Packs the built page (dist/) into the page archive the launcher serves at
// "http://ui/". Output: $UI_ZIP_OUT, else out/ui.zip beside package.json.
// A relative UI_ZIP_OUT is taken from where npm was started.
import { mkdirSync, readdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { dirname, join, relative, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';
import { createZip } from './zip.mjs';

const SCRIPT_BUDGET = 150 * 1024;
const uiDir = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const distDir = join(uiDir, 'dist');
const out = process.env.UI_ZIP_OUT
  ? resolve(process.env.INIT_CWD ?? process.cwd(), process.env.UI_ZIP_OUT)
  : join(uiDir, 'out', 'ui.zip');

function walk(dir) {
  return readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const path = join(dir, entry.name);
    return entry.isDirectory() ? walk(path) : [path];
  });
}

function fail(message) {
  console.error(`pack: ${message}`);
  process.exit(1);
}

let files;
try {
  files = walk(distDir).map((path) => ({
    name: relative(distDir, path).split(sep).join('/'),
    data: readFileSync(path),
  }));
} catch {
  fail(`no build in ${distDir}; run "npm run build" first`);
}

// The launcher starts from "index.html" and the page must stay one script.
if (!files.some((f) => f.name === 'index.html')) fail('dist has no index.html at its root');
const scripts = files.filter((f) => /\.m?js$/.test(f.name));
if (scripts.length !== 1 || !scripts[0].name.startsWith('assets/')) {
  fail(`expected one script bundle under assets/, found: ${scripts.map((f) => f.name).join(', ') || 'none'}`);
}
const scriptBytes = scripts[0].data.length;
if (scriptBytes > SCRIPT_BUDGET) fail(`script bundle is ${scriptBytes} bytes, over the ${SCRIPT_BUDGET}-byte budget`);

const zip = createZip(files);
mkdirSync(dirname(out), { recursive: true });
writeFileSync(out, zip);
const total = files.reduce((n, f) => n + f.data.length, 0);
console.log(
  `pack: ${out} — ${files.length} files, ${total} bytes built, ${statSync(out).size} bytes zipped; ` +
    `script ${scripts[0].name} ${scriptBytes} bytes (budget ${SCRIPT_BUDGET})`,
);
