import type { Controller } from '../../app/controller';
import type { AppState } from '../../app/state';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';
import type { View } from './view';

export function createErrorView(controller: Controller): View {
  const title = h('h1', { class: 'stage__title', id: 'error-title', 'data-testid': 'error-title' });
  const message = h('p', { class: 'stage__lead', 'data-testid': 'error-message' });
  const retry = h(
    'button',
    { type: 'button', class: 'button button--primary', 'data-testid': 'retry', onclick: () => controller.retry() },
    svg(icons.refresh),
    'Повторить',
  );
  const exit = h(
    'button',
    { type: 'button', class: 'button button--ghost', 'data-testid': 'error-exit', onclick: () => controller.exit() },
    svg(icons.power),
    'Выход',
  );

  const el = h(
    'section',
    { class: 'stage stage--error', 'data-stage': 'error', 'aria-live': 'assertive', 'aria-labelledby': 'error-title' },
    h('span', { class: 'stage__badge stage__badge--error' }, svg(icons.alert)),
    title,
    message,
    h('div', { class: 'stage__actions' }, retry, exit),
  );

  return {
    el,
    update(state: AppState) {
      setText(title, state.error?.title ?? '');
      setText(message, state.error?.message ?? '');
    },
    focus() {
      retry.focus();
    },
  };
}
