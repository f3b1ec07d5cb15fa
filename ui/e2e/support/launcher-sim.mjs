// A stand-in for the launcher: reads the page's console messages and answers
// with "launcher" events the way the launcher's message dispatcher does.
import { eventScript, events } from './launcher-json.mjs';

const PREFIX = '__launcher__:';
const GIB = 1024 ** 3;

export const DEFAULT_FOLDER = { path: 'C:\\Games\\KORVAL', freeBytes: 214.6 * GIB };

export class SimulatedLauncher {
  /**
   * @param {import('playwright-core').Page} page
   * @param {{ init?: object, folder?: {path: string, freeBytes: number, error?: string},
   *           pickedFolders?: Array<{path: string, freeBytes: number, error?: string, gamePresent?: boolean}>,
   *           installFolderCheck?: {path: string, freeBytes: number, error?: string},
   *           engineering?: object }} options
   */
  constructor(page, options = {}) {
    this.page = page;
    this.options = options;
    this.messages = [];
    this.consoleLines = [];
    this.waiters = [];
    this.nick = '';
    this.installed = options.init?.installed ?? false;
    // Events go out one after another, like scripts run in call order.
    this.queue = Promise.resolve();
    page.on('console', (msg) => this.onConsole(msg.text()));
  }

  onConsole(text) {
    if (!text.startsWith(PREFIX)) {
      this.consoleLines.push(text);
      return;
    }
    const message = JSON.parse(text.slice(PREFIX.length));
    this.messages.push(message);
    this.respond(message);
    this.waiters = this.waiters.filter((w) => !w(message));
  }

  respond(message) {
    const o = this.options;
    switch (message.type) {
      case 'ready':
        this.send(events.init(o.init));
        break;
      case 'nick':
        this.nick = message.nick;
        if (this.installed) this.startJob();
        else this.send(events.installDir(o.folder ?? DEFAULT_FOLDER));
        break;
      case 'pickDir': {
        const next = o.pickedFolders?.shift();
        if (next) this.send(events.installDir(next));
        break;
      }
      case 'install': {
        // The folder is checked again on install; a refusal comes once, then the player picks another.
        const refusal = o.installFolderCheck;
        o.installFolderCheck = undefined;
        if (refusal) this.send(events.installDir(refusal));
        else this.startJob();
        break;
      }
      case 'retry':
        if (this.nick) this.startJob();
        break;
      case 'pause':
        this.send(events.paused());
        break;
      case 'resume':
        this.startJob();
        break;
      case 'cancel':
        this.send(events.cancelled());
        break;
      case 'verify':
        this.startJob();
        break;
      case 'changeDir': {
        // The session forgets the installed game and proposes the folder it is in, as for a first install.
        this.nick = message.nick;
        this.installed = false;
        const path = o.init?.installDir || DEFAULT_FOLDER.path;
        this.send(events.installDir({ path, freeBytes: DEFAULT_FOLDER.freeBytes, gamePresent: true }));
        break;
      }
      case 'menu':
        if (o.init?.engineering) this.send(events.engineering({ installDir: o.init.installDir ?? '', ...o.engineering }));
        break;
    }
  }

  startJob() {
    this.send(
      events.progress({ title: 'Проверка обновлений...', details: 'Получение списка файлов', percent: 0, indeterminate: true }),
    );
  }

  /** Delivers one event's JSON text exactly as the launcher would. */
  send(json) {
    const script = eventScript(json);
    this.queue = this.queue.then(() => this.page.evaluate((s) => (0, eval)(s), script));
    return this.queue;
  }

  /** Messages of a type received so far. */
  sent(type) {
    return this.messages.filter((m) => m.type === type);
  }

  /** Resolves with the next message of the type (or one already received after `since`). */
  next(type, since = this.messages.length) {
    const earlier = this.messages.slice(since).find((m) => m.type === type);
    if (earlier) return Promise.resolve(earlier);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no "${type}" message from the page`)), 5000);
      this.waiters.push((m) => {
        if (m.type !== type) return false;
        clearTimeout(timer);
        resolve(m);
        return true;
      });
    });
  }

  /** Waits until queued events have run in the page. */
  settle() {
    return this.queue;
  }
}
