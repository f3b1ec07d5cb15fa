import type { AppState } from '../app/state';
import type { Controller } from '../app/controller';
import type { SocialName } from '../protocol/messages';
import { h, setText, svg } from './dom';
import { crest, icons } from './icons';

const SOCIALS: ReadonlyArray<{ name: SocialName; label: string }> = [
  { name: 'vk', label: 'ВКонтакте' },
  { name: 'telegram', label: 'Telegram' },
  { name: 'youtube', label: 'YouTube' },
  { name: 'discord', label: 'Discord' },
];

export function createHeader(controller: Controller) {
  const version = h('span', { class: 'brand__version', 'data-testid': 'version', hidden: true });
  const menu = h(
    'button',
    { type: 'button', class: 'chip-button', 'data-testid': 'menu', hidden: true, onclick: () => controller.menu() },
    svg(icons.wrench),
    'Инженерное меню',
  );

  const socials = SOCIALS.map(({ name, label }) =>
    h(
      'button',
      {
        type: 'button',
        class: `icon-button icon-button--${name}`,
        'aria-label': label,
        title: label,
        'data-link': name,
        onclick: () => controller.link(name),
      },
      svg(icons[name]),
    ),
  );

  const exit = h(
    'button',
    {
      type: 'button',
      class: 'icon-button icon-button--exit',
      'aria-label': 'Выход',
      title: 'Выход',
      'data-testid': 'exit',
      onclick: () => controller.exit(),
    },
    svg(icons.close),
  );

  const el = h(
    'header',
    { class: 'topbar' },
    h(
      'div',
      { class: 'brand' },
      svg(crest),
      h('span', { class: 'brand__name' }, 'KORVAL'),
      version,
    ),
    h(
      'div',
      { class: 'topbar__actions' },
      menu,
      h('nav', { class: 'socials', 'aria-label': 'Сообщество' }, ...socials),
      h('span', { class: 'topbar__divider', 'aria-hidden': 'true' }),
      exit,
    ),
  );

  return {
    el,
    update(state: AppState) {
      const v = state.init?.version ?? '';
      setText(version, v ? `v${v}` : '');
      version.hidden = v === '';
      menu.hidden = !state.init?.engineering;
    },
  };
}
