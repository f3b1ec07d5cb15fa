import { readServers, type Server } from './servers';

export interface InitEvent {
  type: 'init';
  nick: string;
  version: string;
  engineering: boolean;
  installed: boolean;
  servers: Server[];
}

export interface InstallDirEvent {
  type: 'installDir';
  path: string;
  freeBytes: number;
  needBytes: number;
  error: string;
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
}

export interface ErrorEvent {
  type: 'error';
  title: string;
  message: string;
}

export interface LaunchingEvent {
  type: 'launching';
}

export type LauncherEvent = InitEvent | InstallDirEvent | ProgressEvent | ErrorEvent | LaunchingEvent;

export const DEFAULT_ERROR_TITLE = 'Произошла ошибка';

type Detail = Record<string, unknown>;

function text(value: unknown): string {
  return typeof value === 'string' ? value : '';
}

function positive(value: unknown): number {
  return typeof value === 'number' && Number.isFinite(value) && value > 0 ? value : 0;
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
  };
}

export function readInstallDir(d: Detail): InstallDirEvent {
  const freeBytes = positive(d.freeBytes);
  const needBytes = positive(d.needBytes);
  const error = text(d.error);
  return {
    type: 'installDir',
    path: text(d.path),
    freeBytes,
    needBytes,
    error,
    lowSpace: freeBytes < needBytes,
    canInstall: error === '',
  };
}

export function readProgress(d: Detail): ProgressEvent {
  return {
    type: 'progress',
    title: text(d.title),
    details: text(d.details),
    percent: clampPercent(d.percent),
    indeterminate: d.indeterminate === true,
  };
}

export function readError(d: Detail): ErrorEvent {
  const title = text(d.title);
  return {
    type: 'error',
    title: title.trim() === '' ? DEFAULT_ERROR_TITLE : title,
    message: text(d.message),
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
    case 'launching':
      return { type: 'launching' };
    default:
      return null;
  }
}
