import { describe, expect, it } from 'vitest';
import {
  DEFAULT_ERROR_TITLE,
  readEngineering,
  readError,
  readFilesChecked,
  readInit,
  readInstallDir,
  readLauncherEvent,
  readProgress,
} from '../src/protocol/events';
import { BUILT_IN_SERVER, readServers } from '../src/protocol/servers';

const main = { id: 'main', name: 'Основной сервер', address: '185.12.3.4:7777' };
const test = { id: 'test', name: 'Тестовый сервер', address: '185.12.3.4:7778' };

describe('init', () => {
  it('takes nick and version only when they are strings', () => {
    expect(readInit({ nick: 'Ivan', version: '0.1.4' })).toMatchObject({ nick: 'Ivan', version: '0.1.4' });
    expect(readInit({ nick: 42, version: null })).toMatchObject({ nick: '', version: '' });
  });

  it('counts engineering only when exactly true', () => {
    expect(readInit({ engineering: true }).engineering).toBe(true);
    for (const value of ['true', 1, {}, undefined]) expect(readInit({ engineering: value }).engineering).toBe(false);
  });

  it('counts installed unless exactly false', () => {
    expect(readInit({ installed: false }).installed).toBe(false);
    for (const value of [true, 'false', 0, null, undefined]) expect(readInit({ installed: value }).installed).toBe(true);
  });

  it('tells a launcher that takes the job controls by the installDir member, even an empty one', () => {
    expect(readInit({ installDir: 'D:\\Games\\KORVAL' })).toMatchObject({ installDir: 'D:\\Games\\KORVAL', jobControl: true });
    expect(readInit({ installDir: '' })).toMatchObject({ installDir: '', jobControl: true });
    // An older launcher: no member at all. A broken one: no usable folder, and no promise of the controls.
    for (const value of [undefined, null, 5, ['C:\\']]) {
      expect(readInit({ installDir: value })).toMatchObject({ installDir: '', jobControl: false });
    }
  });
});

describe('servers', () => {
  it('keeps main and test in the launcher order', () => {
    expect(readServers([test, main])).toEqual([test, main]);
  });

  it('drops entries with another id, a blank name or a non-numeric address', () => {
    const servers = readServers([
      { ...main, id: 'MAIN' },
      { ...main, name: '   ' },
      { ...main, address: 'play.example.org:7777' },
      { ...test, address: '1.2.3:7777' },
      { ...test, address: '1234.1.1.1:7777' },
      { ...test, address: '1.2.3.4:123456' },
      { ...test, address: '1.2.3.4' },
      { ...test, name: 7 },
      null,
      'main',
    ]);
    expect(servers).toEqual([BUILT_IN_SERVER]);
  });

  it('trims names and addresses and cuts names to 40 characters', () => {
    const long = 'Сервер'.repeat(10);
    const [server] = readServers([{ id: 'main', name: `  ${long}  `, address: ' 1.2.3.4:5 ' }]);
    expect(server).toEqual({ id: 'main', name: long.slice(0, 40), address: '1.2.3.4:5' });
  });

  it('does not split a character made of two UTF-16 units when cutting', () => {
    const name = `${'a'.repeat(39)}🎮tail`;
    expect(readServers([{ ...main, name }])[0]!.name).toBe(`${'a'.repeat(39)}🎮`);
  });

  it('keeps only the first entry of an id so choices stay distinct', () => {
    expect(readServers([main, { ...main, name: 'Копия' }])).toEqual([main]);
  });

  it('falls back to the built-in main server when nothing usable is left', () => {
    expect(readServers(undefined)).toEqual([BUILT_IN_SERVER]);
    expect(readServers({ main })).toEqual([BUILT_IN_SERVER]);
    expect(readServers([])).toEqual([BUILT_IN_SERVER]);
  });
});

describe('progress', () => {
  it('clamps percent to 0..100 and reads a non-number as 0', () => {
    const percent = (value: unknown) => readProgress({ percent: value }).percent;
    expect([percent(-5), percent(0), percent(37), percent(100), percent(250)]).toEqual([0, 0, 37, 100, 100]);
    expect([percent('50'), percent(null), percent(Number.NaN), percent(undefined)]).toEqual([0, 0, 0, 0]);
  });

  it('is indeterminate only when exactly true', () => {
    expect(readProgress({ indeterminate: true }).indeterminate).toBe(true);
    expect(readProgress({ indeterminate: 'true' }).indeterminate).toBe(false);
    expect(readProgress({ indeterminate: 1 }).indeterminate).toBe(false);
  });

  it('takes title and details only when strings', () => {
    expect(readProgress({ title: 'Проверка файлов', details: ['x'] })).toMatchObject({ title: 'Проверка файлов', details: '' });
  });

  const figures = { phase: 'download', bytesDone: 5e9, bytesTotal: 9e9, bytesPerSecond: 19.5e6, filesDone: 37, filesTotal: 112 };

  it('reads the figures a newer launcher adds, past 4 GiB and at zero', () => {
    expect(readProgress(figures)).toMatchObject(figures);
    const start = { phase: 'manifest', bytesDone: 0, bytesTotal: 0, bytesPerSecond: 0, filesDone: 0, filesTotal: 0 };
    expect(readProgress(start)).toMatchObject(start);
    for (const phase of ['manifest', 'check', 'download', 'done']) expect(readProgress({ phase }).phase).toBe(phase);
  });

  it('reads an older launcher event with no figure members at all', () => {
    const event = readProgress({ title: 'Проверка обновлений...', details: 'Получение списка файлов', percent: 0, indeterminate: true });
    expect(Object.keys(event).sort()).toEqual(['details', 'indeterminate', 'percent', 'title', 'type']);
  });

  it('leaves out a figure that is not a usable count, keeping the others', () => {
    for (const bad of [-1, '5', null, true, Number.NaN, Number.POSITIVE_INFINITY, {}]) {
      for (const key of ['bytesDone', 'bytesTotal', 'bytesPerSecond', 'filesDone', 'filesTotal'] as const) {
        const event = readProgress({ ...figures, [key]: bad });
        expect(event, `${key}: ${String(bad)}`).not.toHaveProperty(key);
        expect(event.phase).toBe('download');
      }
    }
  });

  it('leaves out an unknown or differently cased phase', () => {
    for (const phase of ['Download', 'hash', '', 3, null]) expect(readProgress({ ...figures, phase })).not.toHaveProperty('phase');
  });

  it('never reports more done than the total', () => {
    expect(readProgress({ bytesDone: 12e9, bytesTotal: 9e9, filesDone: 120, filesTotal: 112 })).toMatchObject({
      bytesDone: 9e9,
      filesDone: 112,
    });
    // Without a total there is nothing to hold "done" to.
    expect(readProgress({ bytesDone: 12e9 }).bytesDone).toBe(12e9);
  });
});

describe('error', () => {
  it('shows the default title for an empty or missing one', () => {
    expect(readError({ title: '', message: 'm' }).title).toBe(DEFAULT_ERROR_TITLE);
    expect(readError({ message: 'm' }).title).toBe(DEFAULT_ERROR_TITLE);
    expect(readError({ title: '  ', message: 'm' }).title).toBe(DEFAULT_ERROR_TITLE);
    expect(readError({ title: 'Нет связи с сервером', message: 5 })).toMatchObject({ title: 'Нет связи с сервером', message: '' });
  });

  it('takes the code out of the message once, where the launcher wrote it', () => {
    const message = (text: string, code: unknown) => readError({ title: 't', message: text, code });
    expect(message('Ошибка загрузки файла data/x.img: обрыв соединения (12030)', 12030)).toMatchObject({
      message: 'Ошибка загрузки файла data/x.img: обрыв соединения',
      code: 12030,
    });
    expect(message('Ошибка запуска samp.exe (2).', 2).message).toBe('Ошибка запуска samp.exe.');
    // Only the code itself, and only its last mention: other numbers in brackets are the launcher's text.
    expect(message('Файл (2) из 3: ошибка (2)', 2).message).toBe('Файл (2) из 3: ошибка');
    expect(message('Ошибка (120300)', 12030).message).toBe('Ошибка (120300)');
    expect(message('Ошибка без кода', 5)).toMatchObject({ message: 'Ошибка без кода', code: 5 });
  });

  it('has no code, and keeps the message whole, when the code is not a whole non-negative number', () => {
    for (const code of ['12030', 12030.5, -1, Number.NaN, null, true, undefined]) {
      const event = readError({ title: 't', message: 'обрыв (12030)', code });
      expect(event, String(code)).not.toHaveProperty('code');
      expect(event.message).toBe('обрыв (12030)');
    }
  });
});

describe('the end of a check and the engineering facts', () => {
  it('reads missing or broken counts as none', () => {
    expect(readFilesChecked({ filesChecked: 8530, filesRepaired: 3 })).toMatchObject({ filesChecked: 8530, filesRepaired: 3 });
    expect(readFilesChecked({ filesChecked: '8530', filesRepaired: -3 })).toMatchObject({ filesChecked: 0, filesRepaired: 0 });
    expect(readFilesChecked({})).toMatchObject({ filesChecked: 0, filesRepaired: 0 });
  });

  it('takes only strings as facts', () => {
    expect(readEngineering({ version: 1, installDir: null, contentServer: 'https://h:1', logPath: ['x'] })).toEqual({
      type: 'engineering',
      version: '',
      installDir: '',
      contentServer: 'https://h:1',
      logPath: '',
    });
  });
});

describe('installDir', () => {
  const need = 10000000000;

  it('reads sizes only when positive numbers', () => {
    expect(readInstallDir({ freeBytes: 5e9, needBytes: need })).toMatchObject({ freeBytes: 5e9, needBytes: need });
    for (const value of [-1, 0, '5', null, Number.POSITIVE_INFINITY]) {
      expect(readInstallDir({ freeBytes: value }).freeBytes).toBe(0);
    }
  });

  it('marks the space as low only when free is below need', () => {
    expect(readInstallDir({ freeBytes: need - 1, needBytes: need }).lowSpace).toBe(true);
    expect(readInstallDir({ freeBytes: need, needBytes: need }).lowSpace).toBe(false);
    expect(readInstallDir({ freeBytes: 5e9, needBytes: 'lots' }).lowSpace).toBe(false);
  });

  it('never marks low space for a folder that already holds the game', () => {
    expect(readInstallDir({ freeBytes: 1e9, needBytes: need, gamePresent: true })).toMatchObject({ gamePresent: true, lowSpace: false });
    for (const value of [false, 'true', 1, null, undefined]) {
      expect(readInstallDir({ freeBytes: 1e9, needBytes: need, gamePresent: value })).toMatchObject({ gamePresent: false, lowSpace: true });
    }
  });

  it('blocks installing while the launcher reports an error', () => {
    expect(readInstallDir({ path: 'C:\\Games', error: '' }).canInstall).toBe(true);
    expect(readInstallDir({ path: 'C:\\Games', error: 'Диск недоступен.' }).canInstall).toBe(false);
    // A non-string error is no error text at all.
    expect(readInstallDir({ path: 'C:\\Games', error: 1 })).toMatchObject({ error: '', canInstall: true });
  });
});

describe('dispatch by type', () => {
  it('ignores unknown, missing and differently cased types', () => {
    for (const type of ['news', '', undefined, 'Init', 'PROGRESS']) expect(readLauncherEvent({ type })).toBeNull();
  });

  it('reads the events without members as bare ones, dropping whatever else came', () => {
    for (const type of ['launching', 'paused', 'cancelled', 'closeQuestion']) {
      expect(readLauncherEvent({ type, extra: 1 })).toEqual({ type });
    }
    for (const type of ['Paused', 'cancel', 'close']) expect(readLauncherEvent({ type })).toBeNull();
  });
});
