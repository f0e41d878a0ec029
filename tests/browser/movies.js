'use strict';
// The sample movies: tiny, valid Flash movies (uncompressed SWF, version 8) made from their address, so
// that every address a test clicks has a movie of its own and no movie file is kept in the repository.
// A movie is a coloured stage, a ground bar and a ball that bounces across it, one ShowFrame a frame;
// the colours come from the address. So does the number of frames, and no two movies that the sample
// pages embed or the tests add have the same number (play.test.js checks it): a test tells which movie
// a player loaded by the frame count it reports.
//
//   const { movieFor } = require('./movies');
//   const { bytes, frames } = movieFor('/movies/开场动画.swf');
//
// A movie can also be written to a file, to look at it in another player:
//   node tests/browser/movies.js /movies/clock.swf clock.swf

const WIDTH = 320; // pixels; the file counts in twips, 20 to a pixel
const HEIGHT = 240;
const FPS = 12;
const TWIPS = 20;

// The frame counts of the sample pages' movies, by the path their request names (as the browser writes
// it: percent-encoded), one count each. Any other address gets one of 28 to 99 frames from its hash.
const SAMPLE_FRAMES = new Map([
  ['/movies/absolute.swf', 18],
  ['/samples/clips/relative.swf', 19],
  ['/movies/rooted.swf', 20],
  ['/samples/noslash.swf', 21],
  ['/samples/clips/old/backslash.swf', 22],
  ['/samples/clips/mixed/part.swf', 23],
  [encodeURI('/samples/clips/片头 动画.swf'), 24],
  [encodeURI('/samples/movies/开场动画.swf'), 25],
  ['/samples/movies/snow-walk.swf', 26],
  ['/movies/clock.swf', 27],
]);

// [stage, ground, ball]: colours that tell one movie from the next.
const PALETTES = [
  [[0x1d, 0x3b, 0x6e], [0x4c, 0x9a, 0x5a], [0xf2, 0xb6, 0x2e]],
  [[0x2b, 0x2b, 0x2b], [0xd0, 0x5a, 0x3c], [0x6c, 0xc6, 0xe8]],
  [[0xf4, 0xe9, 0xd0], [0x7a, 0x54, 0x36], [0xc0, 0x2d, 0x4a]],
  [[0x12, 0x52, 0x4a], [0xe8, 0xd8, 0x8a], [0xff, 0xff, 0xff]],
];

// Writes bit fields most significant bit first, as SWF packs them; byte() pads to the next byte.
class Bits {
  constructor() {
    this.bytes = [];
    this.used = 8; // bits used in the last byte
  }

  unsigned(count, value) {
    for (let bit = count - 1; bit >= 0; bit--) {
      if (this.used === 8) {
        this.bytes.push(0);
        this.used = 0;
      }
      if ((value >>> bit) & 1) this.bytes[this.bytes.length - 1] |= 0x80 >>> this.used;
      this.used += 1;
    }
  }

  signed(count, value) {
    this.unsigned(count, value < 0 ? value + 2 ** count : value);
  }

  byte(...values) {
    this.used = 8;
    this.bytes.push(...values);
  }

  u16(value) {
    this.byte(value & 0xff, value >>> 8);
  }
}

// Bits a signed field needs for all these values; at least 1, as some readers trip on empty fields.
function signedBits(...values) {
  let bits = 1;
  for (const value of values) while (value < -(2 ** (bits - 1)) || value >= 2 ** (bits - 1)) bits += 1;
  return bits;
}

function rect(out, xMin, xMax, yMin, yMax) {
  const bits = signedBits(xMin, xMax, yMin, yMax);
  out.unsigned(5, bits);
  for (const value of [xMin, xMax, yMin, yMax]) out.signed(bits, value);
}

// A tag: a 10-bit code and a 6-bit length, or 0x3f and a 32-bit length for 63 bytes and more.
function tag(code, body = []) {
  const head = body.length < 0x3f ? [] : [body.length, body.length >>> 8, body.length >>> 16, body.length >>> 24];
  const short = (code << 6) | Math.min(body.length, 0x3f);
  return [short & 0xff, short >>> 8, ...head, ...body];
}

// DefineShape (code 2) of one solid colour, outlined by edges from (x, y): [dx, dy] a straight edge,
// [cx, cy, dx, dy] a curve with its control point; all in twips, relative to the point before.
function defineShape(id, colour, bounds, [x, y], edges) {
  const out = new Bits();
  out.u16(id);
  rect(out, ...bounds);
  out.byte(1, 0x00, ...colour, 0); // one solid fill style, no line styles
  out.unsigned(4, 1); // fill style index bits
  out.unsigned(4, 0); // line style index bits
  // Style change: move to the start, fill style 1 (the right-hand side of a clockwise outline).
  out.unsigned(6, 0b000101);
  const moveBits = signedBits(x, y);
  out.unsigned(5, moveBits);
  out.signed(moveBits, x);
  out.signed(moveBits, y);
  out.unsigned(1, 1);
  for (const edge of edges) {
    const bits = Math.max(2, signedBits(...edge));
    out.unsigned(1, 1); // an edge
    out.unsigned(1, edge.length === 2 ? 1 : 0); // straight, or curved
    out.unsigned(4, bits - 2);
    if (edge.length === 2) out.unsigned(1, 1); // a general line: both deltas
    for (const value of edge) out.signed(bits, value);
  }
  out.unsigned(6, 0); // end of shape
  return tag(2, out.bytes);
}

// PlaceObject2 (code 26) of a character at a depth, or a move of the one there, to (x, y) scaled.
function placeObject(depth, { character, x, y, scaleX = 1, scaleY = 1 }) {
  const out = new Bits();
  out.byte(character === undefined ? 0b101 : 0b110); // has matrix; move, or has character
  out.u16(depth);
  if (character !== undefined) out.u16(character);
  const scales = [scaleX, scaleY].map((scale) => Math.round(scale * 65536)); // 16.16 fixed point
  const scaleBits = signedBits(...scales);
  out.unsigned(1, 1);
  out.unsigned(5, scaleBits);
  for (const scale of scales) out.signed(scaleBits, scale);
  out.unsigned(1, 0); // no rotation
  const translateBits = signedBits(x, y);
  out.unsigned(5, translateBits);
  out.signed(translateBits, x);
  out.signed(translateBits, y);
  return tag(26, out.bytes);
}

// A circle of radius r around (0, 0), as eight quadratic curves clockwise from its top.
function circleEdges(r) {
  const edges = [];
  let [px, py] = [0, -r];
  for (let i = 1; i <= 8; i++) {
    const angle = (i * Math.PI) / 4 - Math.PI / 2;
    const mid = angle - Math.PI / 8;
    const control = r / Math.cos(Math.PI / 8);
    const [cx, cy] = [Math.round(control * Math.cos(mid)), Math.round(control * Math.sin(mid))];
    const [ax, ay] = [Math.round(r * Math.cos(angle)), Math.round(r * Math.sin(angle))];
    edges.push([cx - px, cy - py, ax - cx, ay - cy]);
    [px, py] = [ax, ay];
  }
  return edges;
}

// FNV-1a over the address's UTF-8 bytes: the same address gives the same movie in every run.
function hash(text) {
  let value = 0x811c9dc5;
  for (const byte of Buffer.from(text, 'utf8')) value = Math.imul(value ^ byte, 0x01000193) >>> 0;
  return value;
}

// The movie for an address (the path of its URL, as the request gives it): its bytes and what it is.
function movieFor(address) {
  const seed = hash(address);
  const [stage, ground, ball] = PALETTES[seed % PALETTES.length];
  // 18 to 99: one and a half to eight seconds a loop
  const frames = SAMPLE_FRAMES.get(address) || 28 + ((seed >>> 8) % 72);
  const groundTop = (HEIGHT - 40) * TWIPS;
  const radius = 28 * TWIPS;

  const body = [
    ...tag(69, [0, 0, 0, 0]), // FileAttributes, first in a version 8 file: no ActionScript 3, no network
    ...tag(9, stage), // SetBackgroundColor
    ...defineShape(1, ground, [0, WIDTH * TWIPS, 0, 40 * TWIPS], [0, 0],
      [[WIDTH * TWIPS, 0], [0, 40 * TWIPS], [-WIDTH * TWIPS, 0], [0, -40 * TWIPS]]),
    ...defineShape(2, ball, [-radius, radius, -radius, radius], [0, -radius], circleEdges(radius)),
    ...placeObject(1, { character: 1, x: 0, y: groundTop }),
  ];
  for (let frame = 0; frame < frames; frame++) {
    // Left to right once a loop, bouncing three times, squashed where it meets the ground. The ball is
    // somewhere else in every frame, so no two pictures of one loop look alike.
    const along = frame / frames;
    const height = Math.abs(Math.sin(3 * Math.PI * along));
    const squash = 1 - (0.25 * Math.max(0, 0.3 - height)) / 0.3;
    const ballPlace = {
      x: Math.round(along * WIDTH * TWIPS),
      y: Math.round(groundTop - radius * squash - height * (HEIGHT - 110) * TWIPS),
      scaleX: 2 - squash,
      scaleY: squash,
    };
    body.push(...placeObject(2, frame === 0 ? { character: 2, ...ballPlace } : ballPlace));
    body.push(...tag(1)); // ShowFrame
  }
  body.push(...tag(0)); // End

  const head = new Bits();
  head.byte(0x46, 0x57, 0x53, 8, 0, 0, 0, 0); // "FWS", version 8, length filled in below
  rect(head, 0, WIDTH * TWIPS, 0, HEIGHT * TWIPS);
  head.byte(0, FPS); // frames a second, 8.8 fixed point
  head.u16(frames);
  const bytes = Buffer.from([...head.bytes, ...body]);
  bytes.writeUInt32LE(bytes.length, 4);
  return { bytes, frames, width: WIDTH, height: HEIGHT, frameRate: FPS };
}

if (require.main === module) {
  const [address, file] = process.argv.slice(2);
  if (!address || !file) {
    console.error('usage: node tests/browser/movies.js ADDRESS OUT.swf');
    process.exit(2);
  }
  const movie = movieFor(address);
  require('fs').writeFileSync(file, movie.bytes);
  console.log(`${file}: ${movie.bytes.length} bytes, ${movie.frames} frames, ${movie.width} x ${movie.height}, `
    + `${movie.frameRate} fps`);
}

module.exports = { movieFor };
