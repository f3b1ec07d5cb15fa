/** Messages the page sends to the launcher. Every field is a string. */
export type ServerId = 'main' | 'test';

export type SocialName = 'vk' | 'telegram' | 'youtube' | 'discord';

export type PageMessage =
  | { type: 'ready' }
  | { type: 'nick'; serverId: ServerId; nick: string }
  | { type: 'install' }
  | { type: 'retry' }
  | { type: 'exit' }
  | { type: 'link'; name: SocialName }
  | { type: 'menu' }
  | { type: 'pickDir' }
  | { type: 'pause' }
  | { type: 'resume' }
  | { type: 'cancel' }
  | { type: 'copy'; text: string }
  | { type: 'openLog' }
  | { type: 'openDir' }
  | { type: 'verify' }
  | { type: 'changeDir'; serverId: ServerId; nick: string };

/** The launcher picks page messages out of the console by this exact prefix. */
export const PAGE_MESSAGE_PREFIX = '__launcher__:';

/** The DOM event on `window` that carries one launcher event in `detail`. */
export const LAUNCHER_EVENT_NAME = 'launcher';
