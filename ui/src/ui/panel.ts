import type { Controller } from '../app/controller';
import type { AppState, Stage } from '../app/state';
import { h, setText } from './dom';
import { createConnectingView } from './views/connecting';
import { createErrorView } from './views/error';
import { createInstallView } from './views/install';
import { createLaunchingView } from './views/launching';
import { createNickView } from './views/nick';
import { createPausedView } from './views/paused';
import { NOTICE_ID } from './views/parts';
import { createProgressView } from './views/progress';
import type { View } from './views/view';

const STEPS: ReadonlyArray<{ label: string; stages: Stage[] }> = [
  { label: 'Профиль', stages: ['connecting', 'nick'] },
  { label: 'Установка', stages: ['install'] },
  { label: 'Загрузка', stages: ['progress', 'paused', 'error'] },
  { label: 'Запуск', stages: ['launching'] },
];

/** The one main panel: shows the view of the current stage and the step line. */
export function createPanel(controller: Controller) {
  const factories: Record<Stage, () => View> = {
    connecting: createConnectingView,
    nick: () => createNickView(controller),
    install: () => createInstallView(controller),
    progress: () => createProgressView(controller),
    paused: () => createPausedView(controller),
    error: () => createErrorView(controller),
    launching: createLaunchingView,
  };
  // Views are kept once made, so a typed nick or a chosen folder survives a detour.
  const views = new Map<Stage, View>();
  const viewFor = (stage: Stage) => {
    let view = views.get(stage);
    if (!view) {
      view = factories[stage]();
      views.set(stage, view);
    }
    return view;
  };

  const steps = STEPS.map(({ label }, i) =>
    h('li', { class: 'steps__item' }, h('span', { class: 'steps__dot' }, String(i + 1)), label),
  );
  const stepList = h('ol', { class: 'steps', 'aria-label': 'Этапы' }, ...steps);
  // Back on the first step after a job, where the step line tells little, its place says how the job ended.
  const notice = h('p', { id: NOTICE_ID, class: 'notice notice--info panel__notice', role: 'status', 'data-testid': 'files-notice', hidden: true });
  const body = h('div', { class: 'panel__body' });
  const el = h('main', { class: 'panel', 'data-testid': 'panel' }, stepList, notice, body);

  let shown: Stage | null = null;

  return {
    el,
    update(state: AppState) {
      const view = viewFor(state.stage);
      view.update(state);
      el.dataset.stage = state.stage;
      const told = state.stage === 'nick' && state.notice !== '';
      setText(notice, told ? state.notice : '');
      notice.hidden = !told;
      stepList.hidden = told;
      const current = STEPS.findIndex((s) => s.stages.includes(state.stage));
      steps.forEach((item, i) => {
        item.classList.toggle('is-done', i < current);
        item.classList.toggle('is-current', i === current);
        if (i === current) item.setAttribute('aria-current', 'step');
        else item.removeAttribute('aria-current');
      });
      if (shown !== state.stage) {
        shown = state.stage;
        body.replaceChildren(view.el);
        view.focus();
      }
    },
    /** Puts the keyboard where the shown stage expects it, as when the stage opened. */
    focus() {
      if (shown) views.get(shown)?.focus();
    },
  };
}
