import './styles/fonts.css';
import './styles/base.css';
import './styles/header.css';
import './styles/layout.css';
import './styles/panel.css';
import './styles/controls.css';
import './styles/stages.css';
import { createController } from './app/controller';
import { startRouter } from './app/router';
import { initialState } from './app/state';
import { createStore } from './app/store';
import { createSender, listenLauncher } from './protocol/bridge';
import { mountLauncher } from './ui/launcher';

const root = document.getElementById('app')!;
const store = createStore(initialState);
const send = createSender();
const controller = createController(store, send);

startRouter(root, {
  '/launcher': (el) => mountLauncher(el, store, controller),
});

// Listen first, then say so: the launcher answers "ready" with init at once.
listenLauncher(window, (detail) => controller.onLauncherEvent(detail));
send({ type: 'ready' });
