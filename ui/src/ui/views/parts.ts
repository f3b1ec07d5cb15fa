import { h, svg } from '../dom';
import { icons } from '../icons';

/** The small step line above each panel title. */
export function eyebrow(label: string): HTMLElement {
  return h('p', { class: 'eyebrow' }, label);
}

export function spinner(): HTMLElement {
  return h('span', { class: 'spinner', 'aria-hidden': 'true' });
}

/** Primary button whose label and busy state change without rebuilding it. */
export function actionButton(attrs: Record<string, string>, icon: keyof typeof icons) {
  const label = h('span', { class: 'button__label' });
  const el = h('button', { class: 'button button--primary', ...attrs }, spinner(), label, svg(icons[icon]));
  return {
    el,
    set(text: string, busy: boolean, disabled = busy) {
      if (label.textContent !== text) label.textContent = text;
      el.classList.toggle('is-busy', busy);
      el.toggleAttribute('aria-busy', busy);
      el.disabled = disabled;
    },
  };
}
