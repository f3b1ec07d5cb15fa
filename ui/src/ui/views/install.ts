import type { Controller } from '../../app/controller';
import type { AppState } from '../../app/state';
import { formatGigabytes, splitPathEnd } from '../../domain/format';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';
import { actionButton, eyebrow } from './parts';
import type { View } from './view';

export function createInstallView(controller: Controller): View {
  const pathHead = h('span', { class: 'path__head' });
  const pathTail = h('span', { class: 'path__tail' });
  const path = h('span', { class: 'path__text', 'data-testid': 'install-path' }, pathHead, pathTail);
  const pick = h(
    'button',
    { type: 'button', class: 'button button--ghost', 'data-testid': 'pick-dir', onclick: () => controller.pickDir() },
    svg(icons.folder),
    'Выбрать папку',
  );
  const free = h('strong', { 'data-testid': 'free-space' });
  const need = h('strong', { 'data-testid': 'need-space' });
  const meterFill = h('span', { class: 'meter__fill' });
  const meter = h('div', { class: 'meter', 'aria-hidden': 'true' }, meterFill);
  const spaceNote = h('span', { class: 'space__note' });
  const space = h(
    'div',
    { class: 'space', 'data-testid': 'space' },
    h(
      'div',
      { class: 'space__row' },
      h('span', { class: 'space__item' }, svg(icons.drive), 'Свободно ', free),
      h('span', { class: 'space__item space__item--need' }, 'Нужно ', need),
    ),
    meter,
    spaceNote,
  );
  const error = h('p', { class: 'notice notice--error', role: 'alert', 'data-testid': 'install-error', hidden: true });
  const install = actionButton({ type: 'button', 'data-testid': 'install' }, 'download');
  install.el.addEventListener('click', () => controller.install());
  const kicker = eyebrow('Первая установка');
  const lead = h('p', { class: 'stage__lead', 'data-testid': 'install-lead' });

  const el = h(
    'section',
    { class: 'stage stage--install', 'data-stage': 'install', 'aria-labelledby': 'install-title' },
    kicker,
    h('h1', { class: 'stage__title', id: 'install-title' }, 'Папка для игры'),
    lead,
    h('div', { class: 'path' }, h('span', { class: 'path__icon' }, svg(icons.folder)), path, pick),
    space,
    error,
    install.el,
  );

  return {
    el,
    update(state: AppState) {
      setText(kicker, state.changingDir ? 'Другая папка' : 'Первая установка');
      // A player who moves the game may fear for the old copy, or expect it to move along.
      setText(
        lead,
        state.changingDir
          ? 'Файлы в прежней папке останутся на месте: лаунчер их не переносит и не удаляет. В новую папку игра будет скачана заново, если её там ещё нет.'
          : 'Лаунчер скачает игру в эту папку и будет сам держать файлы в порядке.',
      );
      lead.classList.toggle('stage__lead--note', state.changingDir);
      const dir = state.installDir;
      if (!dir) return;
      const [head, tail] = dir.path ? splitPathEnd(dir.path) : ['Папка не выбрана', ''];
      setText(pathHead, head);
      setText(pathTail, tail);
      path.title = dir.path;
      setText(free, formatGigabytes(dir.freeBytes));
      setText(need, formatGigabytes(dir.needBytes));
      space.classList.toggle('is-low', dir.lowSpace);
      // The bar shows how much of the free space the game would take.
      const share = dir.freeBytes > 0 ? Math.min(1, dir.needBytes / dir.freeBytes) : 1;
      meterFill.style.width = `${(share * 100).toFixed(1)}%`;
      // The game already takes its space there, so a share of the free space means nothing.
      meter.hidden = dir.gamePresent;
      setText(
        spaceNote,
        dir.gamePresent
          ? 'Игра уже есть в этой папке'
          : dir.lowSpace
            ? `Не хватает ещё ${formatGigabytes(dir.needBytes - dir.freeBytes)}`
            : 'Места достаточно',
      );
      error.hidden = dir.error === '';
      setText(error, dir.error);
      install.set(state.waiting ? 'Проверка папки…' : 'Установить', state.waiting, state.waiting || !dir.canInstall);
    },
    focus() {
      (install.blocked() ? pick : install.el).focus();
    },
  };
}
