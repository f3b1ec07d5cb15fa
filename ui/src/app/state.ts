import type { ErrorEvent, InitEvent, InstallDirEvent, LauncherEvent, ProgressEvent } from '../protocol/events';
import type { ServerId } from '../protocol/messages';

export type Stage = 'connecting' | 'nick' | 'install' | 'progress' | 'error' | 'launching';

export interface AppState {
  stage: Stage;
  init: InitEvent | null;
  installDir: InstallDirEvent | null;
  progress: ProgressEvent;
  error: ErrorEvent | null;
  /** The page has asked the launcher for something and waits for its answer. */
  waiting: boolean;
  /** The nick and server last sent to the launcher. */
  player: Player | null;
}

export interface Player {
  nick: string;
  serverId: ServerId;
}

/** Shown between a request and the launcher's first progress report. */
export function placeholderProgress(title: string): ProgressEvent {
  return { type: 'progress', title, details: 'Ожидание ответа лаунчера…', percent: 0, indeterminate: true };
}

export const initialState: AppState = {
  stage: 'connecting',
  init: null,
  installDir: null,
  progress: placeholderProgress('Подготовка'),
  error: null,
  waiting: false,
  player: null,
};

/** Stages in which the player is still choosing, before any job runs. */
const CHOOSING: readonly Stage[] = ['connecting', 'nick', 'install'];

export function applyEvent(state: AppState, event: LauncherEvent): AppState {
  switch (event.type) {
    case 'init':
      return { ...state, init: event, stage: state.stage === 'connecting' ? 'nick' : state.stage };
    case 'installDir':
      // The folder answer matters only while the player is choosing; a late
      // one must not pull a running download back to the folder screen.
      return {
        ...state,
        installDir: event,
        stage: CHOOSING.includes(state.stage) ? 'install' : state.stage,
        waiting: CHOOSING.includes(state.stage) ? false : state.waiting,
      };
    case 'progress':
      // Once the game is starting, a stray report must not hide that.
      if (state.stage === 'launching') return state;
      return { ...state, progress: event, stage: 'progress', waiting: false };
    case 'error':
      return { ...state, error: event, stage: 'error', waiting: false };
    case 'launching':
      return { ...state, stage: 'launching', waiting: false };
  }
}

/** The player sent a valid nick: an installed game starts at once, otherwise the folder proposal follows. */
export function nickSent(state: AppState, player: Player): AppState {
  if (state.init?.installed) {
    return { ...state, player, stage: 'progress', progress: placeholderProgress('Подготовка к запуску'), waiting: true };
  }
  return { ...state, player, waiting: true };
}

export function installSent(state: AppState): AppState {
  return { ...state, waiting: true };
}

export function retrySent(state: AppState): AppState {
  return { ...state, stage: 'progress', progress: placeholderProgress('Повторная попытка'), waiting: true };
}
