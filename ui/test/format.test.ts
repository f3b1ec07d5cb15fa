import { describe, expect, it } from 'vitest';
import { formatCount, formatGigabytes, formatRemaining, formatSize, formatSpeed, splitPathEnd } from '../src/domain/format';
import { doneSoFar, progressDetails, secondsLeft, trackRate, type RateTrack } from '../src/domain/transfer';
import { readProgress, type ProgressEvent } from '../src/protocol/events';

const KIB = 1024;
const MIB = 1024 ** 2;
const GIB = 1024 ** 3;

describe('sizes in ГБ', () => {
  it('writes gibibytes with a decimal comma, rounding down', () => {
    expect(formatGigabytes(10000000000)).toBe('9,3 ГБ');
    expect(formatGigabytes(1.99 * 1024 ** 3)).toBe('1,9 ГБ');
    expect(formatGigabytes(0)).toBe('0,0 ГБ');
  });

  it('groups thousands so large disks stay readable', () => {
    expect(formatGigabytes(2048 * 1024 ** 3)).toBe('2\u202f048,0 ГБ');
  });
});

describe('sizes and speed in one number style', () => {
  it('picks the unit by magnitude: whole КБ, МБ with a decimal under 100, ГБ with a decimal', () => {
    expect(formatSize(0)).toBe('0 КБ');
    expect(formatSize(1536)).toBe('1 КБ');
    expect(formatSize(MIB - 1)).toBe('1\u202f023 КБ');
    expect(formatSize(MIB)).toBe('1,0 МБ');
    expect(formatSize(99.99 * MIB)).toBe('99,9 МБ');
    expect(formatSize(100 * MIB)).toBe('100 МБ');
    expect(formatSize(GIB - 1)).toBe('1\u202f023 МБ');
    expect(formatSize(GIB)).toBe('1,0 ГБ');
  });

  it('keeps sizes past 4 GiB whole, where 32-bit arithmetic would wrap', () => {
    expect(formatSize(2 ** 32)).toBe('4,0 ГБ');
    expect(formatSize(2 ** 32 + 1)).toBe('4,0 ГБ');
    expect(formatSize(8530.1 * MIB)).toBe('8,3 ГБ');
    expect(formatSize(1500 * GIB)).toBe('1\u202f500,0 ГБ');
  });

  it('reads a broken size as nothing rather than printing NaN', () => {
    for (const bad of [-5, Number.NaN, Number.POSITIVE_INFINITY]) expect(formatSize(bad)).toBe('0 КБ');
  });

  it('writes speed always in МБ/с with one decimal, and a crawl never as 0,0', () => {
    expect(formatSpeed(18.6 * MIB)).toBe('18,6 МБ/с');
    expect(formatSpeed(1200 * MIB)).toBe('1\u202f200,0 МБ/с');
    expect(formatSpeed(40 * KIB)).toBe('0,1 МБ/с');
    expect(formatSpeed(0)).toBe('0,0 МБ/с');
  });

  it('groups thousands in counts', () => {
    expect([formatCount(7), formatCount(112), formatCount(12000), formatCount(1234567)]).toEqual(['7', '112', '12\u202f000', '1\u202f234\u202f567']);
  });
});

describe('time remaining', () => {
  it('rounds up to minutes, then hours and minutes, and gives up past a day', () => {
    expect(formatRemaining(0)).toBe('меньше минуты');
    expect(formatRemaining(59.9)).toBe('меньше минуты');
    expect(formatRemaining(60)).toBe('1 мин');
    expect(formatRemaining(61)).toBe('2 мин');
    expect(formatRemaining(59 * 60)).toBe('59 мин');
    expect(formatRemaining(59 * 60 + 1)).toBe('1 ч');
    expect(formatRemaining(65 * 60)).toBe('1 ч 5 мин');
    expect(formatRemaining(24 * 3600 - 60)).toBe('23 ч 59 мин');
    expect(formatRemaining(24 * 3600)).toBe('больше суток');
    expect([formatRemaining(-1), formatRemaining(Number.NaN), formatRemaining(Number.POSITIVE_INFINITY)]).toEqual(['', '', '']);
  });

  const download = (bytesDone: number, bytesPerSecond: number, bytesTotal = 8 * GIB): ProgressEvent =>
    readProgress({ phase: 'download', bytesDone, bytesTotal, bytesPerSecond, filesDone: 3, filesTotal: 112 });
  const feed = (events: ProgressEvent[]) => events.reduce<RateTrack | null>(trackRate, null);

  it('stays hidden until the launcher has measured a speed twice', () => {
    const first = download(GIB, 10 * MIB);
    expect(secondsLeft(feed([download(0, 0), download(0, 0), first]), first)).toBeNull();
    const second = download(GIB, 10 * MIB);
    expect(secondsLeft(feed([download(0, 0), first, second]), second)).toBe((7 * GIB) / (10 * MIB));
  });

  it('moves only part of the way towards a sudden change of speed', () => {
    const steady = Array.from({ length: 20 }, () => download(GIB, 10 * MIB));
    const spike = download(GIB, 100 * MIB);
    const track = feed([...steady, spike])!;
    expect(track.rate).toBeGreaterThan(10 * MIB);
    expect(track.rate).toBeLessThan(30 * MIB);
    // One report ten times faster would otherwise turn 12 minutes into 2.
    const before = formatRemaining(secondsLeft(feed(steady), steady[0]!)!);
    const after = formatRemaining(secondsLeft(track, spike)!);
    expect([before, after]).toEqual(['12 мин', '6 мин']);
  });

  it('keeps the average through a report without a sample, and starts over after the download', () => {
    const track = feed([download(GIB, 10 * MIB), download(GIB, 10 * MIB)]);
    expect(trackRate(track, download(GIB, 0))).toBe(track);
    expect(trackRate(track, readProgress({ phase: 'check', bytesDone: 0, bytesTotal: GIB }))).toBeNull();
    expect(trackRate(track, readProgress({ title: 'Повторная попытка' }))).toBeNull();
  });

  it('is never negative when the launcher takes bytes back from a failed attempt', () => {
    const track = feed([download(GIB, 10 * MIB), download(GIB, 10 * MIB)]);
    expect(secondsLeft(track, download(8 * GIB, 10 * MIB))).toBe(0);
    expect(secondsLeft(track, readProgress({ phase: 'download', bytesPerSecond: 10 * MIB }))).toBeNull();
  });
});

describe('the progress line', () => {
  const launcherText = 'Файл 37 из 112 · 3912 из 8530 МБ · 18.6 МБ/с';

  it('writes the figures in the page style while checking and downloading', () => {
    const figures = { details: launcherText, bytesDone: 3912.4 * MIB, bytesTotal: 8530.1 * MIB, filesDone: 36, filesTotal: 1120 };
    expect(progressDetails(readProgress({ ...figures, phase: 'download' }))).toBe('Файл 37 из 1\u202f120 · 3,8 ГБ из 8,3 ГБ');
    expect(progressDetails(readProgress({ ...figures, phase: 'check' }))).toBe('Проверено 36 из 1\u202f120 · 3,8 ГБ из 8,3 ГБ');
    // The last file under way is still the last one, not one past it.
    expect(progressDetails(readProgress({ ...figures, phase: 'download', filesDone: 1120 }))).toMatch(/^Файл 1\u202f120 из 1\u202f120 ·/);
  });

  it('keeps the launcher text without figures, before files are counted, and when done', () => {
    expect(progressDetails(readProgress({ details: launcherText, bytesDone: 1, bytesTotal: 2 }))).toBe(launcherText);
    expect(progressDetails(readProgress({ details: 'Получение списка файлов', phase: 'manifest', bytesTotal: 0, filesTotal: 0 }))).toBe(
      'Получение списка файлов',
    );
    expect(progressDetails(readProgress({ details: 'x', phase: 'download', bytesTotal: 0, filesTotal: 0 }))).toBe('x');
    expect(progressDetails(readProgress({ details: 'Все файлы на месте', phase: 'done', bytesTotal: GIB, filesTotal: 3 }))).toBe(
      'Все файлы на месте',
    );
  });
});

describe('what a stopped job got through', () => {
  it('writes both sizes in the total unit, names it once, and never past the total', () => {
    const stopped = (phase: string, bytesDone: number, bytesTotal: number) =>
      doneSoFar(readProgress({ details: 'Файл 3 из 9', phase, bytesDone, bytesTotal }));
    expect(stopped('download', 1.25 * GIB, 3.45 * GIB)).toBe('Скачано 1,2 из 3,4 ГБ');
    expect(stopped('download', 512 * MIB, 3.4 * GIB)).toBe('Скачано 0,5 из 3,4 ГБ');
    expect(stopped('download', 12 * MIB, 850 * MIB)).toBe('Скачано 12 из 850 МБ');
    expect(stopped('check', 12.5 * MIB, 50 * MIB)).toBe('Проверено 12,5 из 50,0 МБ');
    expect(stopped('download', 9 * GIB, 8 * GIB)).toBe('Скачано 8,0 из 8,0 ГБ');
    // Nothing counted yet: the launcher's own words.
    expect(stopped('download', 0, 0)).toBe('Файл 3 из 9');
  });
});

describe('a long folder path', () => {
  it('splits before the last name so both ends can stay in view', () => {
    expect(splitPathEnd('C:\\Games\\KORVAL')).toEqual(['C:\\Games', '\\KORVAL']);
    expect(splitPathEnd('C:\\KORVAL')).toEqual(['C:', '\\KORVAL']);
    expect(splitPathEnd('D:\\Игры\\KORVAL\\')).toEqual(['D:\\Игры', '\\KORVAL\\']);
    expect(splitPathEnd('C:\\')).toEqual(['C:\\', '']);
    expect(splitPathEnd('KORVAL')).toEqual(['KORVAL', '']);
  });
});
