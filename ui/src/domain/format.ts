const KIB = 1024;
const MIB = 1024 ** 2;
const GIB = 1024 ** 3;

/** A whole number with its thousands apart, Russian style: "8 530" with a narrow no-break space. */
export function formatCount(value: number): string {
  const whole = Number.isFinite(value) ? Math.max(0, Math.floor(value)) : 0;
  return whole.toString().replace(/\B(?=(\d{3})+(?!\d))/g, '\u202f');
}

function withTenths(tenths: number): string {
  return `${formatCount(Math.floor(tenths / 10))},${tenths % 10}`;
}

/** Rounds down to tenths: a figure shown is never more than there is. */
function tenthsOf(value: number): string {
  return withTenths(Math.floor(value * 10));
}

function bytesOf(value: number): number {
  return Number.isFinite(value) ? Math.max(0, value) : 0;
}

/**
 * Bytes as Russian-style gibibytes with one decimal ("9,3 ГБ"). Rounds down so
 * the free space shown is never more than there is.
 */
export function formatGigabytes(bytes: number): string {
  return `${tenthsOf(bytesOf(bytes) / GIB)} ГБ`;
}

interface SizeUnit {
  bytes: number;
  name: string;
  tenths: boolean;
}

/** Whole КБ below a megabyte, МБ with one decimal under 100 and whole above, ГБ always with one decimal. */
function unitFor(bytes: number): SizeUnit {
  if (bytes >= GIB) return { bytes: GIB, name: 'ГБ', tenths: true };
  if (bytes >= MIB) return { bytes: MIB, name: 'МБ', tenths: bytes / MIB < 100 };
  return { bytes: KIB, name: 'КБ', tenths: false };
}

function inUnit(bytes: number, unit: SizeUnit): string {
  const value = bytes / unit.bytes;
  return unit.tenths ? tenthsOf(value) : formatCount(value);
}

/** Bytes in the unit that suits their size. */
export function formatSize(bytes: number): string {
  const b = bytesOf(bytes);
  const unit = unitFor(b);
  return `${inUnit(b, unit)} ${unit.name}`;
}

/** A part of a whole, both in the whole's unit and named once: "1,2 из 3,4 ГБ". */
export function formatSizeOf(done: number, total: number): string {
  const whole = bytesOf(total);
  const unit = unitFor(whole);
  return `${inUnit(Math.min(bytesOf(done), whole), unit)} из ${inUnit(whole, unit)} ${unit.name}`;
}

/** Always МБ/с with one decimal, so the figure keeps its width while it changes. */
export function formatSpeed(bytesPerSecond: number): string {
  const b = bytesOf(bytesPerSecond);
  // A slow but moving download must not read as a stalled "0,0".
  const tenths = b > 0 ? Math.max(1, Math.round((b / MIB) * 10)) : 0;
  return `${withTenths(tenths)} МБ/с`;
}

/**
 * Time left in whole minutes, rounded up, so that a download never takes
 * longer than it said a moment ago just because of the rounding.
 */
export function formatRemaining(seconds: number): string {
  if (!Number.isFinite(seconds) || seconds < 0) return '';
  if (seconds < 60) return 'меньше минуты';
  const minutes = Math.ceil(seconds / 60);
  if (minutes < 60) return `${minutes} мин`;
  if (minutes >= 24 * 60) return 'больше суток';
  const hours = Math.floor(minutes / 60);
  const rest = minutes % 60;
  return rest === 0 ? `${hours} ч` : `${hours} ч ${rest} мин`;
}

/**
 * Splits a folder path before its last name ("D:\Games" and "\KORVAL"), so a
 * path too long for its box can lose its middle and keep both ends.
 */
export function splitPathEnd(path: string): [head: string, tail: string] {
  // A trailing separator belongs to the last name, not to a name of its own.
  const body = path.replace(/[\\/]+$/, '');
  const cut = Math.max(body.lastIndexOf('\\'), body.lastIndexOf('/'));
  if (cut <= 0) return [path, ''];
  return [path.slice(0, cut), path.slice(cut)];
}
