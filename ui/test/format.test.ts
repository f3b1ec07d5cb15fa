import { describe, expect, it } from 'vitest';
import { formatGigabytes } from '../src/domain/format';

describe('sizes in ГБ', () => {
  it('writes gibibytes with a decimal comma, rounding down', () => {
    expect(formatGigabytes(10000000000)).toBe('9,3 ГБ');
    expect(formatGigabytes(1.99 * 1024 ** 3)).toBe('1,9 ГБ');
    expect(formatGigabytes(0)).toBe('0,0 ГБ');
  });

  it('groups thousands so large disks stay readable', () => {
    expect(formatGigabytes(2048 * 1024 ** 3)).toBe('2\u202f048,0 ГБ');
  });
});
