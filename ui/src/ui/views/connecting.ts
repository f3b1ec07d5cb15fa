import { h } from '../dom';
import { spinner } from './parts';
import type { View } from './view';

export function createConnectingView(): View {
  // Nothing to press yet: the keyboard waits on the only text there is.
  const text = h('p', { class: 'stage__lead', tabindex: '-1' }, 'Подключение к лаунчеру…');
  const el = h('section', { class: 'stage stage--connecting', 'data-stage': 'connecting', 'aria-live': 'polite' }, spinner(), text);
  return {
    el,
    update() {},
    focus() {
      text.focus();
    },
  };
}
