import { h, setText, svg } from '../dom';
import { icons } from '../icons';

type IconName = keyof typeof icons;

/** The panel's notice of how the last job ended; the nick field refers to it. */
export const NOTICE_ID = 'job-notice';

/** The small step line above each panel title. */
export function eyebrow(label: string): HTMLElement {
  return h('p', { class: 'eyebrow' }, label);
}

export function spinner(): HTMLElement {
  return h('span', { class: 'spinner', 'aria-hidden': 'true' });
}

/**
 * A button whose label and wait change without rebuilding it. A button that
 * cannot be pressed yet is only marked so: a disabled one would drop the
 * keyboard focus to nowhere the moment it is pressed. Its click handler
 * therefore has to ask `blocked` (or the controller has to refuse).
 */
export function actionButton(attrs: Record<string, string>, icon: IconName, look: 'primary' | 'ghost' = 'primary') {
  const label = h('span', { class: 'button__label' });
  const mark = svg(icons[icon]);
  const el = h(
    'button',
    { class: `button button--${look}`, ...attrs },
    spinner(),
    // The primary button points ahead; the others lead with what they do.
    ...(look === 'primary' ? [label, mark] : [mark, label]),
  );
  return {
    el,
    set(text: string, busy: boolean, blocked = busy) {
      if (label.textContent !== text) label.textContent = text;
      el.classList.toggle('is-busy', busy);
      el.toggleAttribute('aria-busy', busy);
      el.setAttribute('aria-disabled', String(blocked));
    },
    blocked: () => el.getAttribute('aria-disabled') === 'true',
  };
}

/** A small secondary action in a row of its kind. */
export function chipButton(testid: string, icon: IconName, label: string, onclick: () => void): HTMLButtonElement {
  return h('button', { type: 'button', class: 'chip', 'data-testid': testid, onclick }, svg(icons[icon]), h('span', {}, label));
}

/** A heading the keyboard lands on when its stage has nothing to press. */
export function stageHeading(id: string, text = '', attrs: Record<string, string> = {}): HTMLHeadingElement {
  return h('h1', { class: 'stage__title', id, tabindex: '-1', ...attrs }, text);
}

/**
 * A job's percent figure and bar, the bar named by the stage's title. Without
 * a known share the figure is empty and the bar carries no value (the stage's
 * own class decides how an unknown share looks).
 */
export function progressMeter(titleId: string, testid: string) {
  const percent = h('span', { class: 'progress__percent', 'data-testid': testid });
  const fill = h('span', { class: 'bar__fill' });
  const bar = h(
    'div',
    { class: 'bar', role: 'progressbar', 'aria-labelledby': titleId, 'aria-valuemin': '0', 'aria-valuemax': '100' },
    fill,
  );
  return {
    percent,
    bar,
    show(value: number, indeterminate: boolean) {
      const whole = Math.floor(value);
      setText(percent, indeterminate ? '' : `${whole}%`);
      fill.style.width = indeterminate ? '' : `${value}%`;
      if (indeterminate) bar.removeAttribute('aria-valuenow');
      else bar.setAttribute('aria-valuenow', String(whole));
    },
  };
}
