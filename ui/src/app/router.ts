/** The part after "#" selects the view; the launcher opens "#/launcher". */
export const DEFAULT_ROUTE = '/launcher';

export function routeOf(hash: string): string {
  const path = hash.replace(/^#/, '').split('?')[0] ?? '';
  return path.startsWith('/') ? path : `/${path}`;
}

export type Mount = (root: HTMLElement) => () => void;

/**
 * Mounts the view of the current route into the root and swaps it when the
 * hash changes. Unknown routes lead to the launcher view, so the page is
 * never blank whatever address it was opened with.
 */
export function startRouter(root: HTMLElement, routes: Record<string, Mount>): void {
  let unmount: (() => void) | null = null;
  let mounted = '';
  const show = () => {
    let route = routeOf(location.hash);
    if (!routes[route]) {
      route = DEFAULT_ROUTE;
      history.replaceState(null, '', `#${route}`);
    }
    if (route === mounted) return;
    unmount?.();
    root.replaceChildren();
    mounted = route;
    unmount = routes[route]!(root);
  };
  window.addEventListener('hashchange', show);
  show();
}
