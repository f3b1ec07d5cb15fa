// Debian's Chromium driven headless through playwright-core; the window the
// launcher opens is 1280x591 CSS pixels.
import { mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
import { CHROMIUM_ARGS } from './chromium_args.mjs';

export const VIEWPORT = { width: 1280, height: 591 };

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM_PATH || '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: CHROMIUM_ARGS,
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

/**
 * The walk's screenshots go to a temporary folder: those in docs/screenshots
 * come from the real launcher driving this page (tests/real_browser).
 */
export function screenshotDir() {
  return mkdtempSync(join(tmpdir(), 'korval-ui-shots-'));
}

/** A still frame: fonts loaded, entrance animation finished, looping ones parked. */
export async function shoot(page, dir, name) {
  await page.evaluate(() => document.fonts.ready);
  const path = join(dir, `${name}.png`);
  await page.screenshot({ path, animations: 'disabled', caret: 'hide' });
  return path;
}
