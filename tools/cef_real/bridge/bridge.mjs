// The Linux side of the real-browser runtime: each connection from the
// runtime library is one browser, shown as a page of Debian's Chromium
// through playwright-core. The page's requests to "http://ui/" are answered by
// the launcher's scheme handlers, its navigations are put to the launcher
// first, its console lines go to the launcher, and the launcher's scripts run
// in its main frame in the order they came.
import { EventEmitter } from 'node:events';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
import { CHROMIUM_ARGS } from '../../../ui/e2e/support/chromium_args.mjs';
import { encodeFrame, FrameReader } from './frames.mjs';

export const DEFAULT_PORT = 47472;
const PAGE_ORIGIN = 'http://ui/';

// Chromium's console types as the runtime's log severities.
const SEVERITY = { debug: 1, log: 2, info: 2, warning: 3, error: 4, assert: 4, trace: 2 };

const stripHash = (url) => url.split('#')[0];

/** The launcher's event script, as the page receives it: its JSON detail, or null. */
export function eventOfScript(code) {
  const head = "window.dispatchEvent(new CustomEvent('launcher',{detail:";
  const tail = '}));';
  if (!code.startsWith(head) || !code.endsWith(tail)) return null;
  try {
    return JSON.parse(code.slice(head.length, code.length - tail.length));
  } catch {
    return null;
  }
}

/**
 * One browser of the runtime: the connection, the page, and a record of
 * what crossed (navigations, page requests, the launcher's events); console
 * lines, scripts and right clicks are announced as events of their own.
 */
export class RemoteBrowser extends EventEmitter {
  constructor(bridge, socket) {
    super();
    this.bridge = bridge;
    this.socket = socket;
    this.page = null;
    this.navigations = [];
    this.requests = [];
    this.events = [];
    this.closeReason = null;
    /** Called with the page before a close asked by the launcher goes ahead. */
    this.beforeClose = null;
    this.pending = new Map();
    this.nextId = 1;
    this.scriptChain = Promise.resolve();
    this.opened = new Promise((resolve) => (this.resolveOpened = resolve));
    this.closed = new Promise((resolve) => (this.resolveClosed = resolve));
    this.ended = new Promise((resolve) => socket.once('close', resolve));
    this.ended.then(() => this.shutDown());

    const reader = new FrameReader();
    socket.on('data', (chunk) => {
      let frames;
      try {
        frames = reader.push(chunk);
      } catch (error) {
        this.bridge.log(`bridge: ${error.message}; dropping the connection`);
        socket.destroy();
        return;
      }
      for (const frame of frames) this.onFrame(frame);
    });
    socket.on('error', () => {});
  }

  send(fields, payload) {
    if (!this.socket.destroyed) this.socket.write(encodeFrame(fields, payload));
  }

  /** Sends a question to the runtime and resolves with its answer frame. */
  ask(fields) {
    const id = String(this.nextId++);
    return new Promise((resolve) => {
      this.pending.set(id, resolve);
      this.send([fields[0], id, ...fields.slice(1)]);
    });
  }

  onFrame({ fields, payload }) {
    const [kind, ...rest] = fields;
    switch (kind) {
      case 'open':
        this.open(rest).catch((error) => {
          this.bridge.log(`bridge: the page did not open: ${error.message}`);
          this.send(['closed']);
        });
        break;
      case 'script':
        this.runScript(payload.toString('utf8'), rest[0] ?? '', Number(rest[1] ?? 0));
        break;
      case 'close':
        this.closeByRuntime(rest[0] !== '0');
        break;
      case 'browse':
      case 'answer': {
        const resolve = this.pending.get(rest[0]);
        this.pending.delete(rest[0]);
        resolve?.({ fields: rest.slice(1), payload });
        break;
      }
      default:
        this.bridge.log(`bridge: unknown frame ${kind}`);
    }
  }

  async open([url, x, y, width, height, dpi]) {
    const size = { width: Number(width) || 1280, height: Number(height) || 591 };
    const scale = (Number(dpi) || 96) / 96;
    const at = { x: Number(x) || 0, y: Number(y) || 0 };
    const { context, page, release } = await this.bridge.newWindow(size, scale, at);
    this.context = context;
    this.page = page;
    this.releaseWindow = release;
    await context.route('**/*', (route, request) => this.onRoute(route, request));
    page.on('console', (msg) => this.onConsole(msg));
    page.on('pageerror', (error) => this.onPageError(error));
    page.once('close', () => this.onPageClosed());
    // A right click asks the launcher's context-menu handler, as the runtime
    // does before it shows a menu. Chromium's own menu never opens: the
    // bridge could not show it afterwards, and the launcher empties it
    // anyway unless it runs with --dev.
    await page.exposeBinding('__korvalContextMenu', async () => {
      const answer = await this.ask(['menu']);
      // The items the launcher left of three.
      this.emit('menu', answer ? Number(answer.fields[0]) : 0);
    });
    await page.addInitScript(() =>
      addEventListener(
        'contextmenu',
        (event) => {
          event.preventDefault();
          window.__korvalContextMenu();
        },
        true,
      ),
    );
    this.startUrl = url;
    this.resolveOpened(page);
    this.emit('open', page);
    // A navigation that the launcher cancels, or one that fails, leaves the
    // page where it was: that is no fault of the bridge.
    await page.goto(url, { waitUntil: 'commit' }).catch(() => {});
  }

  async onRoute(route, request) {
    let url = request.url();
    if (request.isNavigationRequest()) {
      // The network never sees the fragment; the launcher does.
      if (this.startUrl && stripHash(this.startUrl) === url) {
        url = this.startUrl;
        this.startUrl = null;
      }
      const answer = await this.ask(['navigate', url]);
      if (!answer) return route.abort('aborted').catch(() => {});
      const cancel = answer.fields[0] === '1';
      this.navigations.push({ url, cancel });
      this.emit('navigate', { url, cancel });
      if (cancel) return route.abort('aborted').catch(() => {});
    }
    if (!request.url().startsWith(PAGE_ORIGIN)) return route.continue().catch(() => {});
    const answer = await this.ask(['request', request.url()]);
    if (!answer) return route.abort('aborted').catch(() => {});
    const { fields, payload } = answer;
    const status = Number(fields[0]);
    const record = { url: request.url(), status, mime: fields[1] ?? '', bytes: payload.length };
    this.requests.push(record);
    this.emit('request', record);
    if (!(status > 0)) return route.abort('aborted').catch(() => {});
    const headers = record.mime ? { 'content-type': record.mime } : {};
    return route.fulfill({ status, headers, body: payload }).catch(() => {});
  }

  onConsole(msg) {
    const { url, lineNumber } = msg.location();
    // Chromium counts lines from 0 here, the runtime from 1.
    this.consoleLine({ text: msg.text(), level: SEVERITY[msg.type()] ?? 2, source: url ?? '', line: (lineNumber ?? 0) + 1 });
  }

  /** A console line of the page, for the launcher's on_console_message and this side's listeners. */
  consoleLine(line) {
    this.emit('console', line);
    this.send(['console', String(line.level), line.source, String(line.line)], line.text);
  }

  onPageError(error) {
    // The runtime reports an uncaught exception as a console line of its own.
    const where = /\(?((?:https?|korval):\/\/[^\s)]+):(\d+):\d+\)?/.exec(error.stack ?? '');
    this.consoleLine({ text: `Uncaught ${error.name}: ${error.message}`, level: 4, source: where?.[1] ?? '', line: Number(where?.[2] ?? 0) });
  }

  runScript(code, url, line) {
    const script = { code, url, line, event: eventOfScript(code) };
    if (script.event) this.events.push(script.event);
    this.scriptChain = this.scriptChain.then(async () => {
      const page = await this.opened;
      if (page.isClosed()) return;
      try {
        await page.mainFrame().evaluate(
          ([source, name]) => {
            (0, eval)(name ? `${source}\n//# sourceURL=${name}` : source);
          },
          [code, url],
        );
      } catch (error) {
        if (page.isClosed()) return;
        this.consoleLine({ text: `Uncaught ${String(error.message).split('\n')[0]}`, level: 4, source: url, line });
      }
    });
    this.emit('script', script);
  }

  async closeByRuntime(force) {
    if (this.closeReason) return;
    this.closeReason = 'runtime';
    const page = await this.opened;
    await this.scriptChain;
    if (this.beforeClose) await Promise.resolve(this.beforeClose(page)).catch((error) => this.bridge.log(`bridge: ${error.message}`));
    await page.close({ runBeforeUnload: !force }).catch(() => {});
  }

  onPageClosed() {
    if (!this.closeReason) this.closeReason = 'page';
    this.send(['closed']);
    this.resolveClosed(this.closeReason);
    this.emit('closed', this.closeReason);
    this.shutDown();
  }

  /** Closes the page as a user closes its window: the browser goes away by itself. */
  async closeAsUser() {
    const page = await this.opened;
    await page.close().catch(() => {});
  }

  async shutDown() {
    if (this.shutting) return;
    this.shutting = true;
    // Questions the runtime will never answer now.
    for (const resolve of this.pending.values()) resolve(null);
    this.pending.clear();
    await this.page?.close().catch(() => {});
    await this.releaseWindow?.().catch(() => {});
    if (!this.socket.destroyed) this.socket.end();
  }

  /** Resolves with the next launcher event of the type (or one that came since `since`). */
  nextEvent(type, { since = 0, timeout = 30000 } = {}) {
    const earlier = this.events.slice(since).find((e) => e.type === type);
    if (earlier) return Promise.resolve(earlier);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.off('script', listener);
        reject(new Error(`no "${type}" event from the launcher within ${timeout} ms`));
      }, timeout);
      const listener = (script) => {
        if (script.event?.type !== type) return;
        clearTimeout(timer);
        this.off('script', listener);
        resolve(script.event);
      };
      this.on('script', listener);
    });
  }
}

/**
 * Listens for the runtime library. Headless: one Chromium for all browsers,
 * each in a fresh context. Visible: a window of its own for each browser, of
 * the launcher's client size and placed over the launcher's window.
 */
export async function startBridge({ port = DEFAULT_PORT, visible = false, log = (line) => console.error(line) } = {}) {
  const executablePath = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
  const profiles = mkdtempSync(join(tmpdir(), 'korval-bridge-'));
  const shared = visible ? null : await chromium.launch({ executablePath, headless: true, chromiumSandbox: false, args: CHROMIUM_ARGS });
  const bridge = new EventEmitter();
  bridge.log = log;
  bridge.browsers = [];

  bridge.newWindow = async (size, scale, at) => {
    if (shared) {
      const context = await shared.newContext({ viewport: size, deviceScaleFactor: scale, locale: 'ru-RU' });
      const page = await context.newPage();
      return { context, page, release: () => context.close() };
    }
    // Chromium's own bars (the sandbox warning, the offer to translate a
    // Russian page) would cover the top of the launcher's page.
    const profile = mkdtempSync(join(profiles, 'window-'));
    mkdirSync(join(profile, 'Default'));
    writeFileSync(join(profile, 'Default', 'Preferences'), JSON.stringify({ translate: { enabled: false } }));
    const context = await chromium.launchPersistentContext(profile, {
      executablePath,
      headless: false,
      chromiumSandbox: false,
      viewport: null,
      locale: 'ru-RU',
      args: [
        ...CHROMIUM_ARGS,
        '--test-type',
        '--app=data:text/html,',
        `--window-position=${at.x},${at.y}`,
        `--window-size=${size.width},${size.height}`,
        `--force-device-scale-factor=${scale}`,
      ],
    });
    const page = context.pages()[0] ?? (await context.newPage());
    await fitWindow(context, page, size, at).catch((error) => log(`bridge: window not fitted: ${error.message}`));
    return { context, page, release: () => context.close() };
  };

  const server = net.createServer((socket) => {
    socket.setNoDelay(true);
    const remote = new RemoteBrowser(bridge, socket);
    bridge.browsers.push(remote);
    bridge.emit('browser', remote);
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', resolve);
  });

  /** Resolves with the next browser the runtime creates. */
  bridge.nextBrowser = (timeout = 60000) =>
    new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no browser from the runtime within ${timeout} ms`)), timeout);
      bridge.once('browser', (remote) => {
        clearTimeout(timer);
        resolve(remote);
      });
    });

  bridge.port = server.address().port;
  bridge.close = async () => {
    await new Promise((resolve) => server.close(resolve));
    for (const remote of bridge.browsers) await remote.shutDown();
    await shared?.close();
    rmSync(profiles, { recursive: true, force: true });
  };
  return bridge;
}

// The window's inner size is the launcher's client size: the window manager's
// frame, if any, goes around it.
async function fitWindow(context, page, size, at) {
  const session = await context.newCDPSession(page);
  const { windowId } = await session.send('Browser.getWindowForTarget');
  const inner = await page.evaluate(() => ({ width: window.innerWidth, height: window.innerHeight }));
  const { bounds } = await session.send('Browser.getWindowBounds', { windowId });
  await session.send('Browser.setWindowBounds', {
    windowId,
    bounds: {
      left: at.x,
      top: at.y,
      width: bounds.width + size.width - inner.width,
      height: bounds.height + size.height - inner.height,
    },
  });
  await session.detach();
}
