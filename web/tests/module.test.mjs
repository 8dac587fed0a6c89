// The module's API under node, in this thread (the page tests drive it
// through the worker): header-only reads, BMP output of every bit count
// against the native converter, an encode's progress, and refusals as VekError with the library's
// code and text, after which the same codec goes on working.
// Environment: VEK_WEB, VEK_LINUX_BIN, VEK_TEST_DATA (as for the page tests).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

const web = process.env.VEK_WEB;
const vekconv = path.join(process.env.VEK_LINUX_BIN, 'vekconv');
const suite = path.join(process.env.VEK_TEST_DATA, 'bmpsuite', 'g');
const { createVek, VekError } = await import(path.join(web, 'vek.js'));
const codec = await createVek({ inline: true, wasmBinary: fs.readFileSync(path.join(web, 'vek-codec.wasm')) });
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vek-module-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));

// The native .vek and restored BMP of a bmpsuite picture.
function native(name) {
  const vek = path.join(work, `${name}.vek`), bmp = path.join(work, `${name}.bmp`);
  execFileSync(vekconv, ['e', path.join(suite, `${name}.bmp`), vek]);
  execFileSync(vekconv, ['d', vek, bmp]);
  return { vek: fs.readFileSync(vek), bmp: fs.readFileSync(bmp) };
}

test('the header alone describes the picture that decoding gives', async () => {
  for (const [name, bitCount] of [['pal8', 8], ['rgb16', 16], ['rgb24', 24], ['rgb32', 32]]) {
    const { vek, bmp } = native(name);
    const header = await codec.readHeader(vek.subarray(0, 12));
    assert.deepEqual(header, { width: 127, height: 64, bitCount, colors: (bmp.readUInt32LE(10) - 54) / 4,
                               bmpSize: bmp.length });
    const picture = await codec.decodeToRgba(vek);
    assert.equal(picture.pixels.length, 127 * 64 * 4);
    assert.deepEqual({ ...picture, pixels: undefined }, { ...header, pixels: undefined });
    assert.deepEqual(await codec.decode(vek), new Uint8Array(bmp));
  }
});

test('an encode reports its progress as it goes', async () => {
  const seen = [];
  const vek = await codec.encode(fs.readFileSync(path.join(suite, 'rgb24.bmp')), { onProgress: (p) => seen.push(p) });
  assert.deepEqual(vek, new Uint8Array(native('rgb24').vek));
  assert.ok(seen.length > 10, `${seen}`);
  assert.ok(seen.every((p, k) => p >= 1 && p <= 100 && (k === 0 || p > seen[k - 1])), `${seen}`);
});

test('refusals reject with the library code and text, and the codec goes on', async () => {
  const { vek } = native('rgb24');
  const bmp = (name) => fs.readFileSync(path.join(suite, `${name}.bmp`));
  const cases = [
    ['encode', vek, 4, 'the input is not a BMP picture'],
    ['encode', bmp('pal1'), 7, 'only BMP pictures with 8, 16, 24 or 32 bits per pixel are supported'],
    ['encode', bmp('pal8rle'), 6, 'compressed BMP pictures are not supported'],
    ['encode', bmp('pal8topdown'), 8, 'BMP pictures stored top-down are not supported'],
    ['decode', bmp('rgb24'), 11, 'the input is not a .vek file'],
    ['decodeToRgba', new Uint8Array(0), 11, 'the input is not a .vek file'],
    ['decodeToRgba', vek.subarray(0, vek.length - 100), 12, 'the .vek file is damaged or cut short'],
    ['readHeader', vek.subarray(0, 8), 12, 'the .vek file is damaged or cut short'],
  ];
  for (const [operation, bytes, code, text] of cases) {
    await assert.rejects(codec[operation](bytes), (e) => {
      assert.ok(e instanceof VekError);
      assert.equal(e.code, code, `${operation}: ${e.message}`);
      assert.ok(e.message.startsWith(text), e.message);
      return true;
    });
    assert.deepEqual(await codec.encode(bmp('rgb24')), new Uint8Array(vek));
  }
});
