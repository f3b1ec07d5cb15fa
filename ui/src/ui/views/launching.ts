import { h, svg } from '../dom';
import { crest } from '../icons';
import type { View } from './view';

export function createLaunchingView(): View {
  const el = h(
    'section',
    { class: 'stage stage--launching', 'data-stage': 'launching', 'aria-labelledby': 'launching-title', 'aria-live': 'polite' },
    h('div', { class: 'launch-mark', 'aria-hidden': 'true' }, h('span', { class: 'launch-mark__ring' }), svg(crest)),
    h('h1', { class: 'stage__title', id: 'launching-title' }, 'Запуск игры'),
    h('p', { class: 'stage__lead' }, 'Игра открывается, лаунчер закроется сам. Удачной игры!'),
  );
  return { el, update() {}, focus() {} };
}
