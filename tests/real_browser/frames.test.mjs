// The frames between the runtime library and the bridge: texts of any kind
// in fields, raw bytes in payloads, frames cut anywhere by the network.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { encodeFrame, FrameReader } from '../../tools/cef_real/bridge/frames.mjs';

const roundTrip = (chunks) => {
  const reader = new FrameReader();
  return chunks.flatMap((chunk) => reader.push(chunk));
};

describe('frames', () => {
  test('fields keep tabs, line ends, backslashes and Cyrillic; payloads keep every byte', () => {
    const fields = ['console', '2', 'http://ui/a\tb.js', 'line\none\r\\n', 'Основной сервер'];
    const payload = Buffer.from([0, 10, 9, 92, 255, 13]);
    const [frame] = roundTrip([encodeFrame(fields, payload)]);
    assert.deepEqual(frame.fields, fields);
    assert.deepEqual(frame.payload, payload);
  });

  test('a stream cut at every byte gives the same frames in order', () => {
    const script = "window.dispatchEvent(new CustomEvent('launcher',{detail:{}}));";
    const bytes = Buffer.concat([
      encodeFrame(['script', 'korval://launcher', '0'], script),
      encodeFrame(['closed']),
      encodeFrame(['answer', '7', '200', 'font/woff2'], Buffer.alloc(7000, 7)),
    ]);
    const frames = roundTrip([...bytes].map((b) => Buffer.from([b])));
    assert.deepEqual(
      frames.map((f) => [f.fields[0], f.payload.length]),
      [
        ['script', script.length],
        ['closed', 0],
        ['answer', 7000],
      ],
    );
  });

  test('a header without its payload length is refused, not guessed at', () => {
    assert.throws(() => new FrameReader().push(Buffer.from('console\thello\n')), /malformed/);
    assert.throws(() => new FrameReader().push(Buffer.from('\n')), /malformed/);
    assert.throws(() => new FrameReader().push(Buffer.alloc((1 << 20) + 1, 65)), /too long/);
  });
});
