import type { Controller } from '../app/controller';
import type { AppState } from '../app/state';
import type { Store } from '../app/store';
import { createDialogs } from './dialogs';
import { h } from './dom';
import { createHeader } from './header';
import { createHero } from './hero';
import { createPanel } from './panel';
import skyline from '../assets/skyline.svg';

/** The launcher screen: header, pitch and the stage panel over the art, and a dialog over all of it. */
export function mountLauncher(root: HTMLElement, store: Store<AppState>, controller: Controller): () => void {
  const header = createHeader(controller);
  const panel = createPanel(controller);
  const art = h('div', { class: 'backdrop', 'aria-hidden': 'true' }, h('img', { class: 'backdrop__city', src: skyline, alt: '' }));
  const content = h('div', { class: 'content' }, createHero(), panel.el);
  const dialogs = createDialogs(controller, [header.el, content]);

  root.append(art, header.el, content, dialogs.el);

  const render = (state: AppState) => {
    // The dialog goes first: closing it must give the page back before a
    // stage that opens in the same change can take the keyboard.
    const lostFocus = dialogs.update(state);
    header.update(state);
    panel.update(state);
    if (lostFocus && (document.activeElement === null || document.activeElement === document.body)) panel.focus();
  };
  render(store.get());
  return store.subscribe(render);
}
