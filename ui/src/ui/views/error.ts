import type { Controller } from '../../app/controller';
import type { AppState } from '../../app/state';
import { errorCodeLine } from '../../domain/report';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';
import { chipButton } from './parts';
import type { View } from './view';

/** Long enough to be read, short enough not to stand for a later copy. */
const COPIED_FOR_MS = 2000;

export function createErrorView(controller: Controller): View {
  const title = h('h1', { class: 'stage__title', id: 'error-title', 'data-testid': 'error-title' });
  const message = h('p', { class: 'stage__lead', 'data-testid': 'error-message' });
  const code = h('p', { class: 'stage__small', 'data-testid': 'error-code', hidden: true });
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

  let copiedTimer: ReturnType<typeof setTimeout> | undefined;
  const copy = chipButton('copy-error', 'copy', 'Скопировать текст', () => {
    if (!controller.copyError()) return;
    setText(copyLabel, 'Скопировано');
    clearTimeout(copiedTimer);
    copiedTimer = setTimeout(() => setText(copyLabel, 'Скопировать текст'), COPIED_FOR_MS);
  });
  const copyLabel = copy.lastElementChild!;
  const log = chipButton('open-log', 'log', 'Открыть журнал', () => controller.openLog());
  const community = chipButton('error-community', 'vk', 'Сообщество ВКонтакте', () => controller.link('vk'));

  // A message longer than its box scrolls, and what scrolls must be reachable from the keyboard.
  const markScrollable = () => {
    if (message.scrollHeight > message.clientHeight) message.tabIndex = 0;
    else message.removeAttribute('tabindex');
  };

  const el = h(
    'section',
    { class: 'stage stage--error', 'data-stage': 'error', 'aria-live': 'assertive', 'aria-labelledby': 'error-title' },
    h('span', { class: 'stage__badge stage__badge--error' }, svg(icons.alert)),
    title,
    message,
    code,
    h('div', { class: 'chips' }, copy, log, community),
    h('div', { class: 'stage__actions' }, retry, exit),
  );

  return {
    el,
    update(state: AppState) {
      const error = state.error;
      setText(title, error?.title ?? '');
      setText(message, error?.message ?? '');
      code.hidden = error?.code === undefined;
      setText(code, error?.code === undefined ? '' : errorCodeLine(error.code));
      // An older launcher has no clipboard or log to open: its buttons would do nothing.
      const helps = state.init?.jobControl === true;
      copy.hidden = !helps;
      log.hidden = !helps;
      markScrollable();
    },
    focus() {
      markScrollable();
      retry.focus();
    },
  };
}
