// Serves the page archive on loopback the way the launcher's resource server
// answers "http://ui/": path taken up to "?" or "#", "" and "dir/" mean
// index.html, ".." and backslashes refused, MIME type by extension without a
// charset, and a plain "not found" for anything else.
import { createServer } from 'node:http';

const MIME = {
  html: 'text/html',
  htm: 'text/html',
  js: 'text/javascript',
  mjs: 'text/javascript',
  css: 'text/css',
  json: 'application/json',
  png: 'image/png',
  jpg: 'image/jpeg',
  jpeg: 'image/jpeg',
  gif: 'image/gif',
  webp: 'image/webp',
  svg: 'image/svg+xml',
  woff: 'font/woff',
  woff2: 'font/woff2',
  ttf: 'font/ttf',
  mp3: 'audio/mpeg',
  ogg: 'audio/ogg',
  wasm: 'application/wasm',
};

export function mimeTypeFor(path) {
  const dot = path.lastIndexOf('.');
  return (dot >= 0 && MIME[path.slice(dot + 1).toLowerCase()]) || 'application/octet-stream';
}

/** @param {Map<string, {data: Buffer}>} entries */
export async function startPageServer(entries) {
  const requests = [];
  const server = createServer((req, res) => {
    let path = (req.url ?? '/').slice(1).split(/[?#]/)[0];
    if (path === '' || path.endsWith('/')) path += 'index.html';
    let status = 200;
    let body;
    let type = mimeTypeFor(path);
    if (path.includes('..') || path.includes('\\')) status = 400;
    else if (entries.has(path)) body = entries.get(path).data;
    else status = 404;
    if (status !== 200) {
      body = Buffer.from('not found');
      type = 'text/plain';
    }
    requests.push({ path, status, type });
    res.writeHead(status, { 'Content-Type': type, 'Content-Length': body.length });
    res.end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    origin: `http://127.0.0.1:${port}`,
    requests,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}
