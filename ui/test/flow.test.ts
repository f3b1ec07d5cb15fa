import { beforeEach, describe, expect, it } from 'vitest';
import { createController, type Controller } from '../src/app/controller';
import { CANCELLED_NOTICE, CHECK_CANCELLED_NOTICE, initialState, type AppState } from '../src/app/state';
import { createStore, type Store } from '../src/app/store';
import { secondsLeft } from '../src/domain/transfer';
import type { PageMessage } from '../src/protocol/messages';

const servers = [
  { id: 'main', name: 'Основной сервер', address: '1.2.3.4:7777' },
  { id: 'test', name: 'Тестовый сервер', address: '1.2.3.4:7778' },
];
const init = (installed: boolean, extra = {}) => ({ type: 'init', nick: '', version: '0.1.4', installed, servers, ...extra });
const folder = (error = '') => ({ type: 'installDir', path: 'C:\\Games\\KORVAL', freeBytes: 5e10, needBytes: 1e10, error });
const progress = (percent: number) => ({ type: 'progress', title: 'Скачивание', details: '', percent, indeterminate: false });
const GIB = 1024 ** 3;
const download = (bytesDone: number, bytesPerSecond = 20e6) => ({
  ...progress(Math.floor((bytesDone * 100) / (8 * GIB))),
  phase: 'download',
  bytesDone,
  bytesTotal: 8 * GIB,
  bytesPerSecond,
  filesDone: 3,
  filesTotal: 112,
});
const phase = (name: string) => ({ ...progress(0), phase: name });
// A launcher that takes pause, verify and the rest says so with installDir in init.
const newer = { installDir: 'D:\\Games\\KORVAL' };

let store: Store<AppState>;
let sent: PageMessage[];
let page: Controller;

beforeEach(() => {
  store = createStore(initialState);
  sent = [];
  page = createController(store, (m) => sent.push(m));
});

const stage = () => store.get().stage;

describe('a game not yet installed', () => {
  beforeEach(() => page.onLauncherEvent(init(false)));

  it('waits on the nick screen for the folder proposal', () => {
    expect(page.submitNick('Ivan_Petrov', 'test')).toBe(true);
    expect(sent).toEqual([{ type: 'nick', serverId: 'test', nick: 'Ivan_Petrov' }]);
    expect(store.get()).toMatchObject({ stage: 'nick', waiting: true });
    page.onLauncherEvent(folder());
    expect(store.get()).toMatchObject({ stage: 'install', waiting: false });
  });

  it('never sends an invalid nick, nor a second one while waiting', () => {
    expect(page.submitNick('Ivan_', 'main')).toBe(false);
    page.submitNick('Ivan', 'main');
    page.submitNick('Ivan', 'main');
    expect(sent).toHaveLength(1);
  });

  it('stays on the folder screen when the launcher rejects the folder on install', () => {
    page.submitNick('Ivan', 'main');
    page.onLauncherEvent(folder());
    page.install();
    expect(sent.at(-1)).toEqual({ type: 'install' });
    page.onLauncherEvent(folder('Нет прав на запись в эту папку.'));
    expect(store.get()).toMatchObject({ stage: 'install', waiting: false });
    page.install();
    expect(sent.filter((m) => m.type === 'install')).toHaveLength(1);
  });

  it('lets the folder be picked again at any time on the folder screen', () => {
    page.submitNick('Ivan', 'main');
    page.onLauncherEvent(folder('Диск недоступен.'));
    page.pickDir();
    expect(sent.at(-1)).toEqual({ type: 'pickDir' });
  });
});

describe('an installed game', () => {
  it('goes from the nick straight to progress', () => {
    page.onLauncherEvent(init(true));
    page.submitNick('Ivan', 'main');
    expect(store.get()).toMatchObject({ stage: 'progress', player: { nick: 'Ivan', serverId: 'main' } });
    expect(store.get().progress.indeterminate).toBe(true);
  });
});

describe('job and launch', () => {
  beforeEach(() => {
    page.onLauncherEvent(init(true));
    page.submitNick('Ivan', 'main');
  });

  it('offers retry after an error and goes back to progress', () => {
    page.onLauncherEvent(progress(40));
    page.onLauncherEvent({ type: 'error', title: 'Ошибка загрузки', message: 'обрыв' });
    expect(stage()).toBe('error');
    page.retry();
    expect(sent.at(-1)).toEqual({ type: 'retry' });
    expect(stage()).toBe('progress');
    page.retry();
    expect(sent.filter((m) => m.type === 'retry')).toHaveLength(1);
  });

  it('keeps the launch screen over a late progress report but shows a later error', () => {
    page.onLauncherEvent({ type: 'launching' });
    page.onLauncherEvent(progress(100));
    expect(stage()).toBe('launching');
    page.onLauncherEvent({ type: 'error', title: 'Не удалось запустить игру', message: 'Ошибка запуска samp.exe (2).' });
    expect(stage()).toBe('error');
  });

  it('does not pull a running download back to the folder screen', () => {
    page.onLauncherEvent(progress(10));
    page.onLauncherEvent(folder());
    expect(stage()).toBe('progress');
  });
});

describe('before and around init', () => {
  it('shows the nick screen only after init, and a second init does not reset later stages', () => {
    page.onLauncherEvent(progress(5));
    expect(stage()).toBe('progress');
    page.onLauncherEvent(init(false));
    expect(stage()).toBe('progress');
  });

  it('ignores unknown events without touching the state', () => {
    const before = store.get();
    page.onLauncherEvent({ type: 'news', title: 'x' });
    expect(store.get()).toBe(before);
  });

  it('sends menu only when init said engineering', () => {
    page.onLauncherEvent(init(false, { engineering: 'true' }));
    page.menu();
    page.onLauncherEvent(init(false, { engineering: true }));
    page.menu();
    expect(sent).toEqual([{ type: 'menu' }]);
  });
});

describe('pause, resume and cancel', () => {
  beforeEach(() => {
    page.onLauncherEvent(init(true, newer));
    page.submitNick('Ivan', 'main');
  });

  const timeLeft = () => secondsLeft(store.get().rate, store.get().progress);

  it('pauses only a running check or download, asks once, and keeps the pause over reports still on their way', () => {
    page.pause();
    page.onLauncherEvent(phase('manifest'));
    page.pause();
    expect(sent.filter((m) => m.type === 'pause')).toHaveLength(0);

    page.onLauncherEvent(download(GIB));
    page.pause();
    page.pause();
    expect(sent.filter((m) => m.type === 'pause')).toHaveLength(1);
    // The job keeps reporting until it has stopped.
    page.onLauncherEvent(download(2 * GIB));
    expect(store.get()).toMatchObject({ stage: 'progress', stopAsked: 'pause' });

    page.onLauncherEvent({ type: 'paused' });
    page.onLauncherEvent(download(3 * GIB));
    expect(store.get()).toMatchObject({ stage: 'paused', stopAsked: null, progress: { bytesDone: 2 * GIB } });
  });

  it('starts the time left over after resuming or retrying, so the stop is not counted as a slow download', () => {
    page.onLauncherEvent(download(GIB));
    page.onLauncherEvent(download(1.1 * GIB));
    expect(timeLeft()).not.toBeNull();
    page.pause();
    page.onLauncherEvent({ type: 'paused' });
    page.resume();
    page.resume();
    expect(sent.filter((m) => m.type === 'resume')).toHaveLength(1);
    expect(store.get()).toMatchObject({ stage: 'progress', waiting: true, progress: { title: 'Возобновление загрузки' } });
    page.onLauncherEvent(download(1.2 * GIB));
    expect(timeLeft()).toBeNull();
    page.onLauncherEvent(download(1.3 * GIB));
    expect(timeLeft()).not.toBeNull();
    page.onLauncherEvent({ type: 'error', title: 'Ошибка загрузки', message: 'обрыв' });
    page.retry();
    page.onLauncherEvent(download(1.4 * GIB));
    expect(timeLeft()).toBeNull();
  });

  it('cancels a running job or a paused one back to the nick, and reports after that stay out', () => {
    page.onLauncherEvent(download(GIB));
    page.cancel();
    page.cancel();
    expect(sent.filter((m) => m.type === 'cancel')).toHaveLength(1);
    page.onLauncherEvent({ type: 'cancelled' });
    page.onLauncherEvent(download(2 * GIB));
    expect(store.get()).toMatchObject({ stage: 'nick', notice: CANCELLED_NOTICE, waiting: false });

    page.submitNick('Ivan', 'main');
    expect(store.get().notice).toBe('');
    page.onLauncherEvent(download(GIB));
    page.pause();
    page.onLauncherEvent({ type: 'paused' });
    page.cancel();
    // Resuming what is being cancelled would start the job again behind the player's back.
    page.resume();
    expect(sent.filter((m) => m.type === 'resume')).toHaveLength(0);
    page.onLauncherEvent({ type: 'cancelled' });
    expect(store.get()).toMatchObject({ stage: 'nick', notice: CANCELLED_NOTICE });
  });

  it('ignores the answers to pause and cancel where no job is shown', () => {
    page.onLauncherEvent({ type: 'error', title: 'Ошибка загрузки', message: 'обрыв' });
    page.onLauncherEvent({ type: 'cancelled' });
    page.onLauncherEvent({ type: 'paused' });
    page.onLauncherEvent({ type: 'filesChecked', filesChecked: 1, filesRepaired: 0 });
    expect(store.get()).toMatchObject({ stage: 'error', notice: '' });
  });

  it('never sends the job controls to an older launcher, which would leave the page waiting', () => {
    page.onLauncherEvent(init(true));
    page.onLauncherEvent(download(GIB));
    page.pause();
    page.cancel();
    page.onLauncherEvent({ type: 'cancelled' });
    page.verify();
    page.openDir();
    expect(page.changeDir('Ivan', 'main')).toBe(false);
    expect(sent.map((m) => m.type)).toEqual(['nick']);
  });
});

describe('closing the launcher', () => {
  beforeEach(() => {
    page.onLauncherEvent(init(true, newer));
    page.submitNick('Ivan', 'main');
  });

  it('asks only while files download, and closes or stays as answered', () => {
    page.onLauncherEvent(phase('check'));
    page.exit();
    expect(sent.at(-1)).toEqual({ type: 'exit' });

    page.onLauncherEvent(download(GIB));
    page.exit();
    expect(store.get().dialog).toEqual({ kind: 'closeQuestion' });
    page.closeDialog();
    expect(store.get().dialog).toBeNull();
    page.exit();
    page.confirmExit();
    expect(sent.filter((m) => m.type === 'exit')).toHaveLength(2);

    // A paused download loses nothing by closing.
    page.pause();
    page.onLauncherEvent({ type: 'paused' });
    page.exit();
    expect(sent.filter((m) => m.type === 'exit')).toHaveLength(3);
    expect(store.get().dialog).toBeNull();
  });

  it("shows the launcher's question, drops it once the download is over, and keeps it over a late engineering answer", () => {
    page.onLauncherEvent(download(GIB));
    page.onLauncherEvent({ type: 'closeQuestion' });
    page.onLauncherEvent({ type: 'engineering', version: '0.1.4' });
    expect(store.get().dialog).toEqual({ kind: 'closeQuestion' });
    page.onLauncherEvent(download(2 * GIB));
    expect(store.get().dialog).toEqual({ kind: 'closeQuestion' });
    page.onLauncherEvent({ type: 'launching' });
    expect(store.get().dialog).toBeNull();
    expect(sent.map((m) => m.type)).toEqual(['nick']);
  });
});

describe('the installed game tools', () => {
  beforeEach(() => page.onLauncherEvent(init(true, newer)));

  it('checks the files without a player, and tells the outcome back on the nick screen', () => {
    page.verify();
    page.verify();
    expect(sent).toEqual([{ type: 'verify' }]);
    expect(store.get()).toMatchObject({ stage: 'progress', player: null, progress: { title: 'Проверка файлов' } });
    page.onLauncherEvent({ type: 'filesChecked', filesChecked: 8530, filesRepaired: 0 });
    expect(store.get()).toMatchObject({ stage: 'nick', notice: 'Проверка завершена: все файлы в порядке.' });
    page.verify();
    page.onLauncherEvent(download(GIB));
    page.onLauncherEvent({ type: 'filesChecked', filesChecked: 8530, filesRepaired: 1234 });
    expect(store.get().notice).toBe('Проверка завершена: исправлено файлов — 1\u202f234.');
    expect(store.get().init?.installed).toBe(true);
    // A cancelled check says so, not that a download was cancelled; the next
    // start of the game is a download again.
    page.verify();
    page.onLauncherEvent(download(GIB));
    page.cancel();
    page.onLauncherEvent({ type: 'cancelled' });
    expect(store.get().notice).toBe(CHECK_CANCELLED_NOTICE);
    page.submitNick('Ivan', 'main');
    page.onLauncherEvent(download(GIB));
    page.cancel();
    page.onLauncherEvent({ type: 'cancelled' });
    expect(store.get().notice).toBe(CANCELLED_NOTICE);
  });

  it('changes the folder only with a valid nick, as the launcher needs one to go on', () => {
    expect(page.changeDir('Ivan_', 'test')).toBe(false);
    expect(sent).toEqual([]);
    expect(page.changeDir('Ivan_Petrov', 'test')).toBe(true);
    // The launcher reads members in order, as for the nick message.
    expect(JSON.stringify(sent)).toBe('[{"type":"changeDir","serverId":"test","nick":"Ivan_Petrov"}]');
    expect(store.get()).toMatchObject({ stage: 'nick', waiting: true, changingDir: true, init: { installed: false } });
    page.verify();
    expect(sent).toHaveLength(1);
    page.onLauncherEvent({ ...folder(), gamePresent: true });
    expect(store.get()).toMatchObject({ stage: 'install', changingDir: true });
  });

  it('offers no tools for a game that is not installed', () => {
    page.onLauncherEvent(init(false, newer));
    page.verify();
    page.openDir();
    expect(page.changeDir('Ivan', 'main')).toBe(false);
    expect(sent).toEqual([]);
  });
});

describe('error help', () => {
  const copied = () => sent.filter((m) => m.type === 'copy').map((m) => (m as { text: string }).text);

  it('copies title, message, code and version, each on its own line', () => {
    page.onLauncherEvent(init(true, newer));
    expect(page.copyError()).toBe(false);
    page.onLauncherEvent({ type: 'error', title: 'Ошибка загрузки', message: 'обрыв соединения (12030)', code: 12030 });
    page.copyError();
    page.onLauncherEvent({ ...init(true, newer), version: '' });
    page.onLauncherEvent({ type: 'error', title: 'Ошибка', message: 'нет места' });
    page.copyError();
    expect(copied()).toEqual(['Ошибка загрузки\nобрыв соединения\nКод ошибки: 12030\nВерсия лаунчера: 0.1.4', 'Ошибка\nнет места']);
  });

  it('cuts a huge message to what the launcher takes, keeping the code and version and every character whole', () => {
    page.onLauncherEvent(init(true, newer));
    page.onLauncherEvent({ type: 'error', title: 'Ошибка', message: `${'🎮'.repeat(2000)} (5)`, code: 5 });
    page.copyError();
    const [text] = copied() as [string];
    const bytes = new TextEncoder().encode(text);
    expect(bytes.length).toBeLessThanOrEqual(4096);
    expect(text.endsWith('🎮\nКод ошибки: 5\nВерсия лаунчера: 0.1.4')).toBe(true);
    // Half an emoji would not survive the way to UTF-8 and back.
    expect(new TextDecoder().decode(bytes)).toBe(text);
  });
});
