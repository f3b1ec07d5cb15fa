import type { ProgressEvent } from '../protocol/events';
import { formatCount, formatSize, formatSizeOf } from './format';

/** The download rate as the page has come to trust it over several reports. */
export interface RateTrack {
  /** Bytes per second, an exponential moving average of the launcher's samples. */
  rate: number;
  samples: number;
}

/**
 * How much each new sample moves the average. The launcher reports about four
 * times a second, so this settles over a few seconds: enough to ride out one
 * slow file without hiding a real change of speed for long.
 */
const RATE_WEIGHT = 0.15;

/** Samples needed before the time left is worth showing at all. */
const SAMPLES_FOR_ESTIMATE = 2;

/** Folds one progress report into the rate; anything but a download starts over. */
export function trackRate(track: RateTrack | null, p: ProgressEvent): RateTrack | null {
  if (p.phase !== 'download') return null;
  const sample = p.bytesPerSecond ?? 0;
  // 0 means the launcher has nothing measured yet, not that the download stopped.
  if (sample <= 0) return track;
  if (!track) return { rate: sample, samples: 1 };
  return { rate: track.rate + RATE_WEIGHT * (sample - track.rate), samples: track.samples + 1 };
}

/** Seconds until the download ends, or null while there is no estimate to trust. */
export function secondsLeft(track: RateTrack | null, p: ProgressEvent): number | null {
  if (p.phase !== 'download' || !track || track.samples < SAMPLES_FOR_ESTIMATE || track.rate <= 0) return null;
  if (p.bytesTotal === undefined || p.bytesDone === undefined || p.bytesTotal <= 0) return null;
  return Math.max(0, p.bytesTotal - p.bytesDone) / track.rate;
}

/**
 * The line under the title. While files are checked or downloaded and the
 * launcher gave the figures, the page writes them in its own number style;
 * otherwise the launcher's text stands as it came.
 */
export function progressDetails(p: ProgressEvent): string {
  if (p.phase !== 'check' && p.phase !== 'download') return p.details;
  const parts: string[] = [];
  const filesTotal = p.filesTotal ?? 0;
  if (filesTotal > 0) {
    const done = p.filesDone ?? 0;
    // Like the launcher's own text: checking counts finished files, downloading
    // names the file under way.
    parts.push(
      p.phase === 'check'
        ? `Проверено ${formatCount(done)} из ${formatCount(filesTotal)}`
        : `Файл ${formatCount(Math.min(done + 1, filesTotal))} из ${formatCount(filesTotal)}`,
    );
  }
  const bytesTotal = p.bytesTotal ?? 0;
  if (bytesTotal > 0) parts.push(`${formatSize(p.bytesDone ?? 0)} из ${formatSize(bytesTotal)}`);
  return parts.length > 0 ? parts.join(' · ') : p.details;
}

/**
 * What the stopped job had got through, from its last report: "Скачано 1,2 из
 * 3,4 ГБ". Without the figures the launcher's own text stands.
 */
export function doneSoFar(p: ProgressEvent): string {
  const total = p.bytesTotal ?? 0;
  if ((p.phase !== 'check' && p.phase !== 'download') || total <= 0) return progressDetails(p);
  return `${p.phase === 'check' ? 'Проверено' : 'Скачано'} ${formatSizeOf(p.bytesDone ?? 0, total)}`;
}
