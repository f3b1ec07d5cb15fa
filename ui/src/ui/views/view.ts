import type { AppState } from '../../app/state';

/** One stage's content in the main panel. */
export interface View {
  el: HTMLElement;
  update(state: AppState): void;
  /** Puts the keyboard where the player is expected to act first. */
  focus(): void;
}
