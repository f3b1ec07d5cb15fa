import { describe, expect, it } from 'vitest';
import { crc32, createZip, DOS_DATE, DOS_TIME, METHOD_DEFLATE, METHOD_STORE } from '../scripts/zip.mjs';
import { readZip } from '../e2e/support/zip-reader.mjs';

const text = (s: string) => new TextEncoder().encode(s);
const files = [
  { name: 'assets/index-abc.js', data: text('console.log("__launcher__:");\n'.repeat(50)) },
  { name: 'index.html', data: text('<!doctype html><title>KORVAL</title>') },
  { name: 'assets/font.woff2', data: new Uint8Array([0x77, 0x4f, 0x46, 0x32, 1, 2, 3]) },
];

describe('page archive writer', () => {
  it('round-trips every file with the right CRC', () => {
    const entries = readZip(createZip(files));
    for (const file of files) {
      const entry = entries.get(file.name)!;
      expect(Buffer.compare(entry.data, Buffer.from(file.data))).toBe(0);
      expect(entry.crc).toBe(crc32(file.data));
    }
  });

  it('matches the well-known CRC-32 check value', () => {
    expect(crc32(text('123456789'))).toBe(0xcbf43926);
  });

  it('gives the same bytes for the same files in any order, with sorted names and fixed times', () => {
    const a = createZip(files);
    const b = createZip([...files].reverse());
    expect(Buffer.compare(a, b)).toBe(0);
    const entries = readZip(a);
    expect([...entries.keys()]).toEqual(['assets/font.woff2', 'assets/index-abc.js', 'index.html']);
    for (const entry of entries.values()) expect([entry.time, entry.date]).toEqual([DOS_TIME, DOS_DATE]);
  });

  it('deflates what shrinks and stores what does not', () => {
    const entries = readZip(createZip(files));
    expect(entries.get('assets/index-abc.js')!.method).toBe(METHOD_DEFLATE);
    expect(entries.get('assets/font.woff2')!.method).toBe(METHOD_STORE);
  });

  it('refuses names the resource server would refuse or could not find', () => {
    for (const name of ['../index.html', '/index.html', 'assets\\a.js', '']) {
      expect(() => createZip([{ name, data: text('x') }])).toThrow(/bad archive entry/);
    }
    expect(() => createZip([files[1]!, files[1]!])).toThrow(/duplicate/);
  });
});
