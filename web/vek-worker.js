// The codec's thread: runs the operations that vek.js posts, one at a time,
// and posts back an encode's progress and each result (its buffers
// transferred, not copied) or the codec's failure.
import { createCore, VekError } from './vek-core.js';

let core = createCore();

self.onmessage = async (event) => {
  const { id, operation, bytes } = event.data;
  try {
    const codec = await core;
    const result = operation === 'encode'
      ? codec.encode(bytes, (percent) => self.postMessage({ id, progress: percent }))
      : codec[operation](bytes);
    const buffers = [];
    if (result instanceof Uint8Array) buffers.push(result.buffer);
    else if (result.pixels) buffers.push(result.pixels.buffer);
    self.postMessage({ id, result }, buffers);
  } catch (e) {
    if (e instanceof VekError) {
      self.postMessage({ id, failure: { code: e.code, message: e.message } });
      return;
    }
    // The module stopped (a trap): the next operation gets a new one.
    core = createCore();
    self.postMessage({ id, failure: { code: -1, message: String(e) } });
  }
};
