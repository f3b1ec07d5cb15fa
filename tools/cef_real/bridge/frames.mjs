// The frames between the runtime library (under Wine) and this bridge: a line
// of tab-separated fields whose last field is the length of the raw payload
// that follows the line. Fields escape backslash, tab, line feed and carriage
// return with a backslash.

const ESCAPES = { '\\': '\\\\', '\t': '\\t', '\n': '\\n', '\r': '\\r' };
const UNESCAPES = { t: '\t', n: '\n', r: '\r' };
// A header longer than this is no header: the library writes short ones.
const HEADER_LIMIT = 1 << 20;

export const escapeField = (text) => String(text).replace(/[\\\t\n\r]/g, (c) => ESCAPES[c]);
export const unescapeField = (text) => text.replace(/\\(.)/gs, (_, c) => UNESCAPES[c] ?? c);

export function encodeFrame(fields, payload = Buffer.alloc(0)) {
  const body = Buffer.isBuffer(payload) ? payload : Buffer.from(String(payload), 'utf8');
  const head = [...fields.map(escapeField), String(body.length)].join('\t') + '\n';
  return Buffer.concat([Buffer.from(head, 'utf8'), body]);
}

/** Collects bytes as they arrive and hands out whole frames. */
export class FrameReader {
  constructor() {
    this.buffer = Buffer.alloc(0);
  }

  /** Returns the frames completed by this chunk; throws on a malformed header. */
  push(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    const frames = [];
    for (;;) {
      const end = this.buffer.indexOf(0x0a);
      if (end < 0) {
        if (this.buffer.length > HEADER_LIMIT) throw new Error('frame header too long');
        return frames;
      }
      const parts = this.buffer.subarray(0, end).toString('utf8').split('\t');
      const length = parts.pop();
      if (parts.length === 0 || !/^\d{1,10}$/.test(length)) throw new Error('malformed frame header');
      const size = Number(length);
      if (this.buffer.length < end + 1 + size) return frames;
      frames.push({ fields: parts.map(unescapeField), payload: this.buffer.subarray(end + 1, end + 1 + size) });
      this.buffer = this.buffer.subarray(end + 1 + size);
    }
  }
}
