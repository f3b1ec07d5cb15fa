const GIB = 1024 ** 3;

/**
 * Bytes as Russian-style gibibytes with one decimal ("9,3 ГБ"). Rounds down so
 * the free space shown is never more than there is.
 */
export function formatGigabytes(bytes: number): string {
  const tenths = Math.floor((Math.max(0, bytes) / GIB) * 10);
  const whole = Math.floor(tenths / 10)
    .toString()
    .replace(/\B(?=(\d{3})+(?!\d))/g, '\u202f');
  return `${whole},${tenths % 10} ГБ`;
}
