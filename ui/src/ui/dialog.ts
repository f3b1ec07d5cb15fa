import { h } from './dom';

export interface DialogContent {
  /** "alertdialog" for a question that needs an answer, "dialog" for anything else. */
  role: 'alertdialog' | 'dialog';
  testid: string;
  title: string;
  /** Read out with the title when the dialog opens. */
  text?: string;
  extra?: Node[];
  actions: HTMLButtonElement[];
  /** Where the keyboard starts: the choice that loses nothing. */
  initial: HTMLElement;
}

/**
 * One modal dialog over the whole window. While it is open the rest of the
 * page is inert, Tab stays inside and Escape dismisses it; on closing, the
 * keyboard goes back to where it was.
 */
export function createModal(background: HTMLElement[], onDismiss: () => void) {
  const title = h('h2', { class: 'dialog__title', id: 'dialog-title' });
  const text = h('p', { class: 'dialog__text', id: 'dialog-text' });
  const extra = h('div', { class: 'dialog__extra' });
  const actions = h('div', { class: 'dialog__actions' });
  const card = h('div', { class: 'dialog', 'aria-modal': 'true', 'aria-labelledby': 'dialog-title' }, title, text, extra, actions);
  const el = h('div', { class: 'dialog-backdrop', hidden: true }, card);
  let returnTo: Element | null = null;

  card.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      event.preventDefault();
      onDismiss();
      return;
    }
    if (event.key !== 'Tab') return;
    // The embedded browser has no address bar to Tab into, so the ring closes on itself.
    const stops = [...actions.querySelectorAll('button')];
    const edge = event.shiftKey ? stops[0] : stops.at(-1);
    if (edge && document.activeElement === edge) {
      event.preventDefault();
      (event.shiftKey ? stops.at(-1) : stops[0])?.focus();
    }
  });

  return {
    el,
    show(content: DialogContent) {
      if (el.hidden) returnTo = document.activeElement;
      card.setAttribute('role', content.role);
      card.dataset.testid = content.testid;
      title.textContent = content.title;
      text.textContent = content.text ?? '';
      text.hidden = !content.text;
      if (content.text) card.setAttribute('aria-describedby', 'dialog-text');
      else card.removeAttribute('aria-describedby');
      extra.replaceChildren(...(content.extra ?? []));
      actions.replaceChildren(...content.actions);
      for (const part of background) part.inert = true;
      el.hidden = false;
      content.initial.focus();
    },
    /** Closes the dialog; false when the place the keyboard came from is gone. */
    hide(): boolean {
      if (el.hidden) return true;
      for (const part of background) part.inert = false;
      el.hidden = true;
      const target = returnTo instanceof HTMLElement ? returnTo : null;
      returnTo = null;
      target?.focus();
      return target !== null && document.activeElement === target;
    },
  };
}
