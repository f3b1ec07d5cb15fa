// The switches of every headless or visible Chromium the tests and the
// real-browser bridge start: no sandbox (tests run as root), no network of
// its own beyond the page's, no first-run or sync machinery, and fonts
// rendered without hinting so that screenshots match across machines.
export const CHROMIUM_ARGS = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--font-render-hinting=none',
];
