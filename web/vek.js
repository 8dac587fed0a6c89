// VEK pictures in JavaScript: the codec in WebAssembly, behind promises.
//
//   import { encode, decode, decodeToRgba, readHeader } from './vek.js';
//   const picture = await decodeToRgba(vekBytes);   // { width, height, pixels, ... }
//
// The functions take an ArrayBuffer or Uint8Array and run the codec in a
// Web Worker, so that a large picture never holds up the page; operations
// run one after the other in the order they were called. A refusal rejects
// with a VekError whose `code` is the library's failure code and whose
// message is its text (code -1: the codec could not run at all).
//
// createVek({ inline: true, wasmBinary }) gives the same functions running
// in the caller's thread, for hosts without module workers (Node).
import { VekError } from './vek-core.js';

export { VekError };

function workerCodec() {
  let worker = null;
  let next = 0;
  const waiting = new Map();

  function call(operation, bytes, onProgress) {
    if (worker === null) {
      worker = new Worker(new URL('./vek-worker.js', import.meta.url), { type: 'module' });
      worker.onmessage = ({ data }) => {
        const { resolve, reject, onProgress: progress } = waiting.get(data.id);
        if (data.progress !== undefined) {
          progress?.(data.progress);
          return;
        }
        waiting.delete(data.id);
        if (data.failure) reject(new VekError(data.failure.code, data.failure.message));
        else resolve(data.result);
      };
      // A worker that cannot start (its files missing or refused) fails
      // every call waiting on it.
      worker.onerror = (event) => {
        event.preventDefault();
        for (const { reject } of waiting.values()) reject(new VekError(-1, event.message || 'the codec could not be loaded'));
        waiting.clear();
        worker.terminate();
        worker = null;
      };
    }
    return new Promise((resolve, reject) => {
      const id = next++;
      waiting.set(id, { resolve, reject, onProgress });
      // A copy goes to the worker (moved, not copied again): the caller
      // keeps its bytes.
      const copy = ArrayBuffer.isView(bytes)
        ? new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength).slice()
        : new Uint8Array(bytes.slice(0));
      worker.postMessage({ id, operation, bytes: copy }, [copy.buffer]);
    });
  }

  return operationsOver(call);
}

function operationsOver(call) {
  return {
    // BMP file bytes to .vek file bytes (Uint8Array). options.onProgress,
    // if given, receives the encode's percentages as it goes.
    encode: (bmp, options = {}) => call('encode', bmp, options.onProgress),
    // .vek file bytes to BMP file bytes (Uint8Array).
    decode: (vek) => call('decode', vek),
    // .vek file bytes to { width, height, bitCount, colors, bmpSize, pixels }:
    // RGBA pixels (Uint8Array), top row first, fully opaque.
    decodeToRgba: (vek) => call('decodeToRgba', vek),
    // The same description from the 12-byte header alone, without pixels.
    readHeader: (vek) => call('readHeader', vek),
  };
}

// A codec of its own: in a worker of its own, or with { inline: true } in
// this thread (other options go to the WebAssembly module's factory).
export async function createVek(options = {}) {
  const { inline, ...moduleOptions } = options;
  if (!inline) return workerCodec();
  const { createCore } = await import('./vek-core.js');
  const core = await createCore(moduleOptions);
  return operationsOver(async (operation, bytes, onProgress) => core[operation](bytes, onProgress));
}

let shared = null;
function sharedCodec() {
  if (shared === null) shared = workerCodec();
  return shared;
}

export const encode = (bmp, options) => sharedCodec().encode(bmp, options);
export const decode = (vek) => sharedCodec().decode(vek);
export const decodeToRgba = (vek) => sharedCodec().decodeToRgba(vek);
export const readHeader = (vek) => sharedCodec().readHeader(vek);
