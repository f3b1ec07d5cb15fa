// Draws the backdrop art (src/assets/skyline.svg): a night skyline with a
// setting sun. Seeded, so re-running gives the same picture.
// Run: node scripts/draw-skyline.mjs
import { writeFileSync } from 'node:fs';

const W = 1280;
const H = 591;
let seed = 20240611;
const rnd = () => ((seed = (seed * 1664525 + 1013904223) >>> 0) / 2 ** 32);
const between = (a, b) => a + (b - a) * rnd();
const r1 = (n) => Math.round(n * 10) / 10;

function buildings(baseY, minH, maxH, minW, maxW, fill, windows) {
  const parts = [];
  const lights = [];
  let x = -20;
  while (x < W + 20) {
    const w = Math.round(between(minW, maxW));
    const h = Math.round(between(minH, maxH) * (rnd() < 0.12 ? 1.6 : 1));
    const top = baseY - h;
    parts.push(`M${x} ${baseY}V${top}h${w}V${baseY}Z`);
    if (rnd() < 0.35) parts.push(`M${x + Math.round(w / 2) - 1} ${top}v-${Math.round(between(8, 26))}h2V${top}Z`);
    if (rnd() < 0.25) parts.push(`M${x + 4} ${top}v-6h${w - 8}v6Z`);
    if (windows) {
      for (let wy = top + 8; wy < baseY - 10; wy += 9) {
        for (let wx = x + 4; wx < x + w - 5; wx += 7) {
          if (rnd() < windows) lights.push(`M${wx} ${wy}h3v4h-3Z`);
        }
      }
    }
    x += w + Math.round(between(0, 5));
  }
  return { body: `<path fill="${fill}" d="${parts.join('')}"/>`, lights: lights.join('') };
}

function palm(x, baseY, h, lean) {
  const topX = x + lean;
  const topY = baseY - h;
  const trunk = `M${x - 2.5} ${baseY}Q${r1(x + lean * 0.3)} ${r1(baseY - h * 0.5)} ${topX - 1.2} ${topY}h2.4Q${r1(x + lean * 0.3 + 3)} ${r1(baseY - h * 0.5)} ${x + 2.5} ${baseY}Z`;
  const fronds = [];
  for (let i = 0; i < 7; i++) {
    const a = (-160 + i * 23 + between(-6, 6)) * (Math.PI / 180);
    const len = between(26, 38);
    const ex = topX + Math.cos(a) * len;
    const ey = topY + Math.sin(a) * len * 0.55 + len * 0.35;
    const cx = topX + Math.cos(a) * len * 0.5;
    const cy = topY + Math.sin(a) * len * 0.6 - 6;
    fronds.push(`M${topX} ${topY}Q${r1(cx)} ${r1(cy)} ${r1(ex)} ${r1(ey)}Q${r1(cx)} ${r1(cy + 5)} ${topX} ${topY + 2}Z`);
  }
  return trunk + fronds.join('');
}

const sun = { x: 668, y: 420, r: 150 };
const stripes = [];
for (let i = 0, y = sun.y - sun.r * 0.45; y < sun.y + sun.r; i++, y += 13 + i * 1.5) {
  stripes.push(`<rect x="${sun.x - sun.r}" y="${r1(y)}" width="${sun.r * 2}" height="${r1(2 + i * 1.6)}" fill="#050505"/>`);
}

const far = buildings(H - 110, 60, 150, 20, 52, '#2a1813', 0);
const back = buildings(H - 70, 70, 170, 26, 70, '#1a100d', 0.05);
const front = buildings(H - 20, 40, 120, 30, 86, '#0b0807', 0.1);
const palms = [palm(90, H - 20, 150, 14), palm(128, H - 20, 118, -10), palm(1040, H - 20, 160, -16), palm(1180, H - 20, 132, 12)];

const svg = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${W} ${H}" width="${W}" height="${H}" preserveAspectRatio="xMidYMax slice">
<defs>
<linearGradient id="sun" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#ffd27a"/><stop offset=".55" stop-color="#ff6a2b"/><stop offset="1" stop-color="#c2185b"/></linearGradient>
<radialGradient id="glow" cx=".5" cy=".5" r=".5"><stop offset="0" stop-color="#ff6a2b" stop-opacity=".45"/><stop offset="1" stop-color="#ff6a2b" stop-opacity="0"/></radialGradient>
<linearGradient id="horizon" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#ff6a2b" stop-opacity="0"/><stop offset="1" stop-color="#ff6a2b" stop-opacity=".16"/></linearGradient>
<linearGradient id="haze" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#050505" stop-opacity="0"/><stop offset="1" stop-color="#050505"/></linearGradient>
<clipPath id="sun-clip"><circle cx="${sun.x}" cy="${sun.y}" r="${sun.r}"/></clipPath>
<clipPath id="above-ground"><rect x="0" y="0" width="${W}" height="${H - 110}"/></clipPath>
</defs>
<ellipse cx="${sun.x}" cy="${sun.y}" rx="${sun.r * 2.6}" ry="${sun.r * 1.5}" fill="url(#glow)"/>
<g clip-path="url(#above-ground)"><g clip-path="url(#sun-clip)"><circle cx="${sun.x}" cy="${sun.y}" r="${sun.r}" fill="url(#sun)" opacity=".9"/>${stripes.join('')}</g></g>
<g opacity=".75">${far.body}</g>
<rect x="0" y="${H - 250}" width="${W}" height="140" fill="url(#horizon)"/>
${back.body}
<path fill="#ff9a4a" fill-opacity=".35" d="${back.lights}"/>
<rect x="0" y="${H - 190}" width="${W}" height="120" fill="url(#haze)" opacity=".55"/>
${front.body}
<path fill="#ffb347" fill-opacity=".55" d="${front.lights}"/>
<path fill="#070606" d="${palms.join('')}"/>
<rect x="0" y="${H - 40}" width="${W}" height="40" fill="#050505"/>
</svg>
`;

writeFileSync(new URL('../src/assets/skyline.svg', import.meta.url), svg);
console.log(`skyline.svg: ${svg.length} bytes`);
