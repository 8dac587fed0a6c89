// The viewer page: opens a .vek or BMP picture (file picker or drop), shows
// it at 50, 100 or 200 % or fitted to the window, and saves it as .vek, BMP
// or PNG. Every picture goes through the codec (a BMP is encoded first), so
// the page shows exactly what the codec restores and refuses what it
// refuses, with its reason; a refused file leaves the shown picture alone.
import { createVek } from './vek.js';

const codec = await createVek();
const $ = (id) => document.getElementById(id);
let canvas = $('picture');
const view = $('view');
const progress = $('progress');

// The picture shown: its name without extension, its .vek bytes, its BMP
// bytes once known, and its size.
let shown = null;
let zoom = '100';
let opening = 0;  // number of the latest open; older ones are dropped

function readFile(file) {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onprogress = (e) => {
      if (e.lengthComputable) progress.value = e.loaded / e.total;
    };
    reader.onload = () => resolve(new Uint8Array(reader.result));
    reader.onerror = () => reject(reader.error);
    reader.readAsArrayBuffer(file);
  });
}

function setBusy(text) {
  $('status').textContent = text;
  progress.hidden = text === null;
}

function showMessage(text, code) {
  const message = $('message');
  message.textContent = text;
  message.dataset.code = code ?? '';
  message.hidden = text === null;
}

async function open(file) {
  const ticket = ++opening;
  progress.max = 1;
  progress.value = 0;
  setBusy(`Reading ${file.name}…`);
  try {
    const bytes = await readFile(file);
    const isBmp = bytes.length >= 2 && bytes[0] === 0x42 && bytes[1] === 0x4d;  // "BM"
    let vek = bytes;
    if (isBmp) {
      progress.value = 0;
      setBusy(`Encoding ${file.name}…`);
      vek = await codec.encode(bytes, { onProgress: (percent) => { progress.value = percent / 100; } });
    }
    // Indeterminate while the codec decodes: it reports no steps of a decode.
    progress.removeAttribute('value');
    setBusy(`Decoding ${file.name}…`);
    const picture = await codec.decodeToRgba(vek);
    if (ticket !== opening) return;
    draw(picture);
    shown = {
      name: file.name.replace(/\.(vek|bmp)$/i, ''),
      vek, bmp: isBmp ? bytes : null, width: picture.width, height: picture.height,
    };
    for (const input of document.querySelectorAll('#zooms input, #bar button')) input.disabled = false;
    applyZoom();
    showMessage(null);
    setBusy(null);
    $('status').textContent = `${file.name}: ${picture.width} × ${picture.height}, ${picture.bitCount} bits per pixel`;
  } catch (e) {
    if (ticket !== opening) return;
    setBusy(null);
    showMessage(`${file.name} cannot be opened: ${e.message}.`, e.code);
    if (shown) $('status').textContent = '';
  }
}

// Paints the picture on a new canvas, which replaces the shown one only when
// the browser could make it (it refuses canvases past its size limit).
function draw(picture) {
  const next = document.createElement('canvas');
  next.id = 'picture';
  next.width = picture.width;
  next.height = picture.height;
  const context = next.getContext('2d');
  if (context === null) throw new Error('the picture is too large for this browser to show');
  const pixels = new Uint8ClampedArray(picture.pixels.buffer, picture.pixels.byteOffset, picture.pixels.length);
  context.putImageData(new ImageData(pixels, picture.width, picture.height), 0, 0);
  canvas.replaceWith(next);
  canvas = next;
  $('hint').hidden = true;
}

function applyZoom() {
  if (!shown) return;
  let width, height;
  // A fitted picture needs no scroll bars, and the room is measured without them.
  view.classList.toggle('fit', zoom === 'fit');
  if (zoom === 'fit') {
    const scale = Math.min(view.clientWidth / shown.width, view.clientHeight / shown.height);
    width = Math.max(1, Math.floor(shown.width * scale));
    height = Math.max(1, Math.floor(shown.height * scale));
  } else {
    // Truncated like the desktop viewer's: 101 pixels at 50 % are 50.
    width = Math.floor(shown.width * Number(zoom) / 100);
    height = Math.floor(shown.height * Number(zoom) / 100);
  }
  canvas.style.width = `${width}px`;
  canvas.style.height = `${height}px`;
}

function save(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

$('open').addEventListener('change', (e) => {
  if (e.target.files.length > 0) open(e.target.files[0]);
  e.target.value = '';  // the same file again is a new choice
});

for (const input of document.querySelectorAll('#zooms input')) {
  input.addEventListener('change', () => {
    zoom = input.value;
    applyZoom();
  });
}
window.addEventListener('resize', () => {
  if (zoom === 'fit') applyZoom();
});

$('save-vek').addEventListener('click', () => {
  save(new Blob([shown.vek], { type: 'application/octet-stream' }), `${shown.name}.vek`);
});
$('save-bmp').addEventListener('click', async () => {
  const picture = shown;
  try {
    picture.bmp ??= await codec.decode(picture.vek);
    save(new Blob([picture.bmp], { type: 'image/bmp' }), `${picture.name}.bmp`);
  } catch (e) {
    showMessage(`${picture.name}.bmp cannot be written: ${e.message}.`, e.code);
  }
});
$('save-png').addEventListener('click', () => {
  const name = `${shown.name}.png`;
  canvas.toBlob((blob) => save(blob, name), 'image/png');
});

// A file dropped anywhere on the page opens.
document.addEventListener('dragover', (e) => {
  e.preventDefault();
  view.classList.add('dropping');
});
document.addEventListener('dragleave', (e) => {
  if (e.relatedTarget === null) view.classList.remove('dropping');
});
document.addEventListener('drop', (e) => {
  e.preventDefault();
  view.classList.remove('dropping');
  if (e.dataTransfer.files.length > 0) open(e.dataTransfer.files[0]);
});

document.body.dataset.ready = 'true';
