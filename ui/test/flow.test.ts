import { beforeEach, describe, expect, it } from 'vitest';
import { createController, type Controller } from '../src/app/controller';
import { initialState, type AppState } from '../src/app/state';
import { createStore, type Store } from '../src/app/store';
import type { PageMessage } from '../src/protocol/messages';

const servers = [
  { id: 'main', name: 'Основной сервер', address: '1.2.3.4:7777' },
  { id: 'test', name: 'Тестовый сервер', address: '1.2.3.4:7778' },
];
const init = (installed: boolean, extra = {}) => ({ type: 'init', nick: '', version: '0.1.4', installed, servers, ...extra });
const folder = (error = '') => ({ type: 'installDir', path: 'C:\\Games\\KORVAL', freeBytes: 5e10, needBytes: 1e10, error });
const progress = (percent: number) => ({ type: 'progress', title: 'Скачивание', details: '', percent, indeterminate: false });

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
