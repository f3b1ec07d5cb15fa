import type { AppState } from '../../app/state';
import { formatRemaining, formatSpeed } from '../../domain/format';
import { progressDetails, secondsLeft, trackRate, type RateTrack } from '../../domain/transfer';
import type { ProgressEvent } from '../../protocol/events';
import { h, setText } from '../dom';
import { eyebrow } from './parts';
import { createSummary } from './summary';
import type { View } from './view';

export function createProgressView(): View {
  const title = h('h1', { class: 'stage__title', id: 'progress-title', 'data-testid': 'progress-title' });
  const details = h('p', { class: 'stage__lead', 'data-testid': 'progress-details' });
  const percent = h('span', { class: 'progress__percent', 'data-testid': 'progress-percent' });
  const fill = h('span', { class: 'bar__fill' });
  const bar = h(
    'div',
    { class: 'bar', role: 'progressbar', 'aria-labelledby': 'progress-title', 'aria-valuemin': '0', 'aria-valuemax': '100' },
    fill,
  );
  const speed = h('span', { class: 'progress__speed', 'data-testid': 'progress-speed' });
  const remaining = h('span', { class: 'progress__remaining', 'data-testid': 'progress-remaining' });
  const stats = h('div', { class: 'progress__stats', hidden: true }, speed, remaining);
  const note = h(
    'p',
    { class: 'stage__note', 'data-testid': 'progress-note' },
    'Не закрывайте лаунчер: загрузка продолжится с того же места.',
  );
  // The rate is averaged over the reports of this view, each report counted once.
  let track: RateTrack | null = null;
  let counted: ProgressEvent | null = null;

  const summary = createSummary();
  const el = h(
    'section',
    { class: 'stage stage--progress', 'data-stage': 'progress', 'aria-labelledby': 'progress-title', 'aria-live': 'polite' },
    eyebrow('Подготовка игры'),
    h('div', { class: 'progress__head' }, title, percent),
    details,
    bar,
    stats,
    summary.el,
    note,
  );

  return {
    el,
    update(state: AppState) {
      summary.update(state);
      const p = state.progress;
      setText(title, p.title || 'Подготовка');
      if (p !== counted) {
        counted = p;
        track = trackRate(track, p);
      }
      setText(details, progressDetails(p));
      // An older launcher sends no phase: its details already say it all.
      stats.hidden = p.phase === undefined;
      const downloading = p.phase === 'download' && (p.bytesPerSecond ?? 0) > 0;
      setText(speed, downloading ? formatSpeed(p.bytesPerSecond ?? 0) : '');
      const left = secondsLeft(track, p);
      setText(remaining, left === null ? '' : `Осталось ${formatRemaining(left)}`);
      // Nothing is downloaded while files are only checked, so there is nothing to resume yet.
      note.hidden = p.phase === 'check' || p.phase === 'manifest';
      const whole = Math.floor(p.percent);
      el.classList.toggle('is-indeterminate', p.indeterminate);
      setText(percent, p.indeterminate ? '' : `${whole}%`);
      fill.style.width = p.indeterminate ? '' : `${p.percent}%`;
      if (p.indeterminate) bar.removeAttribute('aria-valuenow');
      else bar.setAttribute('aria-valuenow', String(whole));
    },
    focus() {
      // Nothing to press here; keep focus where the player left it.
    },
  };
}
