// The codec's thread: runs the operations that vek.js posts, one at a time,
// and posts back each result (its buffers transferred, not copied) or the
// codec's failure.
import { createCore, VekError } from './vek-core.js';

const core = createCore();

self.onmessage = async (event) => {
  const { id, operation, bytes } = event.data;
  try {
    const codec = await core;
    const result = codec[operation](bytes);
    const buffers = [];
    if (result instanceof Uint8Array) buffers.push(result.buffer);
    else if (result.pixels) buffers.push(result.pixels.buffer);
    self.postMessage({ id, result }, buffers);
  } catch (e) {
    const failure = e instanceof VekError ? { code: e.code, message: e.message } : { code: -1, message: String(e) };
    self.postMessage({ id, failure });
  }
};
