import { LAUNCHER_EVENT_NAME, PAGE_MESSAGE_PREFIX, type PageMessage } from './messages';

type LogFn = (line: string) => void;

/**
 * The console is the only road to the launcher: it reads lines that start with
 * the prefix out of the browser's console callback.
 */
export function createSender(log: LogFn = (line) => console.log(line)) {
  return (message: PageMessage): void => log(PAGE_MESSAGE_PREFIX + JSON.stringify(message));
}

export type Sender = ReturnType<typeof createSender>;

/**
 * Subscribes to the launcher's events. The launcher runs a script that
 * dispatches a CustomEvent whose detail is the event object; anything else
 * dispatched under that name (or a detail that is not an object) is dropped.
 * Returns the function that unsubscribes.
 */
export function listenLauncher(
  target: EventTarget,
  onEvent: (detail: Record<string, unknown>) => void,
  onFault: (error: unknown) => void = (error) => console.error('launcher event failed', error),
): () => void {
  const listener = (event: Event) => {
    const detail = (event as CustomEvent<unknown>).detail;
    if (typeof detail !== 'object' || detail === null || Array.isArray(detail)) return;
    // A fault in one view must not stop the page from hearing later events.
    try {
      onEvent(detail as Record<string, unknown>);
    } catch (error) {
      onFault(error);
    }
  };
  target.addEventListener(LAUNCHER_EVENT_NAME, listener);
  return () => target.removeEventListener(LAUNCHER_EVENT_NAME, listener);
}
