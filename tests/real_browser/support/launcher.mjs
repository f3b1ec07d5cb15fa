// The real launcher under Wine, its folder, the content server's game and
// the traces the launcher leaves (log, registry, the runtime's report, the
// SA-MP stand-in's record).
import { spawn, spawnSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readFileSync, readdirSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { createHash, randomBytes } from 'node:crypto';
import { join, resolve } from 'node:path';

export const repo = resolve(import.meta.dirname, '../../..');
const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the suite through tests/real_browser/run.sh`);
  return value;
};
export const build = () => env('KORVAL_BUILD_DIR');
// The launcher under test: the build's, or another build's (KORVAL_LAUNCHER_BIN).
const launcherBin = () => process.env.KORVAL_LAUNCHER_BIN || join(build(), 'bin');
export const serverRoot = () => env('KORVAL_TEST_SERVER_ROOT');
export const serverControl = () => env('KORVAL_TEST_SERVER_CONTROL');
const loader = () => env('KORVAL_WINE_LOADER');
const prefix = () => env('WINEPREFIX');

/** The Linux path of a path on the prefix's drive C:. */
export const driveC = (windows) => join(prefix(), 'drive_c', ...windows.replace(/^C:\\/i, '').split('\\'));

export const GAME_SERVER = { main: '203.0.113.10:7777', test: '203.0.113.10:7778' };

function wine(args, options = {}) {
  return spawnSync(loader(), args, { encoding: 'latin1', env: { ...process.env, LC_ALL: 'ru_RU.UTF-8' }, ...options });
}

/** A value under HKCU, or null when it is not there. */
export function registryValue(key, name) {
  const out = wine(['reg', 'query', `HKCU\\${key}`, '/v', name]).stdout ?? '';
  const line = out.split(/\r?\n/).find((l) => l.trim().startsWith(name));
  const match = line && /REG_\w+\s+(.*)$/.exec(line.trim());
  return match ? match[1].trim() : null;
}

/** Ends the Notepad windows the launcher opened for the player. */
export function closeNotepad() {
  wine(['taskkill', '/f', '/im', 'notepad.exe']);
}

export function deleteRegistryKey(key) {
  wine(['reg', 'delete', `HKCU\\${key}`, '/f']);
}

/**
 * Publishes the current launcher (so the self-update finds itself current)
 * and a game on the content server: the SA-MP stand-in as samp.exe and data
 * files large enough for the download to be seen.
 */
export function publishGame() {
  const root = serverRoot();
  rmSync(join(root, 'pc'), { recursive: true, force: true });
  const files = join(root, 'pc', 'files');
  mkdirSync(join(files, 'models'), { recursive: true });
  mkdirSync(join(files, 'audio'), { recursive: true });
  mkdirSync(join(root, 'pc', 'launcher'), { recursive: true });
  const exe = readFileSync(join(launcherBin(), 'korval_launcher.exe'));
  writeFileSync(
    join(root, 'pc', 'launcher', 'latest.json'),
    JSON.stringify({ version: '0.1.4', url: 'korval_launcher.exe', sha256: createHash('sha256').update(exe).digest('hex'), size: exe.length }),
  );
  copyFileSync(join(build(), 'bin', 'samp_stub', 'samp.exe'), join(files, 'samp.exe'));
  writeFileSync(join(files, 'gta_sa.exe'), '');
  for (let i = 1; i <= 3; i++) writeFileSync(join(files, 'models', `pack${i}.img`), randomBytes(2 * 1048576 + i * 4099));
  writeFileSync(join(files, 'audio', 'radio.dat'), randomBytes(1500000));
  const manifest = spawnSync('python3', [join(repo, 'tools', 'make_manifest.py'), files], { encoding: 'utf8' });
  if (manifest.status !== 0) throw new Error(`make_manifest.py failed: ${manifest.stderr}`);
  writeFileSync(join(root, 'pc', 'manifest.json'), manifest.stdout);
  return JSON.parse(manifest.stdout);
}

/** Faults of the content server (tools/content_server.py), written atomically. */
export function setServerFaults(faults) {
  const path = join(serverControl(), 'faults.json');
  writeFileSync(`${path}.tmp`, JSON.stringify(faults));
  renameSync(`${path}.tmp`, path);
}

/** The requests the content server has logged: decoded path and headers. */
export function serverRequests() {
  const path = join(serverControl(), 'requests.log');
  if (!existsSync(path)) return [];
  return readFileSync(path, 'utf8')
    .split('\n')
    .filter(Boolean)
    .map((line) => JSON.parse(line));
}

export function clearServerRequests() {
  rmSync(join(serverControl(), 'requests.log'), { force: true });
}

/** Every file of the manifest present in the folder with its digest; names of those that are not. */
export function filesNotMatching(manifest, folder) {
  const bad = [];
  for (const entry of manifest.files) {
    const path = join(folder, ...entry.url.split('/'));
    if (!existsSync(path)) bad.push(`${entry.url} missing`);
    else if (createHash('sha256').update(readFileSync(path)).digest('hex') !== entry.hash) bad.push(`${entry.url} differs`);
  }
  return bad;
}

export function partFilesIn(folder) {
  if (!existsSync(folder)) return [];
  const found = [];
  for (const name of readdirSync(folder, { recursive: true })) if (String(name).endsWith('.part')) found.push(String(name));
  return found;
}

/** A launcher folder of its own: the launcher, the real-browser runtime and the sub-process program. */
export function makeLauncherFolder(name) {
  const folder = join(build(), 'real_browser', name);
  rmSync(folder, { recursive: true, force: true });
  mkdirSync(join(folder, 'cef'), { recursive: true });
  const bin = launcherBin();
  copyFileSync(join(bin, 'korval_launcher.exe'), join(folder, 'korval_launcher.exe'));
  copyFileSync(join(bin, 'korval.exe'), join(folder, 'cef', 'korval.exe'));
  copyFileSync(join(build(), 'bin', 'cef_real', 'libcef.dll'), join(folder, 'cef', 'libcef.dll'));
  return {
    folder,
    exe: join(folder, 'korval_launcher.exe'),
    log: () => readIfThere(join(folder, 'korval_launcher.log')),
    report: () => readIfThere(join(folder, 'cef', 'stub_report.txt')),
  };
}

function readIfThere(path) {
  return existsSync(path) ? readFileSync(path, 'latin1') : '';
}

/** Starts the launcher as the player does; `exited` resolves with its exit code. */
export function startLauncher(launcher, args, bridgePort) {
  const child = spawn(loader(), [launcher.exe, ...args], {
    cwd: launcher.folder,
    env: { ...process.env, LC_ALL: 'ru_RU.UTF-8', KORVAL_BRIDGE_PORT: String(bridgePort) },
    stdio: 'ignore',
  });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve(signal ? `signal ${signal}` : code)));
  return { child, exited, kill: () => child.exitCode === null && child.signalCode === null && child.kill('SIGKILL') };
}

/**
 * Answers the launcher's next folder dialog with a folder, typed into its
 * name box as a player does; resolves with true once it was answered.
 */
export function answerFolderDialog(folder) {
  const helper = join(build(), 'bin', 'real_browser', 'pick_folder.exe');
  const child = spawn(loader(), [helper, folder], { env: { ...process.env, LC_ALL: 'ru_RU.UTF-8' }, stdio: 'ignore' });
  return new Promise((resolve) => child.once('exit', (code) => resolve(code === 0)));
}

/** The SA-MP stand-in's record beside samp.exe (ANSI), once it is complete. */
export async function sampRecord(gameFolder, timeoutMs = 10000) {
  const path = join(gameFolder, 'samp_record.txt');
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    if (existsSync(path)) {
      const text = readFileSync(path, 'latin1');
      if (/PlayerName\t/.test(text) && /gta_sa_exe\t/.test(text)) return text;
    }
    if (Date.now() > deadline) return existsSync(path) ? readFileSync(path, 'latin1') : null;
    await new Promise((r) => setTimeout(r, 50));
  }
}

/** The report lines that the real runtime would not forgive. */
export const reportFaults = (report) => report.split(/\r?\n/).filter((l) => l.startsWith('!! '));
