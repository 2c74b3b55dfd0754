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
table{border-collapse:collapse}td{padding:1px 10px 1px 0}
.figures td:nth-child(2){text-align:right;font-variant-numeric:tabular-nums;min-width:6em}
.row{display:flex;gap:24px;align-items:flex-start;margin-top:12px}
#camera{display:none;border:1px solid #ccc;margin-top:8px}
</style></head><body>
<h3 id="title">vorex view</h3>
<canvas id="plot" width="800" height="500"></canvas>
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
</script></body></html>
)VIEW";

}  // namespace vorexctl

#endif
