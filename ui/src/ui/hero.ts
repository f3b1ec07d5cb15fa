import { h } from './dom';

const FEATURES = [
  ['Два сервера', 'основной и тестовый'],
  ['Проверка файлов', 'битые файлы качаются заново'],
  ['Докачка', 'с места обрыва связи'],
] as const;

/** The left side of the window: the project's pitch over the skyline art. */
export function createHero(): HTMLElement {
  return h(
    'section',
    { class: 'hero', 'aria-label': 'О проекте' },
    h('p', { class: 'hero__kicker' }, 'Ролевой онлайн-проект · San Andreas'),
    h('p', { class: 'hero__title' }, 'Твой город.', h('br'), h('span', { class: 'hero__accent' }, 'Твоя история.')),
    h(
      'p',
      { class: 'hero__text' },
      'Начни новую жизнь в штате: работа, бизнес, семья и своя репутация. Лаунчер сам установит игру и будет держать её в порядке.',
    ),
    h(
      'ul',
      { class: 'hero__features' },
      ...FEATURES.map(([title, text]) =>
        h('li', { class: 'feature' }, h('strong', {}, title), h('span', {}, text)),
      ),
    ),
  );
}
