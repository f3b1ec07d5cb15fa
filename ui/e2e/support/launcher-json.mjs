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
  // installDir comes from a newer launcher, one that also takes pause, verify
  // and the rest; left undefined, init is written as an older one writes it.
  init: ({ nick = '', version = '0.1.4', engineering = false, installed = false, main = '127.0.0.1:7777', test = '127.0.0.1:7778', installDir } = {}) =>
    `{"type":"init","nick":${jsonQuote(nick)},"version":${jsonQuote(version)},"engineering":${engineering},"installed":${installed},` +
    `"servers":[{"id":"main","name":"Основной сервер","address":${jsonQuote(main)}},{"id":"test","name":"Тестовый сервер","address":${jsonQuote(test)}}]` +
    (installDir === undefined ? '}' : `,"installDir":${jsonQuote(installDir)}}`),
  // gamePresent and the progress figures come from a newer launcher; left
  // undefined, the event is written as an older one writes it.
  installDir: ({ path, freeBytes, error = '', gamePresent }) =>
    `{"type":"installDir","path":${jsonQuote(path)},"freeBytes":${freeBytes},"needBytes":${NEED_BYTES},"error":${jsonQuote(error)}` +
    (gamePresent === undefined ? '}' : `,"gamePresent":${gamePresent}}`),
  progress: ({ title, details, percent, indeterminate = false, phase, bytesDone = 0, bytesTotal = 0, bytesPerSecond = 0, filesDone = 0, filesTotal = 0 }) =>
    `{"type":"progress","title":${jsonQuote(title)},"details":${jsonQuote(details)},"percent":${percent},"indeterminate":${indeterminate}` +
    (phase === undefined
      ? '}'
      : `,"phase":${jsonQuote(phase)},"bytesDone":${bytesDone},"bytesTotal":${bytesTotal},"bytesPerSecond":${bytesPerSecond},` +
        `"filesDone":${filesDone},"filesTotal":${filesTotal}}`),
  error: ({ title, message, code }) =>
    `{"type":"error","title":${jsonQuote(title)},"message":${jsonQuote(message)}` + (code === undefined ? '}' : `,"code":${code}}`),
  launching: () => '{"type":"launching"}',
  paused: () => '{"type":"paused"}',
  cancelled: () => '{"type":"cancelled"}',
  closeQuestion: () => '{"type":"closeQuestion"}',
  filesChecked: ({ filesChecked, filesRepaired }) => `{"type":"filesChecked","filesChecked":${filesChecked},"filesRepaired":${filesRepaired}}`,
  engineering: ({ version = '0.1.4', installDir = '', contentServer = 'https://127.0.0.1:8443', logPath = 'C:\\Users\\player\\AppData\\Local\\KORVAL\\launcher.log' } = {}) =>
    `{"type":"engineering","version":${jsonQuote(version)},"installDir":${jsonQuote(installDir)},"contentServer":${jsonQuote(contentServer)},"logPath":${jsonQuote(logPath)}}`,
};

/** The script the launcher runs in the page's main frame for one event. */
export function eventScript(json) {
  return `window.dispatchEvent(new CustomEvent('launcher',{detail:${json}}));`;
}
