import type { Controller } from '../app/controller';
import type { AppState } from '../app/state';
import type { Store } from '../app/store';
import { h } from './dom';
import { createHeader } from './header';
import { createHero } from './hero';
import { createPanel } from './panel';
import skyline from '../assets/skyline.svg';

/** The launcher screen: header, pitch and the stage panel over the art. */
export function mountLauncher(root: HTMLElement, store: Store<AppState>, controller: Controller): () => void {
  const header = createHeader(controller);
  const panel = createPanel(controller);
  const art = h('div', { class: 'backdrop', 'aria-hidden': 'true' }, h('img', { class: 'backdrop__city', src: skyline, alt: '' }));

  root.append(art, header.el, h('div', { class: 'content' }, createHero(), panel.el));

  const render = (state: AppState) => {
    header.update(state);
    panel.update(state);
  };
  render(store.get());
  return store.subscribe(render);
}
