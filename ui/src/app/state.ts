import type { EngineeringEvent, ErrorEvent, InitEvent, InstallDirEvent, LauncherEvent, ProgressEvent } from '../protocol/events';
import type { ServerId } from '../protocol/messages';
import { formatCount } from '../domain/format';
import { trackRate, type RateTrack } from '../domain/transfer';

export type Stage = 'connecting' | 'nick' | 'install' | 'progress' | 'paused' | 'error' | 'launching';

/** A question or panel over the stages; one at a time. */
export type Dialog = { kind: 'closeQuestion' } | { kind: 'engineering'; info: EngineeringEvent };

export interface AppState {
  stage: Stage;
  init: InitEvent | null;
  installDir: InstallDirEvent | null;
  progress: ProgressEvent;
  /** The download rate over this run of the job: it starts over with every run. */
  rate: RateTrack | null;
  error: ErrorEvent | null;
  /** The page has asked the launcher for something and waits for its answer. */
  waiting: boolean;
  /** The nick and server last sent to the launcher. */
  player: Player | null;
  /** The player asked the running job to stop and the launcher has not answered yet. */
  stopAsked: 'pause' | 'cancel' | null;
  /**
   * The launcher said its job stopped. Reports the job made just before that
   * may still arrive after the answer; they are stale until the page starts
   * another run.
   */
  jobStopped: boolean;
  /** How the last job ended, told on the nick screen until the player does something else. */
  notice: string;
  dialog: Dialog | null;
  /** The player chose another folder for an installed game, so the folder screen says what becomes of the old one. */
  changingDir: boolean;
  /** The job is the player's check of an installed game, not a download for a start. */
  checking: boolean;
}

export interface Player {
  nick: string;
  serverId: ServerId;
}

/** Shown between a request and the launcher's first progress report. */
export function placeholderProgress(title: string): ProgressEvent {
  return { type: 'progress', title, details: 'Ожидание ответа лаунчера…', percent: 0, indeterminate: true };
}

export const CANCELLED_NOTICE =
  'Загрузка отменена. Скачанные файлы сохранены — в следующий раз загрузка продолжится с того же места.';

export const CHECK_CANCELLED_NOTICE = 'Проверка файлов отменена. Уже исправленные файлы сохранены.';

export function filesCheckedNotice(repaired: number): string {
  return repaired > 0
    ? `Проверка завершена: исправлено файлов — ${formatCount(repaired)}.`
    : 'Проверка завершена: все файлы в порядке.';
}

export const initialState: AppState = {
  stage: 'connecting',
  init: null,
  installDir: null,
  progress: placeholderProgress('Подготовка'),
  rate: null,
  error: null,
  waiting: false,
  player: null,
  stopAsked: null,
  jobStopped: false,
  notice: '',
  dialog: null,
  changingDir: false,
  checking: false,
};

/** Stages in which the player is still choosing, before any job runs. */
const CHOOSING: readonly Stage[] = ['connecting', 'nick', 'install'];

/** Files are checked or downloaded right now, with a launcher that can pause and cancel that. */
export function jobCanStop(state: AppState): boolean {
  const { phase } = state.progress;
  return state.stage === 'progress' && (phase === 'check' || phase === 'download') && state.init?.jobControl === true;
}

/** Closing now would cut a download short, so the player is asked first. */
export function isDownloading(state: AppState): boolean {
  return state.stage === 'progress' && state.progress.phase === 'download';
}

/** The installed game's tools (open, verify, change the folder) can be offered. */
export function hasGameTools(state: AppState): boolean {
  return state.init?.installed === true && state.init.jobControl;
}

/** The job ended one way or another, so a question about cutting it short has no subject left. */
function withoutCloseQuestion(dialog: Dialog | null): Dialog | null {
  return dialog?.kind === 'closeQuestion' ? null : dialog;
}

/** The job is over and the player is back on the nick screen, told how it ended. */
function backToNick(state: AppState, notice: string): AppState {
  return {
    ...state,
    stage: 'nick',
    notice,
    waiting: false,
    rate: null,
    stopAsked: null,
    jobStopped: true,
    dialog: withoutCloseQuestion(state.dialog),
  };
}

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
      if (state.stage === 'launching' || state.jobStopped) return state;
      return { ...state, progress: event, rate: trackRate(state.rate, event), stage: 'progress', waiting: false };
    case 'error':
      return { ...state, error: event, stage: 'error', waiting: false, stopAsked: null, dialog: withoutCloseQuestion(state.dialog) };
    case 'launching':
      return { ...state, stage: 'launching', waiting: false, stopAsked: null, dialog: withoutCloseQuestion(state.dialog) };
    case 'paused':
      if (state.stage !== 'progress') return state;
      return {
        ...state,
        stage: 'paused',
        rate: null,
        jobStopped: true,
        // A cancel sent after the pause is still to be answered.
        stopAsked: state.stopAsked === 'cancel' ? 'cancel' : null,
        dialog: withoutCloseQuestion(state.dialog),
      };
    case 'cancelled':
      return state.stage === 'progress' || state.stage === 'paused'
        ? backToNick(state, state.checking ? CHECK_CANCELLED_NOTICE : CANCELLED_NOTICE)
        : state;
    case 'filesChecked':
      return state.stage === 'progress' || state.stage === 'paused'
        ? backToNick(state, filesCheckedNotice(event.filesRepaired))
        : state;
    case 'closeQuestion':
      // The launcher knows best whether files are downloading: it asks only then.
      return { ...state, dialog: { kind: 'closeQuestion' } };
    case 'engineering':
      // An answer that comes late must not push the close question aside.
      if (state.dialog?.kind === 'closeQuestion') return state;
      return { ...state, dialog: { kind: 'engineering', info: event } };
  }
}

/** Everything a new run of the job starts from. */
function jobStarting(state: AppState, title: string): AppState {
  return {
    ...state,
    stage: 'progress',
    progress: placeholderProgress(title),
    rate: null,
    waiting: true,
    stopAsked: null,
    jobStopped: false,
    notice: '',
  };
}

/** The player sent a valid nick: an installed game starts at once, otherwise the folder proposal follows. */
export function nickSent(state: AppState, player: Player): AppState {
  if (state.init?.installed) {
    return { ...jobStarting(state, 'Подготовка к запуску'), player, changingDir: false, checking: false };
  }
  return { ...state, player, waiting: true, notice: '', changingDir: false, checking: false };
}

export function installSent(state: AppState): AppState {
  return { ...state, waiting: true, jobStopped: false };
}

export function retrySent(state: AppState): AppState {
  return jobStarting(state, 'Повторная попытка');
}

export function stopAsked(state: AppState, how: 'pause' | 'cancel'): AppState {
  return { ...state, stopAsked: how };
}

export function resumeSent(state: AppState): AppState {
  return jobStarting(state, 'Возобновление загрузки');
}

/** A check belongs to the game, not to a player, so no player is shown while it runs. */
export function verifySent(state: AppState): AppState {
  return { ...jobStarting(state, 'Проверка файлов'), player: null, checking: true };
}

/** The launcher forgets the installed game for this session and proposes a folder as for a first install. */
export function changeDirSent(state: AppState, player: Player): AppState {
  return {
    ...state,
    init: state.init && { ...state.init, installed: false },
    player,
    waiting: true,
    notice: '',
    changingDir: true,
  };
}

export function dialogClosed(state: AppState): AppState {
  return { ...state, dialog: null };
}

export function closeQuestionAsked(state: AppState): AppState {
  return { ...state, dialog: { kind: 'closeQuestion' } };
}
