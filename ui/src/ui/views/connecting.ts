import { h } from '../dom';
import { spinner } from './parts';
import type { View } from './view';

export function createConnectingView(): View {
  const el = h(
    'section',
    { class: 'stage stage--connecting', 'data-stage': 'connecting', 'aria-live': 'polite' },
    spinner(),
    h('p', { class: 'stage__lead' }, 'Подключение к лаунчеру…'),
  );
  return { el, update() {}, focus() {} };
}
