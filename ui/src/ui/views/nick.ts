import type { Controller } from '../../app/controller';
import type { AppState } from '../../app/state';
import type { Server } from '../../protocol/servers';
import type { ServerId } from '../../protocol/messages';
import { NICK_RULE, nickProblem } from '../../domain/nick';
import { h, setText, svg } from '../dom';
import { icons } from '../icons';
import { actionButton, eyebrow } from './parts';
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

  const showHint = (tone: HintTone, text: string) => {
    hint.dataset.tone = tone;
    setText(hint, text);
    input.setAttribute('aria-invalid', String(tone === 'bad'));
    // Looks inactive until the nick is valid, yet stays in the Tab order so
    // pressing it still explains what is missing.
    submit.el.setAttribute('aria-disabled', String(tone !== 'good'));
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

  const form = h(
    'form',
    {
      class: 'stage stage--nick',
      novalidate: true,
      'data-stage': 'nick',
      onsubmit: (event: Event) => {
        event.preventDefault();
        const problem = nickProblem(input.value);
        if (problem) {
          showHint('bad', problem);
          input.focus();
          form.classList.remove('shake');
          void form.offsetWidth;
          form.classList.add('shake');
          return;
        }
        controller.submitNick(input.value, selected);
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
      const label = init.installed ? 'Играть' : 'Продолжить';
      submit.set(state.waiting ? 'Подключение…' : label, state.waiting);
      input.readOnly = state.waiting;
    },
    focus() {
      input.focus();
      input.select();
    },
  };
}
