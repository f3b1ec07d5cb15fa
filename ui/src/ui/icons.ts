// The project's own icon set: 24px grid, drawn with currentColor so CSS sets the colour.
const stroke = (body: string) =>
  `<svg viewBox="0 0 24 24" width="20" height="20" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round" aria-hidden="true" focusable="false">${body}</svg>`;

const fill = (body: string) =>
  `<svg viewBox="0 0 24 24" width="20" height="20" fill="currentColor" aria-hidden="true" focusable="false">${body}</svg>`;

export const icons = {
  vk: fill(
    '<path d="M4 4.5h16a2.5 2.5 0 0 1 2.5 2.5v10a2.5 2.5 0 0 1-2.5 2.5H4A2.5 2.5 0 0 1 1.5 17V7A2.5 2.5 0 0 1 4 4.5Zm1.6 4 2.9 7h1.7l2.9-7h-1.9l-1.8 4.7-1.9-4.7H5.6Zm8.6 0v7H16v-2.6l.7-.7 2 3.3h2.1l-2.9-4.6 2.7-2.4h-2.5L16 11V8.5h-1.8Z"/>',
  ),
  telegram: fill(
    '<path d="M21.4 3.6 2.9 10.8c-1 .4-1 1.7.1 2l4.6 1.5 1.8 5.5c.3.8 1.3 1 1.9.4l2.6-2.5 4.6 3.4c.7.5 1.6.1 1.8-.7l3-15.1c.2-1-.9-1.9-1.9-1.5Zm-3.5 4.1-7.7 7-.3 3-1.3-4 9.1-6.3c.3-.2.5.1.2.3Z"/>',
  ),
  youtube: fill(
    '<path d="M12 4.8c-3.6 0-6.6.2-8 .5C2.9 5.6 2.2 6.4 2 7.5 1.8 8.8 1.7 10.3 1.7 12s.1 3.2.3 4.5c.2 1.1.9 1.9 2 2.2 1.4.3 4.4.5 8 .5s6.6-.2 8-.5c1.1-.3 1.8-1.1 2-2.2.2-1.3.3-2.8.3-4.5s-.1-3.2-.3-4.5c-.2-1.1-.9-1.9-2-2.2-1.4-.3-4.4-.5-8-.5Zm-2.2 3.9 5.8 3.3-5.8 3.3V8.7Z"/>',
  ),
  discord: fill(
    '<path d="M19.3 5.6A16 16 0 0 0 15.4 4.4l-.5 1a14.6 14.6 0 0 0-5.8 0l-.5-1A16 16 0 0 0 4.7 5.6C2.3 9.2 1.6 12.8 1.9 16.3a16 16 0 0 0 4.9 2.5l1.1-1.7a10 10 0 0 1-1.7-.8l.4-.3a11.4 11.4 0 0 0 10.8 0l.4.3c-.5.3-1.1.6-1.7.8l1.1 1.7a16 16 0 0 0 4.9-2.5c.4-4-.6-7.6-2.8-10.7ZM8.7 14.2c-1 0-1.8-.9-1.8-2s.8-2 1.8-2 1.8.9 1.8 2-.8 2-1.8 2Zm6.6 0c-1 0-1.8-.9-1.8-2s.8-2 1.8-2 1.8.9 1.8 2-.8 2-1.8 2Z"/>',
  ),
  close: stroke('<path d="M6 6l12 12M18 6 6 18"/>'),
  folder: stroke('<path d="M3 7.5A1.5 1.5 0 0 1 4.5 6h4.2l2 2h8.8A1.5 1.5 0 0 1 21 9.5v8a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 17.5v-10Z"/>'),
  drive: stroke('<rect x="3" y="13" width="18" height="6" rx="1.5"/><path d="M5 13 7.5 5.5h9L19 13"/><path d="M16.5 16h.01"/>'),
  arrowRight: stroke('<path d="M5 12h14M13 6l6 6-6 6"/>'),
  download: stroke('<path d="M12 4v11M7 10l5 5 5-5M5 20h14"/>'),
  refresh: stroke('<path d="M20 11a8 8 0 1 0-2.3 5.7"/><path d="M20 4v7h-7"/>'),
  alert: stroke('<path d="M12 3.5 22 20H2L12 3.5Z"/><path d="M12 10v4.5M12 17.3h.01"/>'),
  check: stroke('<path d="m5 12.5 4.5 4.5L19 7.5"/>'),
  wrench: stroke(
    '<path d="M14.7 6.3a4 4 0 0 0 5 5l-8.4 8.4a2.1 2.1 0 0 1-3-3l8.4-8.4a4 4 0 0 0-2-2Z"/><path d="M14.7 6.3 17 4"/>',
  ),
  user: stroke('<circle cx="12" cy="8" r="4"/><path d="M4 20c1.5-4 4.5-6 8-6s6.5 2 8 6"/>'),
  server: stroke('<rect x="3" y="4" width="18" height="7" rx="1.5"/><rect x="3" y="13" width="18" height="7" rx="1.5"/><path d="M7 7.5h.01M7 16.5h.01"/>'),
  power: stroke('<path d="M12 3v8"/><path d="M6.3 6.8a8 8 0 1 0 11.4 0"/>'),
  pause: stroke('<path d="M9 5.5v13M15 5.5v13"/>'),
  play: stroke('<path d="M7.5 5.2v13.6a.8.8 0 0 0 1.2.7l10.6-6.8a.8.8 0 0 0 0-1.4L8.7 4.5a.8.8 0 0 0-1.2.7Z"/>'),
  copy: stroke('<rect x="8.5" y="8.5" width="12" height="12" rx="2"/><path d="M15.5 8.5V5a1.5 1.5 0 0 0-1.5-1.5H5A1.5 1.5 0 0 0 3.5 5v9A1.5 1.5 0 0 0 5 15.5h3.5"/>'),
  log: stroke('<path d="M14 3.5H7A1.5 1.5 0 0 0 5.5 5v14A1.5 1.5 0 0 0 7 20.5h10a1.5 1.5 0 0 0 1.5-1.5V8L14 3.5Z"/><path d="M14 3.5V8h4.5M9 12.5h6M9 16h6"/>'),
  folderOpen: stroke('<path d="M3 17.5v-10A1.5 1.5 0 0 1 4.5 6h4.2l2 2h7.3A1.5 1.5 0 0 1 19.5 9.5V11"/><path d="M3 17.5 5.6 11.9A1.5 1.5 0 0 1 7 11h13.1a1 1 0 0 1 .9 1.4l-2.4 5.7a1.5 1.5 0 0 1-1.4.9H4.5A1.5 1.5 0 0 1 3 17.5Z"/>'),
  shieldCheck: stroke('<path d="M12 3 19.5 6v5.5c0 4.3-3.1 7.9-7.5 9.5-4.4-1.6-7.5-5.2-7.5-9.5V6L12 3Z"/><path d="m8.8 12 2.3 2.3 4.3-4.6"/>'),
  swap: stroke('<path d="M4 8h14M14 4l4 4-4 4"/><path d="M20 16H6M10 12l-4 4 4 4"/>'),
} as const;

/** The product mark: a faceted crest around a K, drawn for this launcher. */
export const crest = `<svg viewBox="0 0 40 40" width="34" height="34" aria-hidden="true" focusable="false">
  <defs>
    <linearGradient id="crest-edge" x1="0" y1="0" x2="1" y2="1">
      <stop offset="0" stop-color="#ffc46b"/><stop offset="1" stop-color="#ff5a1f"/>
    </linearGradient>
  </defs>
  <path d="M20 2 36 11v18L20 38 4 29V11L20 2Z" fill="#120c08" stroke="url(#crest-edge)" stroke-width="2"/>
  <path d="M20 7 31.5 13.5v13L20 33 8.5 26.5v-13L20 7Z" fill="none" stroke="#ff8a2b" stroke-opacity=".25"/>
  <path d="M15 12v16M15 20.5 24.5 12M18.2 17.7 25 28" fill="none" stroke="url(#crest-edge)" stroke-width="3.2" stroke-linecap="square"/>
</svg>`;
