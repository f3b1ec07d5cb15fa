import type { Controller } from '../../app/controller';
import type { AppState } from '../../app/state';
import { doneSoFar } from '../../domain/transfer';
import { h, setText } from '../dom';
import { actionButton, eyebrow, progressMeter, stageHeading } from './parts';
import { createSummary } from './summary';
import type { View } from './view';

/** The job stands still: the last figures stay in view until the player resumes or cancels. */
export function createPausedView(controller: Controller): View {
  const title = stageHeading('paused-title', 'Загрузка на паузе', { 'data-testid': 'paused-title' });
  const done = h('p', { class: 'stage__lead', 'data-testid': 'paused-done' });
  const meter = progressMeter('paused-title', 'paused-percent');
  const resume = actionButton({ type: 'button', 'data-testid': 'resume' }, 'play');
  resume.el.addEventListener('click', () => controller.resume());
  const cancel = actionButton({ type: 'button', 'data-testid': 'cancel' }, 'close', 'ghost');
  cancel.el.addEventListener('click', () => controller.cancel());
  const summary = createSummary();

  const el = h(
    'section',
    { class: 'stage stage--progress stage--paused', 'data-stage': 'paused', 'aria-labelledby': 'paused-title' },
    eyebrow('Подготовка игры'),
    h('div', { class: 'progress__head' }, title, meter.percent),
    done,
    meter.bar,
    summary.el,
    h('div', { class: 'stage__actions' }, resume.el, cancel.el),
  );

  return {
    el,
    update(state: AppState) {
      summary.update(state);
      const p = state.progress;
      setText(done, doneSoFar(p));
      meter.show(p.percent, p.indeterminate);
      const cancelling = state.stopAsked === 'cancel';
      resume.set('Продолжить', false, cancelling);
      cancel.set('Отмена', cancelling);
    },
    focus() {
      resume.el.focus();
    },
  };
}
