import type { AppState } from '../../app/state';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';

/** Who is about to play where: repeats the player's choice while they wait. */
export function createSummary() {
  const nick = h('strong', { 'data-testid': 'summary-nick' });
  const server = h('strong', { 'data-testid': 'summary-server' });
  const address = h('span', { class: 'summary__sub' });
  const el = h(
    'dl',
    { class: 'summary' },
    h('div', { class: 'summary__item' }, svg(icons.user), h('dt', {}, 'Игрок'), h('dd', {}, nick)),
    h('div', { class: 'summary__item' }, svg(icons.server), h('dt', {}, 'Сервер'), h('dd', {}, server, address)),
  );
  return {
    el,
    update(state: AppState) {
      const player = state.player;
      el.hidden = !player;
      if (!player) return;
      const chosen = state.init?.servers.find((s) => s.id === player.serverId);
      setText(nick, player.nick);
      setText(server, chosen?.name ?? '');
      setText(address, chosen?.address ?? '');
    },
  };
}
