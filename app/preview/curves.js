// The preview page's curve editor: a curve control (a table over a particle's
// age, or over the progress along the path) drawn over 0..1 with its points as
// handles, numeric entry for the selected point, and what the curve does with the
// current control values. Loaded after pages.js and before preview.js, whose
// state and edits it uses.
"use strict";

// The curve the tool uses for a list of points, as the session tabulates it: flat
// before the first point and after the last, straight between points.
function curveAt(points, x) {
  if (!points.length) return x;
  if (x <= points[0][0]) return points[0][1];
  const last = points[points.length - 1];
  if (x >= last[0]) return last[1];
  let k = 0;
  while (k + 1 < points.length && points[k + 1][0] < x) ++k;
  const [x0, y0] = points[k], [x1, y1] = points[k + 1];
  return x1 > x0 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y1;
}

// Points for a table of 16-bit entries: the fewest corners that keep every entry
// within a small tolerance, so that a table (an identity one among them) shows as
// the points it is made of.
function pointsOfTable(table) {
  const n = table.length - 1;
  if (n < 1) return [[0, 0], [1, 1]];
  const at = (i) => [i / n, table[i] / 65535];
  const keep = new Set([0, n]);
  const split = (a, b) => {
    const [xa, ya] = at(a), [xb, yb] = at(b);
    let worst = -1, far = 0.003;
    for (let i = a + 1; i < b; ++i) {
      const [x, y] = at(i);
      const d = Math.abs(y - (ya + (yb - ya) * (x - xa) / (xb - xa)));
      if (d > far) { far = d; worst = i; }
    }
    if (worst < 0) return;
    keep.add(worst);
    split(a, worst);
    split(worst, b);
  };
  split(0, n);
  return [...keep].sort((a, b) => a - b).map((i) => at(i).map((v) => +v.toFixed(4)));
}

// What each curve stands for, and how its result reads with the current controls.
const CurveMeaning = {
  GrowSpline: { x: "age", y: "share of Maximum size" },
  MergeSpline: { x: "age", y: "opacity" },
  BlurSpline: { x: "age", y: "share of Maximum Blur" },
  RedSpline: { x: "age", y: "red", colour: true },
  GreenSpline: { x: "age", y: "green", colour: true },
  BlueSpline: { x: "age", y: "blue", colour: true },
  ColorMorph: { x: "age", y: "share of the tint", colour: true },
  StrictDeviation: { x: "progress along the path", y: "share of Maximum Deviation" },
};

const controlNumber = (name, fallback) => {
  const c = S.controls[name];
  return c && typeof c.value === "number" ? c.value : fallback;
};
const switchOn = (name) => controlNumber(name, 0) !== 0;
const ages = [0, 0.25, 0.5, 0.75, 1];
const fmt = (v, digits) => String(+v.toFixed(digits));

// The particle picture's size in pixels when the flow names a built-in shape of
// a given size (read from the flow as edited when the page starts, when the
// server offers it).
let particlePixels = null;
async function readParticleSize() {
  try {
    const flow = await api("GET", "/api/flow");
    // Without "particle" the flow draws the built-in dot of 32 pixels.
    const p = flow && (flow.particle === undefined ? { shape: "dot", size: 32 } : flow.particle);
    if (p && typeof p === "object" && p.shape) particlePixels = typeof p.size === "number" ? p.size : 32;
  } catch (err) {
    particlePixels = null;  // an image file: its size is not known here
  }
}

// The curve's result as one line of text (and, for the colour curves, a strip
// of the tint over a white particle's life).
function curveResult(name, points) {
  const f = (x) => curveAt(points, x);
  const over = (g, digits, unit) => ages.map((t) => fmt(g(f(t)), digits) + unit).join(" \u2192 ");
  switch (name) {
  case "GrowSpline": {
    if (!switchOn("EnableGrow")) return "Grow is off: particles keep their size.";
    const size = switchOn("EnableScale") ? controlNumber("GeneralSize", 1) : 1;
    const factor = (y) => y * controlNumber("MaximumSize", 4) * size;
    const text = "Size at age 0, \u00bc, \u00bd, \u00be, 1 (a particle of size " + fmt(size, 3) + "): ";
    // Drawn sizes are whole pixels, cut toward zero, and at least 2.
    if (particlePixels !== null) return text + over((y) => Math.max(2, Math.trunc(factor(y) * particlePixels)), 0, " px");
    return text + over(factor, 2, "\u00d7") + " the particle picture";
  }
  case "MergeSpline":
    if (!switchOn("EnableFade")) return "Fade is off: particles keep their opacity.";
    return "Opacity at age 0, \u00bc, \u00bd, \u00be, 1: " + over((y) => y * 100, 0, "%");
  case "BlurSpline":
    if (!switchOn("EnableBlur")) return "Blur is off.";
    return "Blur (standard deviation) at age 0, \u00bc, \u00bd, \u00be, 1: " +
      over((y) => y * controlNumber("MaximumBlur", 100) * 0.1, 2, " px");
  case "StrictDeviation":
    return "Sideways displacement at progress 0, \u00bc, \u00bd, \u00be, 1: " +
      over((y) => y * controlNumber("MaximumDeviation", 2) * 65.5, 1, "%") + " of the picture";
  default:
    if (!CurveMeaning[name] || !CurveMeaning[name].colour) return "";
    if (!switchOn("ColorTinting")) return "Tinting is off.";
    return "A white particle's colour over its life:";
  }
}

// The tint over life: each colour curve's value, mixed into white by the morph curve.
function drawTintStrip(strip) {
  const g = strip.getContext("2d");
  const curve = (n) => (S.widgets[n] && S.widgets[n].points ? S.widgets[n].points() : null);
  const r = curve("RedSpline"), gr = curve("GreenSpline"), b = curve("BlueSpline"), m = curve("ColorMorph");
  for (let i = 0; i < strip.width; ++i) {
    const t = i / (strip.width - 1);
    const mix = m ? curveAt(m, t) : t;
    const ch = (c) => Math.round(255 * ((1 - mix) + mix * (c ? curveAt(c, t) : t)));
    g.fillStyle = `rgb(${ch(r)},${ch(gr)},${ch(b)})`;
    g.fillRect(i, 0, 1, strip.height);
  }
}

function curveEditor(input, name) {
  const div = row(input, name);
  const box = document.createElement("div");
  box.className = "curve-editor";
  const canvas = document.createElement("canvas");
  canvas.className = "curve";
  canvas.width = 180; canvas.height = 100;
  canvas.tabIndex = 0;
  canvas.dataset.control = name;
  const meaning = CurveMeaning[name] || { x: "x", y: "y" };
  canvas.title = `x: ${meaning.x}, y: ${meaning.y}. Click to add a point, drag to move it, ` +
    "double-click or Delete to remove it.";
  const entry = document.createElement("div");
  entry.className = "row";
  const fx = document.createElement("input"), fy = document.createElement("input");
  for (const f of [fx, fy]) {
    f.type = "number"; f.step = 0.01; f.min = 0; f.max = 1;
    f.dataset.control = name;
  }
  fx.setAttribute("aria-label", `${input.label}: ${meaning.x} of the selected point`);
  fy.setAttribute("aria-label", `${input.label}: ${meaning.y} of the selected point`);
  const remove = document.createElement("button");
  remove.textContent = "Remove";
  remove.title = "Remove the selected point";
  entry.append("x", fx, "y", fy, remove);
  const result = document.createElement("div");
  result.className = "curve-result";
  const strip = document.createElement("canvas");
  strip.className = "tint";
  strip.width = 180; strip.height = 10;
  strip.hidden = !meaning.colour;
  box.append(canvas, entry, result, strip);
  div.append(box);

  // Until the user edits it, the curve is shown but never written: a flow
  // without it keeps the tool's own table.
  let points = [[0, 0], [1, 1]];
  let selected = -1;
  const W = canvas.width, H = canvas.height, pad = 6;
  const gap = 0.001;  // the least distance between two points' x
  const toPx = (p) => [pad + p[0] * (W - 2 * pad), H - pad - p[1] * (H - 2 * pad)];
  const clamp = (v) => Math.min(1, Math.max(0, v));
  const fromEvent = (e) => {
    const r = canvas.getBoundingClientRect();
    const x = (e.clientX - r.left) * W / r.width, y = (e.clientY - r.top) * H / r.height;
    return [clamp((x - pad) / (W - 2 * pad)), clamp((H - pad - y) / (H - 2 * pad))];
  };
  // x stays between the neighbours, so that the points keep their order.
  const place = (i, p) => {
    const lo = i > 0 ? points[i - 1][0] + gap : 0, hi = i < points.length - 1 ? points[i + 1][0] - gap : 1;
    points[i] = [+Math.min(hi, Math.max(lo, p[0])).toFixed(4), +clamp(p[1]).toFixed(4)];
  };
  // A refresh leaves alone a field being typed in; the editor's own changes (force) do not.
  const draw = (force) => {
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, W, H);
    g.strokeStyle = "#333";
    g.strokeRect(pad, pad, W - 2 * pad, H - 2 * pad);
    g.beginPath();
    for (const q of [0.25, 0.5, 0.75]) {
      const [x] = toPx([q, 0]), [, y] = toPx([0, q]);
      g.moveTo(x, pad); g.lineTo(x, H - pad);
      g.moveTo(pad, y); g.lineTo(W - pad, y);
    }
    g.stroke();
    // The curve as the tool reads it, flat beyond the end points.
    g.strokeStyle = "#ffc83c";
    g.beginPath();
    const line = [[0, curveAt(points, 0)], ...points, [1, curveAt(points, 1)]];
    line.forEach((p, i) => { const [x, y] = toPx(p); if (i) g.lineTo(x, y); else g.moveTo(x, y); });
    g.stroke();
    points.forEach((p, i) => {
      const [x, y] = toPx(p);
      g.fillStyle = i === selected ? "#fff" : "#ffc83c";
      g.fillRect(x - 3.5, y - 3.5, 7, 7);
    });
    const has = selected >= 0 && selected < points.length;
    fx.disabled = fy.disabled = !has;
    remove.disabled = !has || points.length <= 2;
    for (const [f, i] of [[fx, 0], [fy, 1]])
      if (force === true || document.activeElement !== f) f.value = has ? points[selected][i] : "";
    result.textContent = curveResult(name, points);
    if (meaning.colour) {
      for (const n of ["RedSpline", "GreenSpline", "BlueSpline", "ColorMorph"]) {
        const w = S.widgets[n];
        if (w && w.tint) drawTintStrip(w.tint);
      }
    }
  };
  const near = (e) => {
    const r = canvas.getBoundingClientRect();
    const x = (e.clientX - r.left) * W / r.width, y = (e.clientY - r.top) * H / r.height;
    return points.findIndex((p) => { const [px, py] = toPx(p); return Math.hypot(px - x, py - y) < 7; });
  };
  const send = (final) => edit(name, { points: points.map((p) => [p[0], p[1]]) }, final);
  const removeSelected = () => {
    if (selected < 0 || points.length <= 2) return;
    points.splice(selected, 1);
    selected = Math.min(selected, points.length - 1);
    draw();
    send(true);
  };

  let dragging = false, moved = false;
  canvas.addEventListener("pointerdown", (e) => {
    if (e.button !== 0) return;
    canvas.focus();
    const i = near(e);
    if (i < 0) {
      // A new point where the click is, unless a point already sits at that x.
      const p = fromEvent(e);
      const at = points.findIndex((q) => q[0] > p[0]);
      const index = at < 0 ? points.length : at;
      if (points.some((q) => Math.abs(q[0] - p[0]) < gap)) return;
      points.splice(index, 0, p);
      place(index, p);
      selected = index;
      draw();
      send(true);
      return;
    }
    selected = i;
    dragging = true;
    moved = false;
    S.dragging = name;
    canvas.setPointerCapture(e.pointerId);
    draw();
  });
  canvas.addEventListener("pointermove", (e) => {
    if (!dragging) return;
    place(selected, fromEvent(e));
    moved = true;
    draw();
    send(false);
  });
  const release = () => {
    if (!dragging) return;
    dragging = false;
    S.dragging = null;
    if (moved) send(true);
  };
  canvas.addEventListener("pointerup", release);
  canvas.addEventListener("pointercancel", release);
  canvas.addEventListener("dblclick", (e) => {
    const i = near(e);
    if (i >= 0) { selected = i; removeSelected(); }
  });
  canvas.addEventListener("keydown", (e) => {
    if (e.key !== "Delete" && e.key !== "Backspace") return;
    e.preventDefault();
    e.stopPropagation();
    removeSelected();
  });
  const typed = () => {
    if (selected < 0) return;
    const x = Number(fx.value), y = Number(fy.value);
    if (fx.value === "" || fy.value === "" || !isFinite(x) || !isFinite(y))
      return message(`${input.label}: the point needs an x and a y in 0..1`, "error");
    place(selected, [x, y]);
    draw(true);
    send(true);
  };
  fx.addEventListener("change", typed);
  fy.addEventListener("change", typed);
  remove.addEventListener("click", removeSelected);

  const set = (v, c) => {
    const flow = c && c.flow;
    if (flow && Array.isArray(flow.points) && flow.points.length) points = flow.points.map((p) => [p[0], p[1]]);
    else if (flow && Array.isArray(flow.table) && flow.table.length > 1) points = pointsOfTable(flow.table);
    else if (v && Array.isArray(v.table) && v.table.length > 1) points = pointsOfTable(v.table);
    if (selected >= points.length) selected = -1;
    draw();
  };
  draw();
  return { row: div, set, points: () => points, tint: meaning.colour ? strip : null };
}

