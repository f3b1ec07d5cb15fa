import type { Controller } from '../../app/controller';
import { hasGameTools, type AppState } from '../../app/state';
import type { Server } from '../../protocol/servers';
import type { ServerId } from '../../protocol/messages';
import { NICK_RULE, nickProblem } from '../../domain/nick';
import { splitPathEnd } from '../../domain/format';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';
import { NOTICE_ID, actionButton, chipButton, eyebrow } from './parts';
import type { View } from './view';

type HintTone = 'neutral' | 'bad' | 'good';

export function createNickView(controller: Controller): View {
  let touched = false;
  let shownServers = '';
  let selected: ServerId = 'main';

  const input = h('input', {
    id: 'nick-input',
    class: 'field__input',
    type: 'text',
    name: 'nick',
    placeholder: 'Ivan_Petrov',
    autocomplete: 'off',
    spellcheck: 'false',
    autocapitalize: 'off',
    'aria-describedby': 'nick-hint',
  });
  const hint = h('p', { id: 'nick-hint', class: 'field__hint', 'aria-live': 'polite' });
  const servers = h('div', { class: 'servers', role: 'radiogroup', 'aria-labelledby': 'server-legend' });
  const submit = actionButton({ type: 'submit', 'data-testid': 'nick-submit' }, 'arrowRight');
  const dirHead = h('span', { class: 'path__head' });
  const dirTail = h('span', { class: 'path__tail' });
  const dirPath = h('span', { class: 'path__text' }, dirHead, dirTail);
  const dir = h('p', { class: 'game-dir', 'data-testid': 'game-dir' }, h('span', { class: 'game-dir__label' }, 'Папка игры'), dirPath);
  const tools = h(
    'div',
    { class: 'game-tools', hidden: true },
    dir,
    h(
      'div',
      { class: 'chips' },
      chipButton('open-dir', 'folderOpen', 'Открыть папку', () => controller.openDir()),
      chipButton('verify', 'shieldCheck', 'Проверить файлы', () => controller.verify()),
      chipButton('change-dir', 'swap', 'Другая папка', () => {
        // The launcher needs the nick to go on after the folder, so it is checked first, as for "Играть".
        if (acceptedNick()) controller.changeDir(input.value, selected);
      }),
    ),
  );

  let tone: HintTone = 'neutral';
  let label = 'Продолжить';
  let waiting = false;
  // Looks inactive until the nick is valid, yet stays in the Tab order so
  // pressing it still explains what is missing.
  const showSubmit = () => submit.set(waiting ? 'Подключение…' : label, waiting, waiting || tone !== 'good');

  const showHint = (next: HintTone, text: string) => {
    tone = next;
    hint.dataset.tone = tone;
    setText(hint, text);
    input.setAttribute('aria-invalid', String(tone === 'bad'));
    showSubmit();
  };

  // While typing, an empty field is not an error yet: it shows the rule.
  const checkAsTyped = () => {
    const problem = input.value === '' ? null : nickProblem(input.value);
    if (input.value === '') showHint('neutral', NICK_RULE);
    else if (problem) showHint('bad', problem);
    else showHint('good', 'Ник подходит.');
  };

  input.addEventListener('input', () => {
    touched = true;
    checkAsTyped();
  });

  /** Says what is wrong with the nick and puts the player back in the field, or tells that it is fine. */
  const acceptedNick = (): boolean => {
    const problem = nickProblem(input.value);
    if (!problem) return true;
    showHint('bad', problem);
    input.focus();
    form.classList.remove('shake');
    void form.offsetWidth;
    form.classList.add('shake');
    return false;
  };

  const form = h(
    'form',
    {
      class: 'stage stage--nick',
      novalidate: true,
      'data-stage': 'nick',
      onsubmit: (event: Event) => {
        event.preventDefault();
        if (acceptedNick()) controller.submitNick(input.value, selected);
      },
    },
    eyebrow('Добро пожаловать'),
    h('h1', { class: 'stage__title' }, 'Вход в игру'),
    h(
      'div',
      { class: 'field' },
      h('label', { class: 'field__label', for: 'nick-input' }, 'Игровой ник'),
      h('div', { class: 'field__control' }, svg(icons.user), input),
      hint,
    ),
    h(
      'div',
      { class: 'field' },
      h('span', { class: 'field__label', id: 'server-legend' }, 'Сервер'),
      servers,
    ),
    tools,
    submit.el,
  );

  const renderServers = (list: Server[]) => {
    if (!list.some((s) => s.id === selected)) selected = list[0]!.id;
    servers.replaceChildren(
      ...list.map((server) => {
        const radio = h('input', {
          type: 'radio',
          name: 'server',
          value: server.id,
          class: 'server__radio',
          checked: server.id === selected,
          onchange: () => (selected = server.id),
        });
        return h(
          'label',
          { class: 'server' },
          radio,
          h(
            'span',
            { class: 'server__card' },
            h('span', { class: 'server__mark', 'aria-hidden': 'true' }),
            h(
              'span',
              { class: 'server__text' },
              h('span', { class: 'server__name' }, server.name),
              server.address ? h('span', { class: 'server__address' }, server.address) : null,
            ),
          ),
        );
      }),
    );
  };

  showHint('neutral', NICK_RULE);

  return {
    el: form,
    update(state: AppState) {
      const init = state.init;
      if (!init) return;
      if (!touched && input.value !== init.nick) {
        input.value = init.nick;
        checkAsTyped();
      }
      const key = JSON.stringify(init.servers);
      if (key !== shownServers) {
        shownServers = key;
        renderServers(init.servers);
      }
      label = init.installed ? 'Играть' : 'Продолжить';
      waiting = state.waiting;
      showSubmit();
      input.readOnly = state.waiting;

      // Read out with the field the keyboard lands on, since the notice is why the player is back here.
      input.setAttribute('aria-describedby', state.notice ? `${NOTICE_ID} nick-hint` : 'nick-hint');

      const withTools = hasGameTools(state);
      if (!withTools && tools.contains(document.activeElement)) input.focus();
      tools.hidden = !withTools;
      form.classList.toggle('has-tools', withTools);
      dir.hidden = init.installDir === '';
      const [head, tail] = splitPathEnd(init.installDir);
      setText(dirHead, head);
      setText(dirTail, tail);
      dirPath.title = init.installDir;
    },
    focus() {
      input.focus();
      input.select();
    },
  };
}
