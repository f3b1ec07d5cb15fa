import type { AppState } from '../../app/state';
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

  const summary = createSummary();
  const el = h(
    'section',
    { class: 'stage stage--progress', 'data-stage': 'progress', 'aria-labelledby': 'progress-title', 'aria-live': 'polite' },
    eyebrow('Подготовка игры'),
    h('div', { class: 'progress__head' }, title, percent),
    details,
    bar,
    summary.el,
    h('p', { class: 'stage__note' }, 'Не закрывайте лаунчер: загрузка продолжится с того же места.'),
  );

  return {
    el,
    update(state: AppState) {
      summary.update(state);
      const p = state.progress;
      setText(title, p.title || 'Подготовка');
      setText(details, p.details);
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
