// End-to-end: the packed page in headless Chromium, served on loopback, with a
// simulated launcher on the other side of the console/event bridge.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
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

describe('a first install, stage by stage', () => {
  test('nick, folder, progress, an error, retry and launch', async () => {
    const { context, page, problems, launcher } = await start({
      init: { nick: '', installed: false },
      pickedFolders: [
        { path: 'D:\\Игры\\KORVAL', freeBytes: 3.2 * GIB, error: 'Недостаточно места на диске.' },
        { path: 'E:\\Games\\KORVAL', freeBytes: 412.9 * GIB },
        { path: GAME_FOLDER, freeBytes: 1.5 * GIB, gamePresent: true },
      ],
    });
    await expectStage(page, 'nick');
    assert.equal(await page.getByTestId('version').textContent(), 'v0.1.4');
    await shoot(page, shots, '01-nick');

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
    await shoot(page, shots, '03-install');

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
    await shoot(page, shots, '04-install-low-space');

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

    const installed = launcher.next('install');
    await page.getByTestId('install').click();
    await installed;
    await expectStage(page, 'progress');
    await launcher.settle();
    assert.equal(await page.getByTestId('progress-title').textContent(), 'Проверка обновлений...');
    assert.equal(await page.getByTestId('progress-percent').textContent(), '');
    assert.equal(await page.locator('.stage--progress.is-indeterminate').count(), 1);
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

    await launcher.send(
      events.error({
        title: 'Ошибка загрузки',
        message: "Не удалось загрузить файл 'models/gta3.img': обрыв соединения (12030).",
      }),
    );
    await expectStage(page, 'error');
    assert.equal(await page.getByTestId('error-title').textContent(), 'Ошибка загрузки');
    await shoot(page, shots, '07-error');

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
    await shoot(page, shots, '06b-progress-figures');

    await launcher.send(events.progress({ title: 'Проверка файлов', details: 'Все файлы на месте', percent: 100 }));
    assert.equal(await page.getByTestId('progress-percent').textContent(), '100%');
    await launcher.send(events.launching());
    await expectStage(page, 'launching');
    await shoot(page, shots, '08-launching');

    // Every request was answered from the archive, with no console errors on the way.
    assert.deepEqual(server.requests.filter((r) => r.status !== 200), []);
    assert.deepEqual(problems, []);
    await context.close();
  });
});

describe('an installed game', () => {
  test('goes from the nick straight to progress, and shows the engineering menu', async () => {
    const { context, page, launcher } = await start({ init: { nick: 'Alex', installed: true, engineering: true } });
    await expectStage(page, 'nick');
    assert.equal(await page.locator('#nick-input').inputValue(), 'Alex');
    assert.match(await page.getByTestId('nick-submit').textContent(), /Играть/);
    await page.getByTestId('menu').waitFor();
    await shoot(page, shots, '09-installed-engineering');

    const menu = launcher.next('menu');
    await page.getByTestId('menu').click();
    await menu;

    const sentNick = launcher.next('nick');
    await page.getByTestId('nick-submit').click();
    assert.deepEqual(await sentNick, { type: 'nick', serverId: 'main', nick: 'Alex' });
    await expectStage(page, 'progress');
    await launcher.settle();
    assert.equal(await page.getByTestId('progress-title').textContent(), 'Проверка обновлений...');
    assert.equal(launcher.sent('install').length, 0);
    await context.close();
  });

  test('an error right after launching still reaches the player', async () => {
    const { context, page, launcher } = await start({ init: { nick: 'Alex', installed: true } });
    await page.getByTestId('nick-submit').click();
    await launcher.send(events.launching());
    await expectStage(page, 'launching');
    await launcher.send(events.error({ title: 'Не удалось запустить игру', message: 'Ошибка запуска samp.exe (2).' }));
    await expectStage(page, 'error');
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
