import type { Controller } from '../app/controller';
import type { AppState, Dialog } from '../app/state';
import type { EngineeringEvent } from '../protocol/events';
import { createModal } from './dialog';
import { h, svg } from './dom';
import { icons } from './icons';

function dialogButton(testid: string, look: 'primary' | 'ghost', icon: keyof typeof icons, label: string, onclick: () => void) {
  return h('button', { type: 'button', class: `button button--${look}`, 'data-testid': testid, onclick }, svg(icons[icon]), label);
}

/** A path or address that may wrap only after a separator, so no name is broken in two. */
function breakable(text: string): Array<Node | string> {
  return text.split(/(?<=[\\/])/).flatMap((part, i) => (i === 0 ? [part] : [h('wbr'), part]));
}

/** The engineering facts, as the launcher reported them. */
function createEngineeringList() {
  const rows: Array<[keyof Omit<EngineeringEvent, 'type'>, string]> = [
    ['version', 'Версия'],
    ['installDir', 'Папка игры'],
    ['contentServer', 'Сервер файлов'],
    ['logPath', 'Журнал'],
  ];
  const values = new Map(rows.map(([key]) => [key, h('dd', { 'data-testid': `engineering-${key}` })]));
  const el = h(
    'dl',
    { class: 'facts' },
    ...rows.map(([key, label]) => h('div', { class: 'facts__row' }, h('dt', {}, label), values.get(key)!)),
  );
  return {
    el,
    update(info: EngineeringEvent) {
      for (const [key, dd] of values) dd.replaceChildren(...breakable(info[key] || (key === 'installDir' ? 'не выбрана' : '—')));
    },
  };
}

/** Shows the dialog the state asks for, over everything else. */
export function createDialogs(controller: Controller, background: HTMLElement[]) {
  const modal = createModal(background, () => controller.closeDialog());

  const stay = dialogButton('close-stay', 'primary', 'download', 'Продолжить загрузку', () => controller.closeDialog());
  const leave = dialogButton('close-confirm', 'ghost', 'power', 'Закрыть лаунчер', () => controller.confirmExit());

  const facts = createEngineeringList();
  const openLog = dialogButton('engineering-open-log', 'ghost', 'log', 'Открыть журнал', () => controller.openLog());
  const close = dialogButton('engineering-close', 'primary', 'close', 'Закрыть', () => controller.closeDialog());

  let shown: Dialog | null = null;

  return {
    el: modal.el,
    /** Returns true when a dialog just closed and the keyboard had nowhere to go back to. */
    update(state: AppState): boolean {
      const dialog = state.dialog;
      if (dialog === shown) return false;
      shown = dialog;
      if (!dialog) return !modal.hide();
      if (dialog.kind === 'closeQuestion') {
        modal.show({
          role: 'alertdialog',
          testid: 'close-question',
          title: 'Прервать загрузку?',
          text: 'Загрузка остановится. Скачанные файлы сохранятся, и в следующий раз загрузка продолжится с того же места.',
          actions: [stay, leave],
          initial: stay,
        });
      } else {
        facts.update(dialog.info);
        modal.show({
          role: 'dialog',
          testid: 'engineering-dialog',
          title: 'Инженерное меню',
          extra: [facts.el],
          actions: [openLog, close],
          initial: close,
        });
      }
      return false;
    },
  };
}
