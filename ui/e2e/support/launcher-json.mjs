// Writes launcher events byte for byte as the launcher does: members in fixed
// order, no whitespace, strings quoted with \uXXXX for control bytes only.
export function jsonQuote(text) {
  let out = '"';
  for (const ch of text) {
    const code = ch.codePointAt(0);
    if (ch === '"') out += '\\"';
    else if (ch === '\\') out += '\\\\';
    else if (code < 32) out += `\\u${code.toString(16).padStart(4, '0')}`;
    else out += ch;
  }
  return out + '"';
}

export const NEED_BYTES = 10000000000;

export const events = {
  init: ({ nick = '', version = '0.1.4', engineering = false, installed = false, main = '127.0.0.1:7777', test = '127.0.0.1:7778' } = {}) =>
    `{"type":"init","nick":${jsonQuote(nick)},"version":${jsonQuote(version)},"engineering":${engineering},"installed":${installed},` +
    `"servers":[{"id":"main","name":"Основной сервер","address":${jsonQuote(main)}},{"id":"test","name":"Тестовый сервер","address":${jsonQuote(test)}}]}`,
  installDir: ({ path, freeBytes, error = '' }) =>
    `{"type":"installDir","path":${jsonQuote(path)},"freeBytes":${freeBytes},"needBytes":${NEED_BYTES},"error":${jsonQuote(error)}}`,
  progress: ({ title, details, percent, indeterminate = false }) =>
    `{"type":"progress","title":${jsonQuote(title)},"details":${jsonQuote(details)},"percent":${percent},"indeterminate":${indeterminate}}`,
  error: ({ title, message }) => `{"type":"error","title":${jsonQuote(title)},"message":${jsonQuote(message)}}`,
  launching: () => '{"type":"launching"}',
};

/** The script the launcher runs in the page's main frame for one event. */
export function eventScript(json) {
  return `window.dispatchEvent(new CustomEvent('launcher',{detail:${json}}));`;
}
