import type { ServerId } from './messages';

export interface Server {
  id: ServerId;
  name: string;
  /** "a.b.c.d:port"; empty only for the page's built-in fallback. */
  address: string;
}

export const SERVER_NAME_MAX = 40;

/** Shown when the launcher names no usable server, so the player can still go on. */
export const BUILT_IN_SERVER: Readonly<Server> = Object.freeze({
  id: 'main',
  name: 'Основной сервер',
  address: '',
});

const ADDRESS = /^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}:\d{1,5}$/;

function isServerId(value: unknown): value is ServerId {
  return value === 'main' || value === 'test';
}

/** Cuts by code points so that a name never ends in half a surrogate pair. */
function cut(text: string, max: number): string {
  const chars = Array.from(text);
  return chars.length > max ? chars.slice(0, max).join('') : text;
}

function readServer(entry: unknown): Server | null {
  if (typeof entry !== 'object' || entry === null) return null;
  const { id, name, address } = entry as Record<string, unknown>;
  if (!isServerId(id) || typeof name !== 'string' || typeof address !== 'string') return null;
  const trimmedName = name.trim();
  const trimmedAddress = address.trim();
  if (trimmedName === '' || !ADDRESS.test(trimmedAddress)) return null;
  return { id, name: cut(trimmedName, SERVER_NAME_MAX), address: trimmedAddress };
}

/**
 * Keeps the usable servers in the launcher's order. A second entry with an id
 * already taken is dropped: the id is what the page sends back, so two
 * choices with one id could not be told apart.
 */
export function readServers(value: unknown): Server[] {
  const servers: Server[] = [];
  if (Array.isArray(value)) {
    for (const entry of value) {
      const server = readServer(entry);
      if (server && !servers.some((s) => s.id === server.id)) servers.push(server);
    }
  }
  return servers.length > 0 ? servers : [{ ...BUILT_IN_SERVER }];
}
