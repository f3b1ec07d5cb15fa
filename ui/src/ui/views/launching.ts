import { h, svg } from '../dom';
import { crest } from '../icons';
import { stageHeading } from './parts';
import type { View } from './view';

export function createLaunchingView(): View {
  const title = stageHeading('launching-title', 'Запуск игры');
  const el = h(
    'section',
    { class: 'stage stage--launching', 'data-stage': 'launching', 'aria-labelledby': 'launching-title', 'aria-live': 'polite' },
    h('div', { class: 'launch-mark', 'aria-hidden': 'true' }, h('span', { class: 'launch-mark__ring' }), svg(crest)),
    title,
    h('p', { class: 'stage__lead' }, 'Игра открывается, лаунчер закроется сам. Удачной игры!'),
  );
  return {
    el,
    update() {},
    focus() {
      title.focus();
    },
  };
}
