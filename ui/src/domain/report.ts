import type { ErrorEvent } from '../protocol/events';

/** The launcher puts at most this many bytes of text on the clipboard. */
export const COPY_MAX_BYTES = 4096;

const encoder = new TextEncoder();

function utf8Length(text: string): number {
  return encoder.encode(text).length;
}

/** Cuts to whole characters within a UTF-8 byte budget, so the launcher never splits one. */
export function cutUtf8(text: string, maxBytes: number): string {
  let bytes = 0;
  let end = 0;
  for (const char of text) {
    bytes += utf8Length(char);
    if (bytes > maxBytes) return text.slice(0, end);
    end += char.length;
  }
  return text;
}

export function errorCodeLine(code: number): string {
  return `Код ошибки: ${code}`;
}

/**
 * The error as the player pastes it to support. A very long message gives way
 * first: the code and the version at the end are what support asks for.
 */
export function errorReport(error: ErrorEvent, version: string): string {
  const tail: string[] = [];
  if (error.code !== undefined) tail.push(errorCodeLine(error.code));
  if (version !== '') tail.push(`Версия лаунчера: ${version}`);
  const frame = [error.title, '', ...tail].join('\n');
  const message = cutUtf8(error.message, Math.max(0, COPY_MAX_BYTES - utf8Length(frame)));
  return cutUtf8([error.title, message, ...tail].join('\n'), COPY_MAX_BYTES);
}
