import type { Controller } from '../../app/controller';
import { jobCanStop, type AppState } from '../../app/state';
import { formatRemaining, formatSpeed } from '../../domain/format';
import { progressDetails, secondsLeft } from '../../domain/transfer';
import { h, setText } from '../dom';
import { actionButton, eyebrow, progressMeter, stageHeading } from './parts';
import { createSummary } from './summary';
import type { View } from './view';

export function createProgressView(controller: Controller): View {
  // Only the title speaks: the figures below change four times a second.
  const title = stageHeading('progress-title', '', { 'data-testid': 'progress-title', 'aria-live': 'polite' });
  const details = h('p', { class: 'stage__lead', 'data-testid': 'progress-details' });
  const meter = progressMeter('progress-title', 'progress-percent');
  const speed = h('span', { class: 'progress__speed', 'data-testid': 'progress-speed' });
  const remaining = h('span', { class: 'progress__remaining', 'data-testid': 'progress-remaining' });
  const stats = h('div', { class: 'progress__stats', hidden: true }, speed, remaining);
  const pause = actionButton({ type: 'button', 'data-testid': 'pause' }, 'pause', 'ghost');
  pause.el.addEventListener('click', () => controller.pause());
  const cancel = actionButton({ type: 'button', 'data-testid': 'cancel' }, 'close', 'ghost');
  cancel.el.addEventListener('click', () => controller.cancel());
  const controls = h('div', { class: 'stage__actions stage__actions--compact', hidden: true }, pause.el, cancel.el);
  const note = h(
    'p',
    { class: 'stage__note', 'data-testid': 'progress-note' },
    'Не закрывайте лаунчер: загрузка продолжится с того же места.',
  );

  const summary = createSummary();
  const el = h(
    'section',
    { class: 'stage stage--progress', 'data-stage': 'progress', 'aria-labelledby': 'progress-title' },
    eyebrow('Подготовка игры'),
    h('div', { class: 'progress__head' }, title, meter.percent),
    details,
    meter.bar,
    stats,
    summary.el,
    controls,
    note,
  );

  return {
    el,
    update(state: AppState) {
      summary.update(state);
      const p = state.progress;
      setText(title, p.title || 'Подготовка');
      setText(details, progressDetails(p));
      // An older launcher sends no phase: its details already say it all.
      stats.hidden = p.phase === undefined;
      const downloading = p.phase === 'download' && (p.bytesPerSecond ?? 0) > 0;
      setText(speed, downloading ? formatSpeed(p.bytesPerSecond ?? 0) : '');
      const left = secondsLeft(state.rate, p);
      setText(remaining, left === null ? '' : `Осталось ${formatRemaining(left)}`);
      // Nothing is downloaded while files are only checked, so there is nothing to resume yet.
      note.hidden = p.phase === 'check' || p.phase === 'manifest';
      el.classList.toggle('is-indeterminate', p.indeterminate);
      meter.show(p.percent, p.indeterminate);

      const stoppable = jobCanStop(state);
      // A pressed button that vanishes with its phase would leave the keyboard nowhere.
      if (!stoppable && controls.contains(document.activeElement)) title.focus();
      controls.hidden = !stoppable;
      pause.set('Пауза', state.stopAsked === 'pause', state.stopAsked !== null);
      cancel.set('Отмена', state.stopAsked === 'cancel', state.stopAsked === 'cancel');
    },
    focus() {
      title.focus();
    },
  };
}
