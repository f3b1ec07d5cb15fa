import { fileURLToPath } from 'node:url';
import { defineConfig } from 'vitest/config';

const fontsource = fileURLToPath(new URL('./node_modules/@fontsource', import.meta.url));

export default defineConfig({
  // The page is served from "http://ui/" by the launcher and from a plain
  // folder during development, so every asset path has to be relative.
  base: './',
  resolve: {
    alias: { '@fonts': fontsource },
  },
  build: {
    outDir: 'dist',
    emptyOutDir: true,
    // The embedded browser is a recent Chromium; no legacy output needed.
    target: 'chrome120',
    modulePreload: false,
    // Keep fonts and art as files so the archive stays inspectable and the
    // script bundle stays small.
    assetsInlineLimit: 0,
    cssCodeSplit: false,
    reportCompressedSize: false,
  },
  test: {
    include: ['test/**/*.test.ts'],
    environment: 'node',
  },
});
