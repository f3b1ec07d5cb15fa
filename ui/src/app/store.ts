/** A single value with change notifications; enough for one page. */
export interface Store<T> {
  get(): T;
  set(next: T): void;
  subscribe(listener: (value: T, previous: T) => void): () => void;
}

export function createStore<T>(initial: T): Store<T> {
  let value = initial;
  const listeners = new Set<(value: T, previous: T) => void>();
  return {
    get: () => value,
    set(next) {
      if (next === value) return;
      const previous = value;
      value = next;
      for (const listener of listeners) listener(value, previous);
    },
    subscribe(listener) {
      listeners.add(listener);
      return () => listeners.delete(listener);
    },
  };
}
