import type { Sender } from '../protocol/bridge';
import { readLauncherEvent } from '../protocol/events';
import type { ServerId, SocialName } from '../protocol/messages';
import { isValidNick } from '../domain/nick';
import { errorReport } from '../domain/report';
import {
  applyEvent,
  changeDirSent,
  closeQuestionAsked,
  dialogClosed,
  hasGameTools,
  installSent,
  isDownloading,
  jobCanStop,
  nickSent,
  resumeSent,
  retrySent,
  stopAsked,
  verifySent,
  type AppState,
} from './state';
import type { Store } from './store';

/** Everything the views may ask for; each call sends at most one message and moves the state. */
export interface Controller {
  onLauncherEvent(detail: Record<string, unknown>): void;
  submitNick(nick: string, serverId: ServerId): boolean;
  pickDir(): void;
  install(): void;
  retry(): void;
  /** The player wants to close; a running download is asked about first. */
  exit(): void;
  /** The answer to the close question: close after all. */
  confirmExit(): void;
  closeDialog(): void;
  link(name: SocialName): void;
  menu(): void;
  pause(): void;
  resume(): void;
  cancel(): void;
  /** Puts the shown error on the clipboard; false when there is none to copy. */
  copyError(): boolean;
  openLog(): void;
  openDir(): void;
  verify(): void;
  changeDir(nick: string, serverId: ServerId): boolean;
}

export function createController(store: Store<AppState>, send: Sender): Controller {
  const update = (next: (state: AppState) => AppState) => store.set(next(store.get()));
  // The launcher drops a nick message with an invalid nick without a word, so none is ever sent.
  const canSendNick = (state: AppState, nick: string) => state.stage === 'nick' && !state.waiting && isValidNick(nick);

  return {
    onLauncherEvent(detail) {
      const event = readLauncherEvent(detail);
      if (event) update((state) => applyEvent(state, event));
    },
    submitNick(nick, serverId) {
      if (!canSendNick(store.get(), nick)) return false;
      send({ type: 'nick', serverId, nick });
      update((state) => nickSent(state, { nick, serverId }));
      return true;
    },
    pickDir() {
      send({ type: 'pickDir' });
    },
    install() {
      const { stage, waiting, installDir } = store.get();
      if (stage !== 'install' || waiting || !installDir?.canInstall) return;
      send({ type: 'install' });
      update(installSent);
    },
    retry() {
      if (store.get().stage !== 'error') return;
      send({ type: 'retry' });
      update(retrySent);
    },
    exit() {
      if (isDownloading(store.get())) update(closeQuestionAsked);
      else send({ type: 'exit' });
    },
    confirmExit() {
      send({ type: 'exit' });
      update(dialogClosed);
    },
    closeDialog() {
      update(dialogClosed);
    },
    link(name) {
      send({ type: 'link', name });
    },
    menu() {
      if (store.get().init?.engineering) send({ type: 'menu' });
    },
    pause() {
      const state = store.get();
      if (!jobCanStop(state) || state.stopAsked) return;
      send({ type: 'pause' });
      update((s) => stopAsked(s, 'pause'));
    },
    resume() {
      const state = store.get();
      if (state.stage !== 'paused' || state.stopAsked) return;
      send({ type: 'resume' });
      update(resumeSent);
    },
    cancel() {
      const state = store.get();
      const stoppable = jobCanStop(state) || state.stage === 'paused';
      if (!stoppable || state.stopAsked === 'cancel') return;
      send({ type: 'cancel' });
      update((s) => stopAsked(s, 'cancel'));
    },
    copyError() {
      const { stage, error, init } = store.get();
      if (stage !== 'error' || !error) return false;
      send({ type: 'copy', text: errorReport(error, init?.version ?? '') });
      return true;
    },
    openLog() {
      send({ type: 'openLog' });
    },
    openDir() {
      if (hasGameTools(store.get())) send({ type: 'openDir' });
    },
    verify() {
      const state = store.get();
      if (state.stage !== 'nick' || state.waiting || !hasGameTools(state)) return;
      send({ type: 'verify' });
      update(verifySent);
    },
    changeDir(nick, serverId) {
      const state = store.get();
      if (!hasGameTools(state) || !canSendNick(state, nick)) return false;
      send({ type: 'changeDir', serverId, nick });
      update((s) => changeDirSent(s, { nick, serverId }));
      return true;
    },
  };
}
