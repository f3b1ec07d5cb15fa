// The real korval_launcher.exe drives the real page: the launcher under Wine
// with the real-browser runtime, the page in Debian's Chromium, the content
// server with a small game, samp.exe's stand-in. The player's whole road,
// with keyboard and mouse in the page; what the page shows and what the
// launcher did are both checked.
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, rmSync, statfsSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, afterEach, before, describe, test } from 'node:test';
import { startBridge } from '../../tools/cef_real/bridge/bridge.mjs';
import {
  answerFolderDialog,
  build,
  closeNotepad,
  clearServerRequests,
  deleteRegistryKey,
  driveC,
  filesNotMatching,
  GAME_SERVER,
  makeLauncherFolder,
  partFilesIn,
  publishGame,
  registryValue,
  reportFaults,
  repo,
  sampRecord,
  serverRequests,
  serverRoot,
  setServerFaults,
  startLauncher,
} from './support/launcher.mjs';

const GIB = 1024 ** 3;
const GAME_DIR = 'C:\\Games\\KORVAL';
const PAGE_PREFIX = 'http://ui/';

let bridge;
let shots;

before(async () => {
  bridge = await startBridge({ port: Number(process.env.KORVAL_BRIDGE_PORT), log: () => {} });
  shots = process.env.UPDATE_SCREENSHOTS === '1' ? join(repo, 'docs', 'screenshots') : join(build(), 'real_browser', 'screenshots');
  mkdirSync(shots, { recursive: true });
});

// A launcher left running by a failed case would hold the single-instance
// mutex against the next one.
let running = null;
afterEach(async () => {
  if (!running) return;
  running.kill();
  await running.exited;
  running = null;
});

after(async () => {
  await bridge?.close();
  if (shots) console.log(`screenshots in ${shots}`);
});

/** A still frame: fonts loaded, animations parked, no caret. */
async function shoot(page, name) {
  await page.evaluate(() => document.fonts.ready);
  await page.screenshot({ path: join(shots, `${name}.png`), animations: 'disabled', caret: 'hide' });
}

const stageOf = (page) => page.locator('[data-testid=panel]').getAttribute('data-stage');
const expectStage = (page, name, timeout = 30000) => page.locator(`[data-testid=panel][data-stage=${name}]`).waitFor({ timeout });
const text = (page, id) => page.getByTestId(id).textContent();

/** The page's own figure for a byte count ("214,6 ГБ"), to hold against the launcher's bytes. */
function gigabytes(bytes) {
  const tenths = Math.floor((bytes / GIB) * 10);
  return `${Math.floor(tenths / 10).toString().replace(/\B(?=(\d{3})+(?!\d))/g, '\u202f')},${tenths % 10} ГБ`;
}

/** True when the lines appear in the text in this order (others may come between). */
function inOrder(text, lines) {
  let at = 0;
  for (const line of lines) {
    const found = text.indexOf(`${line}\n`, at);
    if (found < 0) return false;
    at = found + line.length;
  }
  return true;
}

/** Starts the launcher and waits for its page to show the nick screen. */
async function launch(name, args) {
  const launcher = makeLauncherFolder(name);
  const connected = bridge.nextBrowser();
  const run = startLauncher(launcher, args, bridge.port);
  running = run;
  const remote = await Promise.race([connected, run.exited.then((code) => Promise.reject(new Error(`the launcher ended with ${code} before its browser came`)))]);
  const page = await remote.opened;
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  remote.on('console', (line) => {
    if (line.level >= 3) problems.push(`console: ${line.text}`);
  });
  await expectStage(page, 'nick');
  return { launcher, run, remote, page, problems };
}

/** The manifest the content server serves now. */
const manifestNow = () => JSON.parse(readFileSync(join(serverRoot(), 'pc', 'manifest.json'), 'utf8'));

/** Waits until the launcher's log has a line matching `pattern`. */
async function waitForLog(launcher, pattern, timeout = 10000) {
  const end = Date.now() + timeout;
  while (!pattern.test(launcher.log())) {
    if (Date.now() > end) assert.fail(`no log line ${pattern}:\n${launcher.log()}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

/** Waits for the launcher's end and checks that it left no fault in the runtime's report. */
async function finished(session, timeout = 30000) {
  const timer = setTimeout(() => session.run.kill(), timeout);
  const code = await session.run.exited;
  clearTimeout(timer);
  const report = session.launcher.report();
  assert.deepEqual(reportFaults(report), [], report);
  assert.match(report, /shutdown texts=\d+ userfree=0 references=0/, 'every reference given back');
  return code;
}

function gameFolderClean() {
  deleteRegistryKey('Software\\KORVAL');
  deleteRegistryKey('Software\\SAMP');
  rmSync(driveC(GAME_DIR), { recursive: true, force: true });
}

describe('the runtime under the launcher', () => {
  test('serves the page through the launcher, carries console lines, blocks foreign navigations, and closes when the page goes', async () => {
    gameFolderClean();
    const session = await launch('runtime', ['--no-update']);
    const { page, remote, launcher } = session;

    // Every request of the page was answered by the launcher's page server
    // (resource 101) on a thread of the runtime, none by any network.
    assert.ok(remote.requests.length >= 2, JSON.stringify(remote.requests));
    for (const request of remote.requests) {
      assert.ok(request.url.startsWith(PAGE_PREFIX), request.url);
      assert.equal(request.status, 200, request.url);
    }
    assert.equal(remote.requests[0].url, 'http://ui/index.html');
    assert.equal(remote.requests[0].mime, 'text/html');
    assert.deepEqual(remote.navigations[0], { url: 'http://ui/index.html#/launcher', cancel: false });
    assert.equal(await text(page, 'version'), 'v0.1.4', 'the init event reached the page');

    // A missing file is the launcher's 404, and the page sees it as such.
    const missing = await page.evaluate(async () => {
      const response = await fetch('/assets/no-such-file.js');
      return { status: response.status, type: response.headers.get('content-type'), body: await response.text() };
    });
    assert.deepEqual(missing, { status: 404, type: 'text/plain', body: 'not found' });

    // An ordinary console line reaches the log with its source and line.
    await page.evaluate(() => {
      const script = document.createElement('script');
      script.text = '\n\nconsole.log("hello from line three")\n//# sourceURL=http://ui/probe.js';
      document.head.append(script);
    });
    // A navigation outside the launcher's pages is put to the launcher and cancelled.
    const asked = new Promise((resolve) => remote.on('navigate', (n) => n.url.includes('example.org') && resolve(n)));
    await page.evaluate(() => {
      location.href = 'https://example.org/elsewhere';
    });
    assert.deepEqual(await asked, { url: 'https://example.org/elsewhere', cancel: true });
    assert.equal(page.url(), 'http://ui/index.html#/launcher');
    assert.equal(await stageOf(page), 'nick');

    // A right click: the launcher empties the menu of a player's launcher.
    const menu = new Promise((resolve) => remote.once('menu', resolve));
    await page.mouse.click(400, 300, { button: 'right' });
    assert.equal(await menu, 0);

    // The player closes the page's window: the browser goes away by itself
    // and takes the launcher with it.
    await remote.closeAsUser();
    assert.equal(await finished(session), 0);
    const log = launcher.log();
    assert.match(log, /console: hello from line three \(http:\/\/ui\/probe\.js:3\)/);
    assert.match(log, /navigation blocked: https:\/\/example\.org\/elsewhere/);
    assert.match(log, /ui: 404 http:\/\/ui\/assets\/no-such-file\.js/);
    assert.match(log, /exit\r?\n$/);
    const report = launcher.report();
    assert.ok(inOrder(report, ['page closed by itself', 'browser window destroyed', 'on_before_close 1', 'run_message_loop end']), report);
    assert.doesNotMatch(report, /do_close/, 'a browser gone by itself is not closed again');
    // The one console error is Chromium's line about the 404 asked for above.
    assert.deepEqual(session.problems.filter((p) => !p.includes('status of 404 (Not Found)')), []);
  });
});

describe("the page's rules are the launcher's", () => {
  test('the same nicks pass, and the servers the launcher names are the ones offered', async () => {
    gameFolderClean();
    const own = '198.51.100.23:7790';
    const session = await launch('rules', ['--no-update', `--server=${own}`]);
    const { page, launcher } = session;
    // Both servers the launcher named, with the addresses it named.
    assert.deepEqual(await page.locator('.server__address').allTextContents(), [own, GAME_SERVER.test]);
    assert.deepEqual(await page.locator('input[name=server]').evaluateAll((inputs) => inputs.map((i) => i.value)), ['main', 'test']);

    const nicks = ['Ab', 'Ab_Cd', 'Ivan_Petrov', '12345', 'a'.repeat(20), 'A', 'a'.repeat(21), 'Ab_C', '_Abcd', 'Abcd_', 'Ab_Cd_Ef', 'Ab-Cd', 'Ivan Petrov', 'Иван', 'Ab__Cd'];
    const input = page.locator('#nick-input');
    const pageSays = [];
    for (const nick of nicks) {
      await input.fill(nick);
      pageSays.push((await page.locator('#nick-hint').getAttribute('data-tone')) === 'good');
    }
    // The launcher's verdict on each, asked with the page's own message.
    await page.evaluate((list) => {
      for (const nick of list) console.log(`__launcher__:${JSON.stringify({ type: 'nick', serverId: 'main', nick })}`);
    }, nicks);
    const verdicts = await (async () => {
      for (const deadline = Date.now() + 15000; Date.now() < deadline; await new Promise((r) => setTimeout(r, 100))) {
        const lines = Buffer.from(launcher.log(), 'latin1')
          .toString('utf8')
          .split(/\r?\n/)
          .filter((l) => / nick .*, server |!! page sent invalid nick /.test(l));
        if (lines.length >= nicks.length) return lines.map((l) => !l.includes('!! page sent invalid nick'));
      }
      return null;
    })();
    assert.ok(verdicts, launcher.log());
    assert.deepEqual(
      nicks.map((nick, i) => `${nick}: launcher ${verdicts[i]}`),
      nicks.map((nick, i) => `${nick}: launcher ${pageSays[i]}`),
    );
    assert.ok(launcher.log().includes(`nick Ab, server ${own}`), 'the main server is the one given');
    await page.getByTestId('exit').click();
    assert.equal(await finished(session), 0);
    assert.deepEqual(session.problems, []);
  });

  test('a main server given by host name is not offered, and the one offered is the one played', async () => {
    // The page takes only numeric addresses; "--server=" takes any text.
    gameFolderClean();
    const session = await launch('host-name', ['--no-update', '--server=play.example.org:7777']);
    const { page, launcher } = session;
    assert.deepEqual(await page.locator('.server__address').allTextContents(), [GAME_SERVER.test]);
    assert.equal(await page.locator('input[name=server][value=test]').isChecked(), true);
    await page.locator('#nick-input').fill('Ab_Cd');
    const proposed = session.remote.nextEvent('installDir');
    await page.locator('#nick-input').press('Enter');
    await proposed;
    assert.ok(launcher.log().includes(`nick Ab_Cd, server ${GAME_SERVER.test}`), launcher.log());
    await page.getByTestId('exit').click();
    assert.equal(await finished(session), 0);
    assert.deepEqual(session.problems, []);
  });
});

describe('a first install, as a player does it', () => {
  test('nick, server, folder, download with an error and a resumed retry, launch and the game started', async () => {
    gameFolderClean();
    const manifest = publishGame();
    clearServerRequests();
    // Slow enough to be watched: the list of files for a moment, then each
    // file a few kilobytes at a time.
    const faults = { '/pc/manifest.json': { stall: 1.5, times: 1 } };
    for (const entry of manifest.files) if (entry.size > 1048576) faults[`/pc/files/${entry.url}`] = { trickle: [8192, 25] };
    setServerFaults(faults);

    const session = await launch('first-install', ['--fake-error']);
    const { page, remote, launcher } = session;
    assert.equal(await text(page, 'version'), 'v0.1.4');
    assert.equal(await page.locator('#nick-input').inputValue(), '', 'no saved nick');
    await shoot(page, '01-nick');

    // A nick the page refuses explains its rule and reaches no launcher.
    const nick = page.locator('#nick-input');
    await nick.click();
    await page.keyboard.type('Ivan_P');
    assert.match(await page.locator('#nick-hint').textContent(), /хотя бы по 2 символа/);
    await page.keyboard.press('Enter');
    await shoot(page, '02-nick-invalid');
    assert.equal(await stageOf(page), 'nick');

    // The full nick, and the test server chosen with the arrow keys.
    await page.keyboard.type('etrov');
    assert.equal(await page.locator('#nick-hint').getAttribute('data-tone'), 'good');
    await page.locator('input[name=server][value=main]').focus();
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.locator('input[name=server][value=test]').isChecked(), true);
    const proposed = remote.nextEvent('installDir');
    await nick.press('Enter');
    const folder = await proposed;

    // The launcher's proposal, as the page shows it.
    await expectStage(page, 'install');
    assert.equal(folder.path, GAME_DIR);
    assert.equal(folder.error, '');
    assert.equal(await text(page, 'install-path'), GAME_DIR);
    assert.equal(await text(page, 'free-space'), gigabytes(folder.freeBytes));
    assert.equal(await text(page, 'need-space'), gigabytes(folder.needBytes));
    const disk = statfsSync(driveC('C:\\'));
    assert.ok(Math.abs(folder.freeBytes - disk.bavail * disk.bsize) < GIB, 'the free space is the drive\'s');
    assert.equal(await page.getByTestId('install').isEnabled(), true);
    assert.doesNotMatch(await page.getByTestId('space').getAttribute('class'), /is-low/);
    await shoot(page, '03-install');

    // The folder dialog: a drive without room first, where Wine has one.
    const small = process.env.KORVAL_TEST_SMALL_DRIVE;
    if (small) {
      const refused = remote.nextEvent('installDir', { since: remote.events.length });
      const answered = answerFolderDialog(`${small}\\`);
      await page.getByTestId('pick-dir').click();
      assert.equal(await answered, true, 'the folder dialog opened');
      const check = await refused;
      assert.equal(check.error, 'Недостаточно места на диске.');
      await page.getByTestId('install-error').filter({ hasText: check.error }).waitFor();
      assert.equal(await text(page, 'install-path'), check.path);
      assert.equal(await text(page, 'free-space'), gigabytes(check.freeBytes));
      assert.ok(check.freeBytes <= 20 * 1048576, `the small drive's own space: ${check.freeBytes}`);
      assert.match(await page.getByTestId('space').getAttribute('class'), /is-low/);
      assert.equal(await page.getByTestId('install').isDisabled(), true);
      await shoot(page, '04-install-low-space');
    }
    // Then the proposed folder again, typed in the dialog (which takes only
    // a folder that is there).
    mkdirSync(driveC(GAME_DIR), { recursive: true });
    const accepted = remote.nextEvent('installDir', { since: remote.events.length });
    const answered = answerFolderDialog(GAME_DIR);
    await page.getByTestId('pick-dir').click();
    assert.equal(await answered, true, 'the folder dialog opened');
    assert.deepEqual([(await accepted).path, (await accepted).error], [GAME_DIR, '']);
    await page.getByTestId('install-error').waitFor({ state: 'hidden' });
    assert.equal(await page.getByTestId('install').isEnabled(), true);

    // Install: the list of files first, then the download.
    await page.getByTestId('install').click();
    await page.getByTestId('progress-title').filter({ hasText: 'Проверка обновлений...' }).waitFor();
    assert.equal(await page.locator('.stage--progress.is-indeterminate').count(), 1);
    await shoot(page, '05-progress-checking');

    await page.getByTestId('progress-title').filter({ hasText: 'Скачивание ресурсов игры' }).waitFor({ timeout: 20000 });
    await page.getByTestId('progress-percent').filter({ hasText: /^[1-9]\d?%$/ }).waitFor({ timeout: 20000 });
    // Read at one moment: the next report may come at any time.
    const shown = await page.evaluate(() => ({
      percent: document.querySelector('[data-testid=progress-percent]').textContent,
      bar: document.querySelector('[role=progressbar]').getAttribute('aria-valuenow'),
    }));
    assert.equal(shown.percent, `${shown.bar}%`);
    assert.match(await text(page, 'progress-details'), /МБ/);
    await shoot(page, '06-progress-download');

    // The launcher's test break at 30%, and the retry that resumes.
    await expectStage(page, 'error');
    assert.equal(await text(page, 'error-title'), 'Ошибка загрузки');
    assert.match(await text(page, 'error-message'), /--fake-error/);
    assert.equal(await page.getByTestId('retry').isEnabled(), true);
    await shoot(page, '07-error');
    // The help beside it: the text to the clipboard, the log in a viewer.
    await page.getByTestId('copy-error').click();
    await page.getByTestId('open-log').click();
    await waitForLog(launcher, / page: opened the log/);
    assert.match(launcher.log(), / page: copied \d+ characters\r?$/m);
    closeNotepad();
    const beforeRetry = serverRequests().length;

    let atClose = null;
    remote.beforeClose = async (closing) => {
      atClose = { stage: await stageOf(closing) };
      await shoot(closing, '08-launching');
    };
    await page.getByTestId('retry').click();
    await remote.nextEvent('launching', { since: remote.events.length, timeout: 60000 });
    assert.equal(await finished(session, 60000), 0);
    assert.deepEqual(atClose, { stage: 'launching' }, 'the launching screen was up when the launcher closed');

    // What the launcher did: every file in place, the folder and the nick
    // saved, the game started on the chosen server.
    const game = driveC(GAME_DIR);
    assert.deepEqual(filesNotMatching(manifest, game), []);
    assert.deepEqual(partFilesIn(game), []);
    const resumed = serverRequests()
      .slice(beforeRetry)
      .filter((r) => (r.headers ?? []).some(([name, value]) => name.toLowerCase() === 'range' && /^bytes=[1-9]\d*-$/.test(value)));
    assert.ok(resumed.length > 0, 'the retry went on from where the break left the files');
    assert.equal(registryValue('Software\\KORVAL', 'GameDir'), GAME_DIR);
    assert.equal(registryValue('Software\\SAMP', 'PlayerName'), 'Ivan_Petrov');
    const record = await sampRecord(game);
    assert.ok(record, 'samp.exe was started');
    // Kept beside this start's log: the later cases start the game again.
    writeFileSync(join(launcher.folder, 'samp_record.txt'), record, 'latin1');
    assert.match(record, new RegExp(`command_line\\t"C:\\\\Games\\\\KORVAL\\\\samp\\.exe" ${GAME_SERVER.test.replace('.', '\\.')}\\r\\n`));
    assert.match(record, /PlayerName\tIvan_Petrov\r\n/);

    const log = launcher.log();
    for (const line of [
      "page ready, saved nick ''",
      `nick Ivan_Petrov, server ${GAME_SERVER.test}`,
      `install: game dir set to '${GAME_DIR}'`,
      `game: started "${GAME_DIR}\\samp.exe" ${GAME_SERVER.test} as Ivan_Petrov`,
    ])
      assert.ok(log.includes(line), `${line}\n${log}`);
    assert.doesNotMatch(log, /invalid nick/, 'the refused nick never reached the launcher');
    // The close went the runtime's way.
    const closing = ['close_browser 1', 'page closed', 'do_close -> 0', 'wm_close to the top-level window', 'browser window destroyed', 'on_before_close 1'];
    assert.ok(inOrder(launcher.report(), closing), launcher.report());
    assert.deepEqual(session.problems, []);
  });

  test('with the game installed, the saved nick plays at once', async () => {
    // Runs on what the first install left: the folder in the registry, the
    // SA-MP client's saved name, every file verified.
    clearServerRequests();
    setServerFaults({});
    rmSync(join(driveC(GAME_DIR), 'samp_record.txt'), { force: true });
    // A file damaged behind the index's back (same size), to be found by
    // the player's check; served slowly enough to be paused.
    const damaged = join(driveC(GAME_DIR), 'models', 'pack2.img');
    const size = statSync(damaged).size;
    writeFileSync(damaged, Buffer.alloc(size, 7));
    setServerFaults({ '/pc/files/models/pack2.img': { trickle: [8192, 20] } });
    const session = await launch('installed', ['--no-update', '--dev']);
    const { page, remote, launcher } = session;
    assert.equal(await page.locator('#nick-input').inputValue(), 'Ivan_Petrov');
    assert.match(await text(page, 'nick-submit'), /Играть/);
    await page.getByTestId('menu').waitFor();
    await shoot(page, '09-installed-engineering');
    // With --dev the launcher keeps the page's context menu.
    const menu = new Promise((resolve) => remote.once('menu', resolve));
    await page.mouse.click(400, 300, { button: 'right' });
    assert.equal(await menu, 3);

    // The engineering menu says what this launcher works with.
    await page.getByTestId('menu').click();
    await page.getByTestId('engineering-dialog').waitFor();
    assert.equal(await text(page, 'engineering-version'), '0.1.4');
    assert.equal(await text(page, 'engineering-installDir'), GAME_DIR);
    assert.match(await text(page, 'engineering-contentServer'), /^https:\/\//);
    assert.match(await text(page, 'engineering-logPath'), /korval_launcher\.log$/);
    await shoot(page, '09b-engineering-dialog');
    await page.getByTestId('engineering-close').click();
    await page.getByTestId('engineering-dialog').waitFor({ state: 'hidden' });

    // The player's check: the damaged file is fetched again; the close box
    // of the page asks while it downloads; a pause, a resume that goes on
    // with a range request, a cancel, and a second check that finishes.
    await page.getByTestId('verify').click();
    const downloading = () => page.getByTestId('progress-title').filter({ hasText: 'Скачивание ресурсов игры' }).waitFor({ timeout: 20000 });
    await downloading();
    await page.getByTestId('exit').click();
    await page.getByTestId('close-question').waitFor();
    await shoot(page, '09c-close-question');
    await page.getByTestId('close-stay').click();
    await page.getByTestId('close-question').waitFor({ state: 'hidden' });
    await page.getByTestId('pause').click();
    await expectStage(page, 'paused');
    assert.match(await text(page, 'paused-done'), /Скачано/);
    await shoot(page, '09d-paused');
    await page.getByTestId('resume').click();
    await downloading();
    await page.getByTestId('cancel').click();
    await page.getByTestId('files-notice').filter({ hasText: 'отменена' }).waitFor();
    await expectStage(page, 'nick');
    await page.getByTestId('verify').click();
    await page.getByTestId('files-notice').filter({ hasText: 'исправлено файлов — 1' }).waitFor({ timeout: 60000 });
    await shoot(page, '10-files-checked');
    assert.equal(await stageOf(page), 'nick');
    assert.deepEqual(filesNotMatching(manifestNow(), driveC(GAME_DIR)), []);
    const ranges = serverRequests()
      .filter((r) => r.path === '/pc/files/models/pack2.img')
      .map((r) => (r.headers ?? []).find(([name]) => name.toLowerCase() === 'range')?.[1] ?? '');
    assert.equal(ranges[0], '', 'the first fetch is whole');
    assert.ok(ranges.length >= 3 && ranges.slice(1).every((r) => /^bytes=[1-9]\d*-$/.test(r)), ranges.join(' '));
    for (const line of ['download: paused by the player', 'download: resumed by the player', 'download: cancelled by the player', 'install: every game file checked, 1 of 6 downloaded again'])
      assert.ok(launcher.log().includes(line), `${line}\n${launcher.log()}`);
    assert.equal(remote.events.filter((e) => e.type === 'launching').length, 0, 'a check starts no game');
    setServerFaults({});
    clearServerRequests();

    remote.beforeClose = async (closing) => assert.equal(await stageOf(closing), 'launching');
    await page.getByTestId('nick-submit').click();
    assert.equal(await finished(session), 0);
    const record = await sampRecord(driveC(GAME_DIR));
    assert.match(record ?? '', new RegExp(`samp\\.exe" ${GAME_SERVER.main.replace('.', '\\.')}\\r\\n`));
    assert.deepEqual(
      serverRequests().map((r) => r.path),
      ['/pc/manifest.json'],
      'nothing downloaded again',
    );
    assert.ok(launcher.log().includes("page ready, saved nick 'Ivan_Petrov'"));
    assert.equal(remote.events.filter((e) => e.type === 'installDir').length, 0);
    assert.deepEqual(session.problems, []);
  });
});
