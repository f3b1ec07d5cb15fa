// End-to-end: the packed page in headless Chromium, served on loopback, with a
// simulated launcher on the other side of the console/event bridge.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { axeViolations, lowContrast, measureContrast, MIN_CONTRAST } from './support/audit.mjs';
import { launchBrowser, openPage, screenshotDir, shoot } from './support/browser.mjs';
import { events } from './support/launcher-json.mjs';
import { SimulatedLauncher } from './support/launcher-sim.mjs';
import { startPageServer } from './support/page-server.mjs';
import { readZip } from './support/zip-reader.mjs';

const uiDir = resolve(import.meta.dirname, '..');
const zipPath = process.env.UI_ZIP_OUT ? resolve(process.env.INIT_CWD ?? process.cwd(), process.env.UI_ZIP_OUT) : resolve(uiDir, 'out/ui.zip');
const GIB = 1024 ** 3;
const MIB = 1024 ** 2;
// Longer than the path box, and it holds the game.
const GAME_FOLDER = 'D:\\Мои игры\\Сетевые игры\\Ролевые проекты\\Сохранённые копии 2024\\KORVAL';

let browser;
let server;
let shots;
// The lowest contrast measured on each screen, for the log.
const contrastSeen = [];

before(async () => {
  assert.ok(existsSync(zipPath), `no page archive at ${zipPath}: run "npm run pack" first`);
  server = await startPageServer(readZip(readFileSync(zipPath)));
  browser = await launchBrowser();
  shots = screenshotDir();
});

after(async () => {
  await browser?.close();
  await server?.close();
  if (shots) console.log(`screenshots in ${shots}`);
  if (contrastSeen.length > 0) {
    const worst = contrastSeen.reduce((a, b) => (b.ratio < a.ratio ? b : a));
    console.log(`lowest text contrast over ${contrastSeen.length} screens: ${worst.ratio}:1 (${worst.label} on ${worst.screen})`);
  }
});

/** Opens the page as the launcher does and waits for the nick screen. */
async function start(options = {}, hash = '#/launcher') {
  const { context, page, problems } = await openPage(browser);
  const launcher = new SimulatedLauncher(page, options);
  await page.goto(`${server.origin}/index.html${hash}`);
  await launcher.next('ready', 0);
  await launcher.settle();
  return { context, page, problems, launcher };
}

const stage = (page) => page.locator('[data-testid=panel]').getAttribute('data-stage');

async function expectStage(page, name) {
  await page.locator(`[data-testid=panel][data-stage=${name}]`).waitFor();
}

/** What holds the keyboard: a test id, an id, or "body" when nothing does. */
const focused = (page) =>
  page.evaluate(() => {
    const el = document.activeElement;
    return !el || el === document.body ? 'body' : el.dataset.testid || el.id || el.tagName.toLowerCase();
  });

/** Shoots the screen, then holds it to WCAG 2 A/AA: axe finds nothing and every normal-size text reads at 4.5:1. */
async function audit(page, name) {
  await shoot(page, shots, name);
  const contrast = await measureContrast(page);
  if (contrast.length > 0) contrastSeen.push({ ...contrast[0], screen: name });
  assert.deepEqual(lowContrast(contrast), [], `${name}: text below ${MIN_CONTRAST}:1 against what is behind it`);
  assert.deepEqual(await axeViolations(page), [], `${name}: axe`);
}

/** The open dialog, checked for what makes it modal and named. */
async function expectDialog(page, testid, role, name) {
  const dialog = page.getByTestId(testid);
  await dialog.waitFor();
  assert.equal(await dialog.getAttribute('role'), role);
  assert.equal(await dialog.getAttribute('aria-modal'), 'true');
  assert.equal(await page.getByRole(role, { name }).count(), 1, `${testid} is labelled "${name}"`);
  assert.equal(await page.locator('.content').evaluate((el) => el.inert), true, 'the page behind is inert');
  return dialog;
}

describe('a first install, stage by stage', () => {
  test('nick, folder, progress, pause, the close question, cancel, an error with help, retry and launch', async () => {
    const { context, page, problems, launcher } = await start({
      init: { nick: '', installed: false, installDir: '' },
      pickedFolders: [
        { path: 'D:\\Игры\\KORVAL', freeBytes: 3.2 * GIB, error: 'Недостаточно места на диске.' },
        { path: 'E:\\Games\\KORVAL', freeBytes: 412.9 * GIB },
        { path: GAME_FOLDER, freeBytes: 1.5 * GIB, gamePresent: true },
        { path: 'E:\\Games\\KORVAL', freeBytes: 412.9 * GIB },
      ],
      installFolderCheck: { path: GAME_FOLDER, freeBytes: 1.5 * GIB, error: 'Нет прав на запись в эту папку. Выберите другую (например, не Program Files).' },
    });
    await expectStage(page, 'nick');
    assert.equal(await page.getByTestId('version').textContent(), 'v0.1.4');
    assert.equal(await focused(page), 'nick-input');
    assert.equal(await page.getByTestId('open-dir').isHidden(), true, 'no game tools before the game is installed');
    await audit(page, '01-nick');

    // Typing a broken nick explains the rule and sends nothing.
    const nick = page.locator('#nick-input');
    await nick.fill('Ivan_P');
    assert.match(await page.locator('#nick-hint').textContent(), /хотя бы по 2 символа/);
    await nick.press('Enter');
    await shoot(page, shots, '02-nick-invalid');
    assert.equal(launcher.sent('nick').length, 0);
    assert.equal(await stage(page), 'nick');

    // A valid nick and the test server, chosen from the keyboard; Enter submits.
    await nick.fill('Ivan_Petrov');
    assert.equal(await page.locator('#nick-hint').getAttribute('data-tone'), 'good');
    await page.locator('input[name=server][value=main]').focus();
    await page.keyboard.press('ArrowRight');
    await nick.focus();
    const sentNick = launcher.next('nick');
    await nick.press('Enter');
    assert.deepEqual(await sentNick, { type: 'nick', serverId: 'test', nick: 'Ivan_Petrov' });

    await expectStage(page, 'install');
    await launcher.settle();
    assert.equal(await page.getByTestId('install-path').textContent(), 'C:\\Games\\KORVAL');
    assert.equal(await page.getByTestId('free-space').textContent(), '214,6 ГБ');
    assert.equal(await page.getByTestId('need-space').textContent(), '9,3 ГБ');
    assert.equal(await page.getByTestId('install').isEnabled(), true);
    assert.equal(await focused(page), 'install');
    await audit(page, '03-install');

    // A folder on a full disk: the launcher's error shows and install is blocked.
    const picked = launcher.next('pickDir');
    await page.getByTestId('pick-dir').click();
    await picked;
    await launcher.settle();
    await page.getByTestId('install-error').waitFor();
    assert.equal(await page.getByTestId('install-error').textContent(), 'Недостаточно места на диске.');
    assert.equal(await page.getByTestId('install-path').textContent(), 'D:\\Игры\\KORVAL');
    assert.match(await page.getByTestId('space').getAttribute('class'), /is-low/);
    assert.equal(await page.getByTestId('install').isDisabled(), true);
    await audit(page, '04-install-low-space');

    const pickedAgain = launcher.next('pickDir');
    await page.getByTestId('pick-dir').click();
    await pickedAgain;
    await launcher.settle();
    assert.equal(await page.getByTestId('install-error').isHidden(), true);
    assert.doesNotMatch(await page.getByTestId('space').getAttribute('class'), /is-low/);

    // A folder that already holds the game needs no free space: 1,5 ГБ is not marked low.
    const pickedGame = launcher.next('pickDir');
    await page.getByTestId('pick-dir').click();
    await pickedGame;
    await launcher.settle();
    assert.equal(await page.getByTestId('install-path').textContent(), GAME_FOLDER);
    assert.equal(await page.getByTestId('free-space').textContent(), '1,5 ГБ');
    assert.doesNotMatch(await page.getByTestId('space').getAttribute('class'), /is-low/);
    assert.equal(await page.locator('.space__note').textContent(), 'Игра уже есть в этой папке');
    assert.equal(await page.getByTestId('install').isEnabled(), true);
    // The long path gives up its middle; the drive and "\KORVAL" stay in view.
    const shown = await page.getByTestId('install-path').evaluate((el) => {
      const [head, tail] = el.children;
      return {
        headCut: head.scrollWidth > head.clientWidth,
        tailWhole: tail.scrollWidth <= tail.clientWidth && tail.getBoundingClientRect().right <= el.getBoundingClientRect().right + 0.5,
        tail: tail.textContent,
      };
    });
    assert.deepEqual(shown, { headCut: true, tailWhole: true, tail: '\\KORVAL' });
    await shoot(page, shots, '04b-install-game-present');

    // Refused on install: the button waits, marked so, and the keyboard stays on it.
    const refused = launcher.next('install');
    await page.getByTestId('install').press('Enter');
    await refused;
    await launcher.settle();
    await page.getByTestId('install-error').waitFor();
    assert.equal(await page.getByTestId('install').getAttribute('aria-disabled'), 'true');
    assert.equal(await focused(page), 'install');
    await page.getByTestId('install').press('Enter');
    assert.equal(launcher.sent('install').length, 1, 'a waiting button sends nothing');
    const pickedLast = launcher.next('pickDir');
    await page.getByTestId('pick-dir').click();
    await pickedLast;
    await launcher.settle();

    const installed = launcher.next('install');
    await page.getByTestId('install').click();
    await installed;
    await expectStage(page, 'progress');
    await launcher.settle();
    assert.equal(await page.getByTestId('progress-title').textContent(), 'Проверка обновлений...');
    assert.equal(await page.getByTestId('progress-percent').textContent(), '');
    assert.equal(await page.locator('.stage--progress.is-indeterminate').count(), 1);
    assert.equal(await focused(page), 'progress-title');
    // Only the title line speaks: the figures under it change four times a second.
    assert.deepEqual(await page.locator('[data-stage=progress] [aria-live], [data-stage=progress][aria-live]').evaluateAll((els) => els.map((el) => el.dataset.testid)), [
      'progress-title',
    ]);
    assert.equal(await page.getByTestId('pause').isHidden(), true, 'nothing to pause while the file list comes');
    await shoot(page, shots, '05-progress-checking');

    await launcher.send(
      events.progress({ title: 'Скачивание ресурсов игры', details: 'Файл 37 из 112 · 3912.4 из 8530.1 МБ · 18.6 МБ/с', percent: 45 }),
    );
    assert.equal(await page.getByTestId('progress-percent').textContent(), '45%');
    assert.equal(await page.getByRole('progressbar').getAttribute('aria-valuenow'), '45');
    // An older launcher's report: its own text, no figures row, the note kept.
    assert.equal(await page.getByTestId('progress-details').textContent(), 'Файл 37 из 112 · 3912.4 из 8530.1 МБ · 18.6 МБ/с');
    assert.equal(await page.getByTestId('progress-speed').isHidden(), true);
    assert.equal(await page.getByTestId('progress-note').isVisible(), true);
    await shoot(page, shots, '06-progress-download');

    // The launcher's system code comes apart from its text and shows once, in small print.
    await launcher.send(
      events.error({ title: 'Ошибка загрузки', message: 'Ошибка загрузки файла data/x.img: обрыв соединения (12030)', code: 12030 }),
    );
    await expectStage(page, 'error');
    assert.equal(await page.getByTestId('error-title').textContent(), 'Ошибка загрузки');
    assert.equal(await page.getByTestId('error-message').textContent(), 'Ошибка загрузки файла data/x.img: обрыв соединения');
    assert.equal(await page.getByTestId('error-code').textContent(), 'Код ошибки: 12030');
    assert.equal(await focused(page), 'retry');
    await audit(page, '07-error');

    const copied = launcher.next('copy');
    await page.getByTestId('copy-error').click();
    assert.deepEqual(await copied, {
      type: 'copy',
      text: 'Ошибка загрузки\nОшибка загрузки файла data/x.img: обрыв соединения\nКод ошибки: 12030\nВерсия лаунчера: 0.1.4',
    });
    assert.equal(await page.getByTestId('copy-error').textContent(), 'Скопировано');
    const log = launcher.next('openLog');
    await page.getByTestId('open-log').click();
    await log;
    const community = launcher.next('link');
    await page.getByTestId('error-community').click();
    assert.deepEqual(await community, { type: 'link', name: 'vk' });

    const retried = launcher.next('retry');
    await page.getByTestId('retry').click();
    await retried;
    await expectStage(page, 'progress');

    // A newer launcher's reports carry the figures: the page writes sizes, speed and time left itself.
    const note = page.getByTestId('progress-note');
    await launcher.send(
      events.progress({ title: 'Проверка обновлений...', details: 'Получение списка файлов', percent: 0, indeterminate: true, phase: 'manifest' }),
    );
    assert.equal(await page.getByTestId('progress-details').textContent(), 'Получение списка файлов');
    assert.equal(await note.isHidden(), true, 'nothing to resume while the file list comes');
    const checking = { title: 'Проверка файлов', details: 'Проверено 12 из 40', percent: 30, phase: 'check' };
    await launcher.send(events.progress({ ...checking, bytesDone: Math.round(1.25 * GIB), bytesTotal: 4 * GIB, filesDone: 12, filesTotal: 40 }));
    assert.equal(await page.getByTestId('progress-details').textContent(), 'Проверено 12 из 40 · 1,2 ГБ из 4,0 ГБ');
    assert.equal(await note.isHidden(), true, 'nothing to resume while files are only checked');
    assert.equal(await page.getByTestId('progress-speed').textContent(), '');
    // Checking is a job that can stop, but closing during it loses nothing: no question.
    assert.equal(await page.getByTestId('pause').isVisible(), true);

    const total = Math.round(8530.1 * MIB);
    const download = (bytesDone, bytesPerSecond, filesDone) =>
      events.progress({
        title: 'Скачивание ресурсов игры',
        details: 'Файл 37 из 112 · 3912 из 8530 МБ · 18.6 МБ/с',
        percent: Math.floor((bytesDone * 100) / total),
        phase: 'download',
        bytesDone,
        bytesTotal: total,
        bytesPerSecond,
        filesDone,
        filesTotal: 112,
      });
    await launcher.send(download(0, 0, 0));
    assert.equal(await note.isVisible(), true);
    assert.equal(await page.getByTestId('progress-speed').textContent(), '', 'no speed before a real sample');
    await launcher.send(download(Math.round(3800 * MIB), Math.round(18.6 * MIB), 35));
    assert.equal(await page.getByTestId('progress-speed').textContent(), '18,6 МБ/с');
    assert.equal(await page.getByTestId('progress-remaining').textContent(), '', 'one sample is no estimate yet');
    await launcher.send(download(Math.round(3912.4 * MIB), Math.round(18.6 * MIB), 36));
    assert.equal(await page.getByTestId('progress-details').textContent(), 'Файл 37 из 112 · 3,8 ГБ из 8,3 ГБ');
    assert.equal(await page.getByTestId('progress-remaining').textContent(), 'Осталось 5 мин');
    assert.equal(await note.isVisible(), true);
    await audit(page, '06b-progress-figures');

    // The header's close while files download asks first; Escape stays, and the keyboard goes back.
    const exitButton = page.getByTestId('exit');
    await exitButton.focus();
    await exitButton.press('Enter');
    await expectDialog(page, 'close-question', 'alertdialog', 'Прервать загрузку?');
    assert.equal(await focused(page), 'close-stay');
    await page.keyboard.press('Tab');
    await page.keyboard.press('Tab');
    assert.equal(await focused(page), 'close-stay', 'Tab stays inside the dialog');
    await audit(page, '06c-close-question');
    await page.keyboard.press('Escape');
    await page.getByTestId('close-question').waitFor({ state: 'hidden' });
    assert.equal(await focused(page), 'exit');
    // The launcher asks too when its close box is clicked; staying sends nothing.
    await launcher.send(events.closeQuestion());
    await page.getByTestId('close-stay').click();
    await page.getByTestId('close-question').waitFor({ state: 'hidden' });
    assert.equal(launcher.sent('exit').length, 0, 'staying sends nothing');

    // Pause: the last figures stay, speed and time left go, and the keyboard lands on "Продолжить".
    const paused = launcher.next('pause');
    await page.getByTestId('pause').click();
    await paused;
    await expectStage(page, 'paused');
    assert.equal(await page.getByTestId('paused-title').textContent(), 'Загрузка на паузе');
    assert.equal(await page.getByTestId('paused-done').textContent(), 'Скачано 3,8 из 8,3 ГБ');
    assert.equal(await page.getByTestId('progress-speed').count(), 0);
    assert.equal(await page.getByTestId('progress-remaining').count(), 0);
    assert.equal(await focused(page), 'resume');
    await audit(page, '06d-paused');

    // After the pause, the time left waits for two fresh samples instead of averaging over the stop.
    const resumed = launcher.next('resume');
    await page.getByTestId('resume').click();
    await resumed;
    await expectStage(page, 'progress');
    await launcher.send(download(Math.round(3920 * MIB), Math.round(30 * MIB), 36));
    assert.equal(await page.getByTestId('progress-remaining').textContent(), '');
    await launcher.send(download(Math.round(3950 * MIB), Math.round(30 * MIB), 36));
    assert.equal(await page.getByTestId('progress-remaining').textContent(), 'Осталось 3 мин');

    // Cancel: back to the nick, told that nothing downloaded is lost.
    const cancelled = launcher.next('cancel');
    await page.getByTestId('cancel').click();
    await cancelled;
    await expectStage(page, 'nick');
    assert.equal(
      await page.getByTestId('files-notice').textContent(),
      'Загрузка отменена. Скачанные файлы сохранены — в следующий раз загрузка продолжится с того же места.',
    );
    assert.equal(await focused(page), 'nick-input');
    assert.match(await page.getByTestId('nick-submit').textContent(), /Продолжить/);
    await audit(page, '06e-cancelled');

    const again = launcher.next('nick');
    await page.getByTestId('nick-submit').click();
    await again;
    await expectStage(page, 'install');
    await page.getByTestId('install').click();
    await expectStage(page, 'progress');
    assert.equal(await page.getByTestId('files-notice').isHidden(), true);

    await launcher.send(events.progress({ title: 'Проверка файлов', details: 'Все файлы на месте', percent: 100 }));
    assert.equal(await page.getByTestId('progress-percent').textContent(), '100%');
    await launcher.send(events.launching());
    await expectStage(page, 'launching');
    assert.equal(await focused(page), 'launching-title');
    await audit(page, '08-launching');

    // Every request was answered from the archive, with no console errors on the way.
    assert.deepEqual(server.requests.filter((r) => r.status !== 200), []);
    assert.deepEqual(problems, []);
    await context.close();
  });
});

describe('an installed game', () => {
  test('goes from the nick straight to progress, and shows the engineering menu', async () => {
    const { context, page, launcher } = await start({ init: { nick: 'Alex', installed: true, engineering: true, installDir: GAME_FOLDER } });
    await expectStage(page, 'nick');
    assert.equal(await page.locator('#nick-input').inputValue(), 'Alex');
    assert.match(await page.getByTestId('nick-submit').textContent(), /Играть/);
    await page.getByTestId('menu').waitFor();
    await shoot(page, shots, '09-installed-engineering');

    const menu = launcher.next('menu');
    await page.getByTestId('menu').click();
    await menu;
    await expectDialog(page, 'engineering-dialog', 'dialog', 'Инженерное меню');
    const fact = (key) => page.getByTestId(`engineering-${key}`).textContent();
    assert.deepEqual(
      [await fact('version'), await fact('installDir'), await fact('contentServer'), await fact('logPath')],
      ['0.1.4', GAME_FOLDER, 'https://127.0.0.1:8443', 'C:\\Users\\player\\AppData\\Local\\KORVAL\\launcher.log'],
    );
    assert.equal(await focused(page), 'engineering-close');
    await audit(page, '09b-engineering-dialog');
    const log = launcher.next('openLog');
    await page.getByTestId('engineering-open-log').click();
    await log;
    await page.keyboard.press('Escape');
    await page.getByTestId('engineering-dialog').waitFor({ state: 'hidden' });
    assert.equal(await focused(page), 'menu');
    // With no folder saved yet, the menu says so instead of showing a blank.
    await launcher.send(events.engineering({ installDir: '' }));
    assert.equal(await fact('installDir'), 'не выбрана');
    await page.getByTestId('engineering-close').click();
    await page.getByTestId('engineering-dialog').waitFor({ state: 'hidden' });

    const sentNick = launcher.next('nick');
    await page.getByTestId('nick-submit').click();
    assert.deepEqual(await sentNick, { type: 'nick', serverId: 'main', nick: 'Alex' });
    await expectStage(page, 'progress');
    await launcher.settle();
    assert.equal(await page.getByTestId('progress-title').textContent(), 'Проверка обновлений...');
    assert.equal(launcher.sent('install').length, 0);
    await context.close();
  });

  test('opens its folder, checks its files, and moves to another folder only with a valid nick', async () => {
    const { context, page, problems, launcher } = await start({ init: { nick: 'Alex', installed: true, installDir: GAME_FOLDER } });
    await expectStage(page, 'nick');
    // The folder loses its middle, keeping the drive and the last name.
    assert.equal(await page.getByTestId('game-dir').locator('.path__text').getAttribute('title'), GAME_FOLDER);
    assert.equal(await page.getByTestId('game-dir').locator('.path__tail').textContent(), '\\KORVAL');
    await audit(page, '10-installed-tools');

    const opened = launcher.next('openDir');
    await page.getByTestId('open-dir').click();
    await opened;

    const check = async (filesRepaired, notice) => {
      const verified = launcher.next('verify');
      await page.getByTestId('verify').click();
      await verified;
      await expectStage(page, 'progress');
      await launcher.send(events.progress({ title: 'Проверка файлов', details: '', percent: 50, phase: 'check', bytesDone: GIB, bytesTotal: 2 * GIB, filesDone: 4, filesTotal: 8 }));
      await launcher.send(events.filesChecked({ filesChecked: 8, filesRepaired }));
      await expectStage(page, 'nick');
      assert.equal(await page.getByTestId('files-notice').textContent(), notice);
      assert.equal(await focused(page), 'nick-input');
    };
    await check(0, 'Проверка завершена: все файлы в порядке.');
    await shoot(page, shots, '11-files-checked');
    await check(3, 'Проверка завершена: исправлено файлов — 3.');

    // Another folder needs the nick the launcher goes on with: a broken one is refused as by "Играть".
    const nick = page.locator('#nick-input');
    await nick.fill('A');
    await page.getByTestId('change-dir').click();
    assert.equal(await page.locator('#nick-hint').textContent(), 'Слишком коротко: нужно хотя бы 2 символа.');
    assert.equal(await focused(page), 'nick-input');
    assert.equal(launcher.sent('changeDir').length, 0);

    await nick.fill('Alex_Smith');
    const moved = launcher.next('changeDir');
    await page.getByTestId('change-dir').click();
    assert.deepEqual(await moved, { type: 'changeDir', serverId: 'main', nick: 'Alex_Smith' });
    await expectStage(page, 'install');
    assert.equal(await page.locator('[data-stage=install] .eyebrow').textContent(), 'Другая папка');
    assert.equal(
      await page.getByTestId('install-lead').textContent(),
      'Файлы в прежней папке останутся на месте: лаунчер их не переносит и не удаляет. В новую папку игра будет скачана заново, если её там ещё нет.',
    );
    await audit(page, '12-change-dir');

    const installed = launcher.next('install');
    await page.getByTestId('install').click();
    await installed;
    await expectStage(page, 'progress');
    await launcher.settle();
    // The session no longer counts the game as installed: a cancel leads to a fresh start.
    await launcher.send(events.progress({ title: 'Скачивание', details: '', percent: 1, phase: 'download', bytesDone: MIB, bytesTotal: GIB, bytesPerSecond: MIB, filesDone: 0, filesTotal: 2 }));
    await page.getByTestId('cancel').click();
    await expectStage(page, 'nick');
    assert.match(await page.getByTestId('nick-submit').textContent(), /Продолжить/);
    assert.equal(await page.getByTestId('open-dir').isHidden(), true);
    assert.deepEqual(problems, []);
    await context.close();
  });

  test('an error right after launching still reaches the player', async () => {
    // An older launcher: no installDir in init, no code in the error, no clipboard or log to open.
    const { context, page, launcher } = await start({ init: { nick: 'Alex', installed: true } });
    assert.equal(await page.getByTestId('verify').isHidden(), true);
    await page.getByTestId('nick-submit').click();
    await launcher.send(events.progress({ title: 'Скачивание', details: '', percent: 1, phase: 'download', bytesDone: MIB, bytesTotal: GIB, bytesPerSecond: MIB, filesDone: 0, filesTotal: 2 }));
    assert.equal(await page.getByTestId('pause').isHidden(), true);
    await launcher.send(events.launching());
    await expectStage(page, 'launching');
    await launcher.send(events.error({ title: 'Не удалось запустить игру', message: 'Ошибка запуска samp.exe (2).' }));
    await expectStage(page, 'error');
    assert.equal(await page.getByTestId('error-message').textContent(), 'Ошибка запуска samp.exe (2).');
    assert.equal(await page.getByTestId('error-code').isHidden(), true);
    assert.deepEqual(
      [await page.getByTestId('copy-error').isHidden(), await page.getByTestId('open-log').isHidden(), await page.getByTestId('error-community').isVisible()],
      [true, true, true],
    );
    const exit = launcher.next('exit');
    await page.getByTestId('error-exit').click();
    await exit;
    await context.close();
  });
});

describe('header and keyboard', () => {
  test('every control is reachable with Tab, shows focus, and sends its message', async () => {
    const { context, page, launcher } = await start({ init: { nick: 'Ivan_Petrov', installed: false } });
    await expectStage(page, 'nick');

    const seen = [];
    await page.evaluate(() => document.activeElement?.blur());
    for (let i = 0; i < 12; i++) {
      await page.keyboard.press('Tab');
      const info = await page.evaluate(() => {
        const el = document.activeElement;
        if (!el || el === document.body) return null;
        const style = getComputedStyle(el.matches('.server__radio') ? el.nextElementSibling : el);
        return {
          key: el.dataset.link || el.dataset.testid || el.id || el.getAttribute('name') || el.outerHTML.slice(0, 60),
          ring: style.outlineStyle !== 'none' || style.boxShadow !== 'none',
        };
      });
      if (!info) continue;
      seen.push(info.key);
      assert.ok(info.ring, `${info.key} has no visible focus`);
    }
    for (const key of ['vk', 'telegram', 'youtube', 'discord', 'exit', 'nick-input', 'server', 'nick-submit']) {
      assert.ok(seen.includes(key), `Tab never reached ${key} (saw ${seen.join(', ')})`);
    }

    for (const name of ['vk', 'telegram', 'youtube', 'discord']) {
      const link = launcher.next('link');
      await page.locator(`[data-link=${name}]`).click();
      assert.deepEqual(await link, { type: 'link', name });
    }
    const exit = launcher.next('exit');
    await page.getByTestId('exit').press('Enter');
    assert.deepEqual(await exit, { type: 'exit' });
    assert.equal(await page.getByTestId('menu').isHidden(), true, 'engineering menu without engineering');
    await context.close();
  });
});

describe('the bridge', () => {
  test('texts arrive unchanged through the launcher JSON: quotes, backslashes, control bytes, Cyrillic', async () => {
    const { context, page, launcher } = await start();
    const title = 'Папка «C:\\Games\\"KORVAL"»';
    const message = 'строка 1\nстрока\t2 \u001f конец /путь/';
    await launcher.send(events.error({ title, message }));
    await expectStage(page, 'error');
    assert.equal(await page.getByTestId('error-title').textContent(), title);
    assert.equal(await page.getByTestId('error-message').textContent(), message);

    await launcher.send(events.error({ title: '', message: 'x' }));
    assert.equal(await page.getByTestId('error-title').textContent(), 'Произошла ошибка');
    await context.close();
  });

  test('unusable servers fall back to the built-in one; unknown events are ignored', async () => {
    const { context, page, launcher } = await start({ init: { main: 'korval.example:7777', test: '10.0.0.1:7778 ' } });
    await launcher.send('{"type":"news","items":[1,2]}');
    await launcher.send('{"no":"type"}');
    await expectStage(page, 'nick');
    const names = await page.locator('.server__name').allTextContents();
    assert.deepEqual(names, ['Тестовый сервер'], 'a host name is not an address; a padded address is trimmed');

    await launcher.send(
      '{"type":"init","nick":5,"version":"0.1.4","engineering":"true","installed":"no","servers":[{"id":"main","name":"  ","address":"1.2.3.4:5"}]}',
    );
    assert.deepEqual(await page.locator('.server__name').allTextContents(), ['Основной сервер']);
    assert.equal(await page.getByTestId('menu').isHidden(), true);
    assert.match(await page.getByTestId('nick-submit').textContent(), /Играть/, 'installed unless exactly false');
    await context.close();
  });

  test('sends ready on every load and opens the launcher view from any address', async () => {
    const { context, page, launcher } = await start({}, '');
    assert.equal(new URL(page.url()).hash, '#/launcher');
    await page.reload();
    await expectStage(page, 'nick');
    assert.equal(launcher.sent('ready').length, 2);
    await context.close();
  });
});
