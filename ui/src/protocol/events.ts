import { readServers, type Server } from './servers';

export interface InitEvent {
  type: 'init';
  nick: string;
  version: string;
  engineering: boolean;
  installed: boolean;
  servers: Server[];
  /** The saved game folder; "" when none, or from a launcher that does not say. */
  installDir: string;
  /**
   * The launcher takes pause, resume, cancel, verify, changeDir, copy, openLog
   * and openDir. Those came with init's installDir member, so that member
   * tells; an older launcher would leave the page waiting for answers that never come.
   */
  jobControl: boolean;
}

export interface InstallDirEvent {
  type: 'installDir';
  path: string;
  freeBytes: number;
  needBytes: number;
  error: string;
  /** The folder already holds the game, so it needs no free space. */
  gamePresent: boolean;
  /** Free space is below what the game needs. */
  lowSpace: boolean;
  /** The install button is usable only while the launcher reports no error. */
  canInstall: boolean;
}

export interface ProgressEvent {
  type: 'progress';
  title: string;
  details: string;
  /** 0..100 */
  percent: number;
  indeterminate: boolean;
  /**
   * The figures behind the text. An older launcher sends none of them, and a
   * value that is not a usable count is left out as if it had not been sent.
   */
  phase?: ProgressPhase;
  /** Bytes hashed or downloaded in the current phase. */
  bytesDone?: number;
  bytesTotal?: number;
  /** 0 until the launcher has measured a real speed. */
  bytesPerSecond?: number;
  filesDone?: number;
  filesTotal?: number;
}

export type ProgressPhase = 'manifest' | 'check' | 'download' | 'done';

const PHASES: readonly string[] = ['manifest', 'check', 'download', 'done'] satisfies ProgressPhase[];

export interface ErrorEvent {
  type: 'error';
  title: string;
  /** The launcher's text, without the system error code when that came apart as `code`. */
  message: string;
  code?: number;
}

/** Events that carry nothing but their type. */
export interface BareEvent {
  type: 'launching' | 'paused' | 'cancelled' | 'closeQuestion';
}

export interface FilesCheckedEvent {
  type: 'filesChecked';
  filesChecked: number;
  /** Files found wrong or missing and downloaded again. */
  filesRepaired: number;
}

export interface EngineeringEvent {
  type: 'engineering';
  version: string;
  installDir: string;
  contentServer: string;
  logPath: string;
}

export type LauncherEvent = InitEvent | InstallDirEvent | ProgressEvent | ErrorEvent | BareEvent | FilesCheckedEvent | EngineeringEvent;

const BARE: readonly string[] = ['launching', 'paused', 'cancelled', 'closeQuestion'] satisfies BareEvent['type'][];

export const DEFAULT_ERROR_TITLE = 'Произошла ошибка';

type Detail = Record<string, unknown>;

function text(value: unknown): string {
  return typeof value === 'string' ? value : '';
}

function positive(value: unknown): number {
  return typeof value === 'number' && Number.isFinite(value) && value > 0 ? value : 0;
}

function count(value: unknown): number | undefined {
  return typeof value === 'number' && Number.isFinite(value) && value >= 0 ? value : undefined;
}

/** Keeps "done" within "total" when both came, so nothing reads as more than all. */
function doneOf(done: number | undefined, total: number | undefined): number | undefined {
  return done !== undefined && total !== undefined ? Math.min(done, total) : done;
}

function clampPercent(value: unknown): number {
  if (typeof value !== 'number' || Number.isNaN(value)) return 0;
  return Math.min(100, Math.max(0, value));
}

export function readInit(d: Detail): InitEvent {
  return {
    type: 'init',
    nick: text(d.nick),
    version: text(d.version),
    engineering: d.engineering === true,
    // A launcher that forgets the flag must not send the player to a
    // folder screen that never comes: only an explicit false means "not installed".
    installed: d.installed !== false,
    servers: readServers(d.servers),
    installDir: text(d.installDir),
    jobControl: typeof d.installDir === 'string',
  };
}

export function readInstallDir(d: Detail): InstallDirEvent {
  const freeBytes = positive(d.freeBytes);
  const needBytes = positive(d.needBytes);
  const error = text(d.error);
  const gamePresent = d.gamePresent === true;
  return {
    type: 'installDir',
    path: text(d.path),
    freeBytes,
    needBytes,
    error,
    gamePresent,
    lowSpace: !gamePresent && freeBytes < needBytes,
    canInstall: error === '',
  };
}

export function readProgress(d: Detail): ProgressEvent {
  const event: ProgressEvent = {
    type: 'progress',
    title: text(d.title),
    details: text(d.details),
    percent: clampPercent(d.percent),
    indeterminate: d.indeterminate === true,
  };
  if (typeof d.phase === 'string' && PHASES.includes(d.phase)) event.phase = d.phase as ProgressPhase;
  const bytesTotal = count(d.bytesTotal);
  const filesTotal = count(d.filesTotal);
  const figures = {
    bytesDone: doneOf(count(d.bytesDone), bytesTotal),
    bytesTotal,
    bytesPerSecond: count(d.bytesPerSecond),
    filesDone: doneOf(count(d.filesDone), filesTotal),
    filesTotal,
  };
  // Members that did not come stay absent, so an older launcher's event reads exactly as before.
  for (const [key, value] of Object.entries(figures)) {
    if (value !== undefined) event[key as keyof typeof figures] = value;
  }
  return event;
}

/** A system error code as the launcher writes it; anything else is no code at all. */
function errorCode(value: unknown): number | undefined {
  return typeof value === 'number' && Number.isSafeInteger(value) && value >= 0 ? value : undefined;
}

/**
 * The launcher leaves the code in its message as "(N)" and also sends it
 * apart; the page shows it once, in its own line, so it comes out of the text.
 */
function withoutCode(message: string, code: number): string {
  const mark = `(${code})`;
  const at = message.lastIndexOf(mark);
  if (at < 0) return message;
  const start = at > 0 && message[at - 1] === ' ' ? at - 1 : at;
  return message.slice(0, start) + message.slice(at + mark.length);
}

export function readError(d: Detail): ErrorEvent {
  const title = text(d.title);
  const message = text(d.message);
  const code = errorCode(d.code);
  const event: ErrorEvent = {
    type: 'error',
    title: title.trim() === '' ? DEFAULT_ERROR_TITLE : title,
    message: code === undefined ? message : withoutCode(message, code),
  };
  if (code !== undefined) event.code = code;
  return event;
}

export function readFilesChecked(d: Detail): FilesCheckedEvent {
  return { type: 'filesChecked', filesChecked: count(d.filesChecked) ?? 0, filesRepaired: count(d.filesRepaired) ?? 0 };
}

export function readEngineering(d: Detail): EngineeringEvent {
  return {
    type: 'engineering',
    version: text(d.version),
    installDir: text(d.installDir),
    contentServer: text(d.contentServer),
    logPath: text(d.logPath),
  };
}

/** Turns a launcher event's detail into a checked event; unknown types give null. */
export function readLauncherEvent(d: Detail): LauncherEvent | null {
  switch (d.type) {
    case 'init':
      return readInit(d);
    case 'installDir':
      return readInstallDir(d);
    case 'progress':
      return readProgress(d);
    case 'error':
      return readError(d);
    case 'filesChecked':
      return readFilesChecked(d);
    case 'engineering':
      return readEngineering(d);
    default:
      return typeof d.type === 'string' && BARE.includes(d.type) ? { type: d.type as BareEvent['type'] } : null;
  }
}
