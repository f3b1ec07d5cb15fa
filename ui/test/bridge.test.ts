import { describe, expect, it, vi } from 'vitest';
import { createSender, listenLauncher } from '../src/protocol/bridge';

describe('page to launcher', () => {
  it('writes the prefix and the JSON as one console line', () => {
    const lines: string[] = [];
    createSender((line) => lines.push(line))({ type: 'nick', serverId: 'main', nick: 'Ab_Cd' });
    expect(lines).toEqual(['__launcher__:{"type":"nick","serverId":"main","nick":"Ab_Cd"}']);
  });
});

describe('launcher to page', () => {
  const dispatch = (target: EventTarget, detail: unknown) =>
    target.dispatchEvent(new CustomEvent('launcher', { detail }));

  it('hands over object details and drops anything else', () => {
    const target = new EventTarget();
    const seen: unknown[] = [];
    listenLauncher(target, (d) => seen.push(d));
    dispatch(target, { type: 'launching' });
    for (const detail of [null, 'launching', 42, [{ type: 'init' }], undefined]) dispatch(target, detail);
    target.dispatchEvent(new Event('launcher'));
    expect(seen).toEqual([{ type: 'launching' }]);
  });

  it('keeps listening after a handler fails', () => {
    const target = new EventTarget();
    const fault = vi.fn();
    let calls = 0;
    listenLauncher(
      target,
      () => {
        calls += 1;
        if (calls === 1) throw new Error('view broke');
      },
      fault,
    );
    dispatch(target, { type: 'progress' });
    dispatch(target, { type: 'progress' });
    expect(calls).toBe(2);
    expect(fault).toHaveBeenCalledTimes(1);
  });

  it('stops when unsubscribed', () => {
    const target = new EventTarget();
    const seen: unknown[] = [];
    const stop = listenLauncher(target, (d) => seen.push(d));
    stop();
    dispatch(target, { type: 'launching' });
    expect(seen).toEqual([]);
  });
});
