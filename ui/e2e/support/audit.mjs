// Accessibility checks the walk runs on every screen: axe-core's WCAG 2 A/AA
// rules, and a measured contrast check of all normal-size text. axe gives up
// on text over gradients, translucent panels and art ("needs review"), which
// is exactly where this page's small print sits, so the contrast is measured
// on the rendered pixels instead.
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { decodePng } from './png.mjs';

const require = createRequire(import.meta.url);
const axeSource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

/** axe-core's WCAG 2.0/2.1 A and AA violations, as "rule: target" lines. */
export async function axeViolations(page) {
  const loaded = await page.evaluate(() => typeof window.axe === 'object');
  if (!loaded) await page.evaluate((source) => (0, eval)(source), axeSource);
  const violations = await page.evaluate(async () => {
    const result = await window.axe.run(document, { runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] } });
    return result.violations.map((v) => ({ id: v.id, targets: v.nodes.map((n) => n.target.join(' ')) }));
  });
  return violations.flatMap((v) => v.targets.map((t) => `${v.id}: ${t}`));
}

export const MIN_CONTRAST = 4.5;

// Hides every glyph and nothing else, so the screenshot shows what lies behind
// the text; animations and transitions jump to where they end.
const HIDE_TEXT = `*, *::before, *::after, ::placeholder {
  color: transparent !important; -webkit-text-fill-color: transparent !important;
  text-shadow: none !important; caret-color: transparent !important;
  animation: none !important; transition: none !important; }`;

const sessions = new WeakMap();

/** A plain capture straight from the browser: half the time of a page screenshot, and only pixels are wanted. */
async function capture(page) {
  let cdp = sessions.get(page);
  if (!cdp) {
    cdp = await page.context().newCDPSession(page);
    sessions.set(page, cdp);
  }
  const { data } = await cdp.send('Page.captureScreenshot', { format: 'png', optimizeForSpeed: true });
  return decodePng(Buffer.from(data, 'base64'));
}

/**
 * The visible boxes of normal-size text (below WCAG's "large" sizes), each
 * with its text colour. Controls that cannot be used are left out, as WCAG
 * leaves them out. Boxes are clipped by the ancestors that clip, so text cut
 * off by an ellipsis is measured only where it shows.
 */
function textBoxes() {
  const parse = (css) => {
    const m = css.match(/rgba?\(([^)]+)\)/);
    if (!m) return null;
    const [r, g, b, a = '1'] = m[1].split(/[\s,/]+/).filter(Boolean);
    return [Number(r), Number(g), Number(b), Number(a)];
  };
  const label = (el) => {
    const id = el.closest('[data-testid]')?.dataset.testid;
    const cls = el.className && typeof el.className === 'string' ? `.${el.className.trim().split(/\s+/)[0]}` : el.tagName.toLowerCase();
    return id && !el.matches('[data-testid]') ? `${id} ${cls}` : el.dataset.testid || cls;
  };
  const boxes = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const text = node.textContent.trim();
    const el = node.parentElement;
    if (!text || !el || !el.checkVisibility({ opacityProperty: true, visibilityProperty: true })) continue;
    if (el.closest('[disabled], [aria-disabled="true"], [inert]')) continue;
    const style = getComputedStyle(el);
    const colour = parse(style.color);
    const size = parseFloat(style.fontSize);
    const bold = Number(style.fontWeight) >= 700;
    if (!colour || colour[3] === 0) continue;
    if (size >= 24 || (bold && size >= 18.66)) continue;
    const range = document.createRange();
    range.selectNodeContents(node);
    for (const rect of range.getClientRects()) {
      let [left, top, right, bottom] = [rect.left, rect.top, rect.right, rect.bottom];
      for (let a = el; a && a !== document.documentElement; a = a.parentElement) {
        const s = getComputedStyle(a);
        if (s.overflowX === 'visible' && s.overflowY === 'visible') continue;
        const r = a.getBoundingClientRect();
        left = Math.max(left, r.left + a.clientLeft);
        top = Math.max(top, r.top + a.clientTop);
        right = Math.min(right, r.left + a.clientLeft + a.clientWidth);
        bottom = Math.min(bottom, r.top + a.clientTop + a.clientHeight);
      }
      left = Math.max(0, Math.ceil(left));
      top = Math.max(0, Math.ceil(top));
      right = Math.min(innerWidth, Math.floor(right));
      bottom = Math.min(innerHeight, Math.floor(bottom));
      if (right - left < 2 || bottom - top < 2) continue;
      boxes.push({ label: label(el), text: text.slice(0, 40), colour, size, box: [left, top, right, bottom] });
    }
  }
  return boxes;
}

function luminance([r, g, b]) {
  const lin = (c) => {
    const s = c / 255;
    return s <= 0.04045 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
}

export function contrastRatio(a, b) {
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

/**
 * Measures every normal-size text against the pixels behind it: the page is
 * shot once with all text transparent, and each text box's worst pixel (the
 * one giving the lowest ratio with the text colour, laid over it when the
 * colour is translucent) sets that text's contrast.
 * @returns {Promise<Array<{label: string, text: string, ratio: number}>>} lowest first
 */
export async function measureContrast(page) {
  await page.evaluate(() => document.fonts.ready);
  const boxes = await page.evaluate(textBoxes);
  const style = await page.addStyleTag({ content: HIDE_TEXT });
  let shot;
  try {
    shot = await capture(page);
  } finally {
    await style.evaluate((el) => el.remove());
  }
  const { width, channels, data } = shot;
  const results = boxes.map(({ label, text, colour, box: [left, top, right, bottom] }) => {
    const [r, g, b, alpha] = colour;
    let ratio = Infinity;
    for (let y = top; y < bottom; y++) {
      for (let x = left; x < right; x++) {
        const at = (y * width + x) * channels;
        const bg = [data[at], data[at + 1], data[at + 2]];
        const fg = [r, g, b].map((c, i) => c * alpha + bg[i] * (1 - alpha));
        ratio = Math.min(ratio, contrastRatio(fg, bg));
      }
    }
    return { label, text, ratio: Math.round(ratio * 100) / 100 };
  });
  return results.sort((a, b) => a.ratio - b.ratio);
}

/** The texts below the minimum, as readable lines for an assertion message. */
export function lowContrast(results) {
  return results.filter((r) => r.ratio < MIN_CONTRAST).map((r) => `${r.label} "${r.text}": ${r.ratio}:1`);
}
