// The one page vorexctl view serves, script and style included: nothing
// is fetched from anywhere but the viewer itself.
#ifndef VOREXCTL_VIEW_PAGE_H
#define VOREXCTL_VIEW_PAGE_H

namespace vorexctl {

// The plot's canvas has plot_layout's size and margins; the profile
// answer carries the axes that layout_for fitted, so the page draws what
// `plot` draws.
inline const char* const view_page = R"VIEW(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>vorex view</title>
<style>
body{font:14px sans-serif;margin:16px;color:#222;background:#fafafa}
#plot{background:#fff;border:1px solid #ccc;display:block}
#fall{background:#888;border:1px solid #ccc;display:block;width:400px;height:500px;image-rendering:pixelated}
.panels{display:flex;gap:16px;align-items:flex-start}
.caption{font-size:12px;color:#444}
table{border-collapse:collapse}td{padding:1px 10px 1px 0}
.figures td:nth-child(2){text-align:right;font-variant-numeric:tabular-nums;min-width:6em}
.row{display:flex;gap:24px;align-items:flex-start;margin-top:12px}
#camera{display:none;border:1px solid #ccc;margin-top:8px}
</style></head><body>
<h3 id="title">vorex view</h3>
<div class="panels">
<canvas id="plot" width="800" height="500"></canvas>
<div><canvas id="fall" width="400" height="300"></canvas>
<div class="caption" id="fall-caption">the last 300 profiles, newest at the bottom; bright: near the sensor</div></div>
</div>
<div class="row">
<table class="figures">
<tr><td>profiles/s</td><td id="rate">-</td></tr>
<tr><td>points per profile</td><td id="points">-</td></tr>
<tr><td>malformed</td><td id="malformed">-</td></tr>
<tr><td>received</td><td id="received">-</td></tr>
<tr><td>drawn here</td><td id="drawn">0</td></tr>
<tr><td>skipped here</td><td id="skipped">0</td></tr>
</table>
<table id="device"></table>
<div><button id="image-button">Camera image</button> <span id="image-status"></span><br>
<img id="camera" alt="camera image"></div>
</div>
<script>
"use strict";
const frame = 1000 / 30;  // redraw at most this often
const L = {left: 80, right: 24, top: 40, bottom: 60, width: 800, height: 500};
const canvas = document.getElementById("plot"), g = canvas.getContext("2d");
let drawn = 0, first = 0, last = 0;
const sleep = ms => new Promise(r => setTimeout(r, ms));
const $ = id => document.getElementById(id);

function text(v, step) {
  const d = Math.max(0, -Math.floor(Math.log10(step) + 1e-9));
  return v.toFixed(d);
}
function draw(p) {
  const w = L.width - L.left - L.right, h = L.height - L.top - L.bottom;
  const col = x => L.left + (x - p.x.min) / (p.x.max - p.x.min) * w;
  const row = z => L.top + (z - p.z.min) / (p.z.max - p.z.min) * h;
  g.fillStyle = "#fff"; g.fillRect(0, 0, L.width, L.height);
  g.strokeStyle = "#ddd"; g.fillStyle = "#444"; g.font = "12px sans-serif"; g.lineWidth = 1;
  g.textAlign = "center"; g.textBaseline = "top";
  for (const t of p.x.ticks) {
    const c = Math.round(col(t)) + 0.5;
    g.beginPath(); g.moveTo(c, L.top); g.lineTo(c, L.top + h); g.stroke();
    g.fillText(text(t, p.x.step), c, L.top + h + 6);
  }
  g.textAlign = "right"; g.textBaseline = "middle";
  for (const t of p.z.ticks) {
    const r = Math.round(row(t)) + 0.5;
    g.beginPath(); g.moveTo(L.left, r); g.lineTo(L.left + w, r); g.stroke();
    g.fillText(text(t, p.z.step), L.left - 6, r);
  }
  g.strokeStyle = "#888"; g.strokeRect(L.left + 0.5, L.top + 0.5, w, h);
  g.textAlign = "center"; g.textBaseline = "bottom"; g.font = "14px sans-serif";
  g.fillText("X (mm)", L.left + w / 2, L.height - 8);
  g.save(); g.translate(20, L.top + h / 2); g.rotate(-Math.PI / 2); g.fillText("Z (mm)", 0, 8); g.restore();
  g.textAlign = "left"; g.textBaseline = "top";
  g.fillText("profile " + p.sequence + ", type " + p.data_type + ", " + p.points.length + " points", L.left, 12);
  g.fillStyle = "#1f4e9a";
  for (const [x, z] of p.points) if (x !== null && z !== null) g.fillRect(col(x) - 1, row(z) - 1, 3, 3);
}
async function profiles() {
  for (;;) {
    const began = performance.now();
    try {
      const r = await fetch("/profile?after=" + last, {cache: "no-store"});
      if (r.status === 200) {
        const p = await r.json();
        if (!first) first = p.sequence;
        last = p.sequence;
        draw(p);
        ++drawn;
        $("drawn").textContent = drawn;
        $("skipped").textContent = last - first + 1 - drawn;
        document.body.dataset.drawn = drawn;
      }
    } catch (e) { await sleep(500); }
    const spent = performance.now() - began;
    if (spent < frame) await sleep(frame - spent);
  }
}
// The waterfall: each new profile a row at the bottom, the older ones
// scrolled up; viridis from far (dark) to near (bright) over the range seen.
const viridis = [[68,1,84],[72,26,108],[71,47,125],[65,68,135],[57,86,140],[49,104,142],[42,120,142],[35,136,142],[31,152,139],[34,168,132],[53,183,121],[84,197,104],[122,209,81],[165,219,54],[210,226,27],[253,231,37],[253,231,37]];
const fall = $("fall"), fg = fall.getContext("2d");
let fallLast = 0, zLow = Infinity, zHigh = -Infinity;
function colour(z, out, at) {
  if (z === null) { out[at] = out[at + 1] = out[at + 2] = 136; out[at + 3] = 255; return; }
  const t = zHigh > zLow ? (zHigh - z) / (zHigh - zLow) * (viridis.length - 1) : 0;
  const i = Math.min(viridis.length - 2, Math.floor(t)), f = t - i;
  for (let k = 0; k < 3; ++k) out[at + k] = viridis[i][k] + (viridis[i + 1][k] - viridis[i][k]) * f;
  out[at + 3] = 255;
}
async function waterfall() {
  for (;;) {
    const began = performance.now();
    try {
      const r = await fetch("/waterfall?after=" + fallLast, {cache: "no-store"});
      if (r.status === 200) {
        const w = await r.json();
        fallLast = w.last;
        for (const row of w.rows) for (const z of row) if (z !== null) { zLow = Math.min(zLow, z); zHigh = Math.max(zHigh, z); }
        const n = Math.min(w.rows.length, fall.height), rows = w.rows.slice(-n);
        if (n < fall.height) fg.drawImage(fall, 0, n, fall.width, fall.height - n, 0, 0, fall.width, fall.height - n);
        const img = fg.createImageData(fall.width, n);
        rows.forEach((row, y) => row.forEach((z, x) => colour(z, img.data, 4 * (y * fall.width + x))));
        fg.putImageData(img, 0, fall.height - n);
        $("fall-caption").textContent = "the last " + fall.height + " profiles, X " + w.x_min.toFixed(1) + " to " +
          w.x_max.toFixed(1) + " mm; bright: near (" + zLow.toFixed(1) + " mm), dark: far (" + zHigh.toFixed(1) + " mm)";
        document.body.dataset.fallen = fallLast;
      }
    } catch (e) { await sleep(500); }
    const spent = performance.now() - began;
    if (spent < frame) await sleep(frame - spent);
  }
}
async function figures() {
  for (;;) {
    try {
      const f = await (await fetch("/figures", {cache: "no-store"})).json();
      $("rate").textContent = f.rate.toFixed(1);
      $("points").textContent = f.points;
      $("malformed").textContent = f.malformed;
      $("received").textContent = f.received;
    } catch (e) {}
    await sleep(500);
  }
}
async function device() {
  const d = await (await fetch("/device")).json();
  $("title").textContent = "vorex view: sensor " + d.serial + " at " + d.ip;
  for (const [k, v] of Object.entries(d)) {
    const tr = $("device").insertRow();
    tr.insertCell().textContent = k.replace(/_/g, " ");
    tr.insertCell().textContent = v;
  }
}
$("image-button").onclick = () => {
  const img = $("camera");
  $("image-status").textContent = "fetching ...";
  delete img.dataset.loaded;
  img.onload = () => { img.style.display = "block"; img.dataset.loaded = "1"; $("image-status").textContent = ""; };
  img.onerror = () => { $("image-status").textContent = "the sensor sent no image"; };
  img.src = "/image.png?at=" + Date.now();
};
device();
figures();
profiles();
waterfall();
</script></body></html>
)VIEW";

}  // namespace vorexctl

#endif
