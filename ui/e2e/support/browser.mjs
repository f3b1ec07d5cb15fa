// Debian's Chromium driven headless through playwright-core; the window the
// launcher opens is 1280x591 CSS pixels.
import { mkdirSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const VIEWPORT = { width: 1280, height: 591 };

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM_PATH || '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--font-render-hinting=none',
    ],
  });
}

export async function openPage(browser) {
  const context = await browser.newContext({ viewport: VIEWPORT, deviceScaleFactor: 1, locale: 'ru-RU' });
  const page = await context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (msg) => {
    if (msg.type() === 'error' || msg.type() === 'warning') problems.push(`console ${msg.type()}: ${msg.text()}`);
  });
  return { context, page, problems };
}

/** Checked-in screenshots are rewritten only on request; otherwise they go to a temp folder. */
export function screenshotDir() {
  if (process.env.UPDATE_SCREENSHOTS === '1') {
    const here = dirname(fileURLToPath(import.meta.url));
    const dir = resolve(here, '../../../docs/screenshots');
    mkdirSync(dir, { recursive: true });
    return dir;
  }
  return mkdtempSync(join(tmpdir(), 'korval-ui-shots-'));
}

/** A still frame: fonts loaded, entrance animation finished, looping ones parked. */
export async function shoot(page, dir, name) {
  await page.evaluate(() => document.fonts.ready);
  const path = join(dir, `${name}.png`);
  await page.screenshot({ path, animations: 'disabled', caret: 'hide' });
  return path;
}
