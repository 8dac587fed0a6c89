// The codec's operations as plain synchronous functions over the
// WebAssembly module. The worker (vek-worker.js) runs them off the page's
// thread; createVek({ inline: true }) in vek.js runs them directly.
import createVekCodec from './vek-codec.mjs';

// A refusal or failure of the codec: `code` is the library's failure code,
// the message its text.
export class VekError extends Error {
  constructor(code, message) {
    super(message);
    this.name = 'VekError';
    this.code = code;
  }
}

// Slots of the module's info array.
const FAILURE = 0, SIZE = 1, WIDTH = 2, HEIGHT = 3, BIT_COUNT = 4, COLORS = 5, BMP_SIZE = 6;

// Loads the module; `options` go to the module factory (a Node host passes
// the .wasm file's bytes as wasmBinary).
export async function createCore(options = {}) {
  const m = await createVekCodec(options);
  const info = m._vekweb_info() >> 2;

  // Runs one operation on a copy of `bytes` in the module's memory and
  // returns what it describes; throws VekError when the codec refuses.
  function run(operation, bytes) {
    const input = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
    const at = m._malloc(Math.max(input.length, 1));
    if (at === 0) throw failure(14);
    try {
      m.HEAPU8.set(input, at);
      if (!operation(at, input.length)) throw failure(m.HEAP32[info + FAILURE]);
    } finally {
      m._free(at);
    }
    const h = m.HEAP32;
    return {
      width: h[info + WIDTH], height: h[info + HEIGHT], bitCount: h[info + BIT_COUNT],
      colors: h[info + COLORS], bmpSize: h[info + BMP_SIZE] >>> 0,
    };
  }

  function failure(code) {
    return new VekError(code, m.UTF8ToString(m._vekweb_failure_text(code)));
  }

  // The result buffer of the last operation, copied out of the module's
  // memory (which moves when it grows) and released there.
  function takeResult() {
    const at = m._vekweb_result();
    const copy = m.HEAPU8.slice(at, at + (m.HEAP32[info + SIZE] >>> 0));
    m._vekweb_release();
    return copy;
  }

  return {
    // BMP file bytes to .vek file bytes; onProgress(percent), if given, is
    // called as the encode goes (percentages that rise, not every one).
    encode(bmp, onProgress) {
      m.onProgress = onProgress;
      try {
        run(m._vekweb_encode, bmp);
      } finally {
        m.onProgress = null;
      }
      return takeResult();
    },
    // .vek file bytes to BMP file bytes.
    decode(vek) {
      run(m._vekweb_decode, vek);
      return takeResult();
    },
    // .vek file bytes to { width, height, bitCount, colors, bmpSize, pixels }:
    // RGBA pixels, top row first.
    decodeToRgba(vek) {
      const picture = run(m._vekweb_decode_rgba, vek);
      picture.pixels = takeResult();
      return picture;
    },
    // The picture that .vek file bytes describe (as decodeToRgba, without
    // pixels), from their header alone.
    readHeader(vek) {
      return run(m._vekweb_read_header, vek);
    },
  };
}
