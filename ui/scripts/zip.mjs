// A small ZIP writer for the page archive. The launcher reads the archive with
// a plain ZIP reader, so only the classic format is written: no ZIP64, no
// extra fields, methods "store" and "deflate". The same files always give the
// same bytes: entries are sorted and every time stamp is fixed.
import { deflateRawSync } from 'node:zlib';

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

export function crc32(data) {
  let c = 0xffffffff;
  for (let i = 0; i < data.length; i++) c = CRC_TABLE[(c ^ data[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

export const METHOD_STORE = 0;
export const METHOD_DEFLATE = 8;
// 1980-01-01 00:00:00, the earliest DOS date: nothing about the build machine leaks in.
export const DOS_TIME = 0;
export const DOS_DATE = (0 << 9) | (1 << 5) | 1;
const FLAG_UTF8 = 0x0800;
const MAX_32 = 0xffffffff;

function checkName(name) {
  if (name === '' || name.startsWith('/') || name.includes('\\') || name.split('/').includes('..')) {
    throw new Error(`bad archive entry name: ${JSON.stringify(name)}`);
  }
}

/**
 * @param {{ name: string, data: Uint8Array }[]} files  names with "/" separators
 * @returns {Buffer}
 */
export function createZip(files) {
  const sorted = [...files].sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  const locals = [];
  const centrals = [];
  let offset = 0;
  const seen = new Set();

  for (const { name, data } of sorted) {
    checkName(name);
    if (seen.has(name)) throw new Error(`duplicate archive entry: ${name}`);
    seen.add(name);
    const nameBytes = Buffer.from(name, 'utf8');
    const crc = crc32(data);
    const deflated = deflateRawSync(data, { level: 9 });
    // Fonts and images are already compressed; storing them saves the reader work.
    const method = deflated.length < data.length ? METHOD_DEFLATE : METHOD_STORE;
    const body = method === METHOD_DEFLATE ? deflated : Buffer.from(data);
    if (data.length >= MAX_32 || offset + body.length >= MAX_32) throw new Error('archive too large for classic ZIP');
    const flags = /[^\x20-\x7e]/.test(name) ? FLAG_UTF8 : 0;

    const local = Buffer.alloc(30);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(20, 4); // version needed: 2.0
    local.writeUInt16LE(flags, 6);
    local.writeUInt16LE(method, 8);
    local.writeUInt16LE(DOS_TIME, 10);
    local.writeUInt16LE(DOS_DATE, 12);
    local.writeUInt32LE(crc, 14);
    local.writeUInt32LE(body.length, 18);
    local.writeUInt32LE(data.length, 22);
    local.writeUInt16LE(nameBytes.length, 26);
    local.writeUInt16LE(0, 28);

    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4); // made by: MS-DOS, 2.0
    central.writeUInt16LE(20, 6);
    central.writeUInt16LE(flags, 8);
    central.writeUInt16LE(method, 10);
    central.writeUInt16LE(DOS_TIME, 12);
    central.writeUInt16LE(DOS_DATE, 14);
    central.writeUInt32LE(crc, 16);
    central.writeUInt32LE(body.length, 20);
    central.writeUInt32LE(data.length, 24);
    central.writeUInt16LE(nameBytes.length, 28);
    // extra length, comment length, disk number, internal and external attributes stay 0
    central.writeUInt32LE(offset, 42);

    locals.push(local, nameBytes, body);
    centrals.push(central, nameBytes);
    offset += local.length + nameBytes.length + body.length;
  }

  const centralSize = centrals.reduce((n, b) => n + b.length, 0);
  if (sorted.length > 0xffff) throw new Error('too many archive entries for classic ZIP');
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(sorted.length, 8);
  end.writeUInt16LE(sorted.length, 10);
  end.writeUInt32LE(centralSize, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...locals, ...centrals, end]);
}
