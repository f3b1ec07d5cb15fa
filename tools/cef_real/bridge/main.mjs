#!/usr/bin/env node
// The bridge on its own, for the demo and for trying the launcher by hand:
//   node main.mjs [--port N] [--visible] [--once]
// Prints "bridge: listening on N" once the runtime library may connect;
// with --once it ends after the first browser has gone.
import { parseArgs } from 'node:util';
import { DEFAULT_PORT, startBridge } from './bridge.mjs';

const { values } = parseArgs({
  options: {
    port: { type: 'string', default: String(DEFAULT_PORT) },
    visible: { type: 'boolean', default: false },
    once: { type: 'boolean', default: false },
  },
});

const bridge = await startBridge({ port: Number(values.port), visible: values.visible });
console.log(`bridge: listening on ${bridge.port}${values.visible ? ', visible windows' : ''}`);

bridge.on('browser', (remote) => {
  console.log('bridge: a browser connected');
  remote.on('navigate', ({ url, cancel }) => console.log(`bridge: navigate ${url}${cancel ? ' (cancelled)' : ''}`));
  remote.on('closed', (reason) => console.log(`bridge: page closed (${reason === 'runtime' ? 'by the launcher' : 'by itself'})`));
  remote.ended.then(async () => {
    console.log('bridge: the browser is gone');
    if (values.once) {
      await bridge.close();
      process.exit(0);
    }
  });
});

const stop = async () => {
  await bridge.close();
  process.exit(0);
};
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
