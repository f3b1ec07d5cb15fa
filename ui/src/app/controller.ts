import type { Sender } from '../protocol/bridge';
import { readLauncherEvent } from '../protocol/events';
import type { ServerId, SocialName } from '../protocol/messages';
import { isValidNick } from '../domain/nick';
import { applyEvent, installSent, nickSent, retrySent, type AppState } from './state';
import type { Store } from './store';

/** Everything the views may ask for; each call sends one message and moves the state. */
export interface Controller {
  onLauncherEvent(detail: Record<string, unknown>): void;
  submitNick(nick: string, serverId: ServerId): boolean;
  pickDir(): void;
  install(): void;
  retry(): void;
  exit(): void;
  link(name: SocialName): void;
  menu(): void;
}

export function createController(store: Store<AppState>, send: Sender): Controller {
  const update = (next: (state: AppState) => AppState) => store.set(next(store.get()));

  return {
    onLauncherEvent(detail) {
      const event = readLauncherEvent(detail);
      if (event) update((state) => applyEvent(state, event));
    },
    submitNick(nick, serverId) {
      const state = store.get();
      // The launcher drops an invalid nick without a word, so it is never sent.
      if (state.stage !== 'nick' || state.waiting || !isValidNick(nick)) return false;
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
      send({ type: 'exit' });
    },
    link(name) {
      send({ type: 'link', name });
    },
    menu() {
      if (store.get().init?.engineering) send({ type: 'menu' });
    },
  };
}
