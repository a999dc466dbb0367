// The preview page's viewer: the frame with the tool's points and splines drawn
// over it at their image positions, zoom and pan, and the page's keyboard
// shortcuts. Loaded before preview.js, whose state (S), edits and timeline it uses
// once the page has started.
"use strict";

const SvgNs = "http://www.w3.org/2000/svg";
// The splines drawn on the viewer, each with the switch that puts it to use.
const Splines = { BirthSpline: "UseBirthSpline", PathPolyline: "PathBinding" };
// The tool fits its curve through the first 100 points of a polyline only.
const SplineMaxPoints = 100;
const ZoomLimits = [0.05, 32];

const V = { panX: 0, panY: 0, selected: null, space: null, drag: null };

// --- placement: image pixels to the viewer and back ---

function layout() {
  if (!S.width) return;
  const viewer = $("viewer");
  if (S.fit) {
    const scale = Math.min((viewer.clientWidth - 4) / S.width, (viewer.clientHeight - 4) / S.height);
    S.scale = scale > 0 ? scale : 1;
    V.panX = (viewer.clientWidth - S.width * S.scale) / 2;
    V.panY = (viewer.clientHeight - S.height * S.scale) / 2;
  }
  S.scale = S.scale || 1;
  const img = $("frame");
  img.style.width = S.width * S.scale + "px";
  img.style.height = S.height * S.scale + "px";
  $("stage").style.transform = `translate(${V.panX}px, ${V.panY}px)`;
  $("overlay").setAttribute("viewBox", `0 0 ${S.width} ${S.height}`);
  $("fit").classList.toggle("on", S.fit);
  $("actual").classList.toggle("on", !S.fit && S.scale === 1);
  drawOverlay();
}

// "fit", 1 (100 %, centred), or a zoom by `factor` about a point of the viewer.
function zoomTo(how, factor, at) {
  const viewer = $("viewer");
  if (how === "fit") {
    S.fit = true;
  } else if (how === 1) {
    S.fit = false;
    S.scale = 1;
    V.panX = (viewer.clientWidth - S.width) / 2;
    V.panY = (viewer.clientHeight - S.height) / 2;
  } else {
    const scale = Math.min(ZoomLimits[1], Math.max(ZoomLimits[0], S.scale * factor));
    // The image point under `at` stays under it.
    V.panX = at[0] - (at[0] - V.panX) * scale / S.scale;
    V.panY = at[1] - (at[1] - V.panY) * scale / S.scale;
    S.scale = scale;
    S.fit = false;
  }
  layout();
}

// A pointer position as image coordinates in 0..1 (beyond it outside the frame).
function imageAt(ev) {
  const rect = $("frame").getBoundingClientRect();
  return [(ev.clientX - rect.left) / rect.width, (ev.clientY - rect.top) / rect.height];
}

// --- splines ---

// A polyline value with every point as {x, y, in, out}; points are relative to
// the image centre, handles relative to their point.
function splineOf(name) {
  if (V.drag && V.drag.name === name) return V.drag.value;
  const c = S.controls[name];
  if (!c || c.hidden || !c.value || !Array.isArray(c.value.points)) return null;
  const points = c.value.points.map((p) => Array.isArray(p)
    ? { x: p[0], y: p[1], in: [0, 0], out: [0, 0] }
    : { x: p.x, y: p.y, in: p.in || [0, 0], out: p.out || [0, 0] });
  return { closed: !!c.value.closed, points };
}

const splineLive = (name) => on(S.controls[Splines[name]]) && !S.controls[name].disabled;
const copySpline = (v) => ({ closed: v.closed, points: v.points.map((p) => ({ x: p.x, y: p.y, in: [...p.in], out: [...p.out] })) });
const round4 = (v) => Math.round(v * 10000) / 10000;

// The cubic segments the tool fits: point to point with the out handle of the
// first and the in handle of the second, and back to the first when closed.
function splineSegments(v) {
  const X = (x) => (x + 0.5) * S.width, Y = (y) => (y + 0.5) * S.height;
  const n = Math.min(v.points.length, SplineMaxPoints);
  const path = (p, q) => `M${X(p.x)} ${Y(p.y)} C${X(p.x + p.out[0])} ${Y(p.y + p.out[1])} ` +
                         `${X(q.x + q.in[0])} ${Y(q.y + q.in[1])} ${X(q.x)} ${Y(q.y)}`;
  const segments = [];
  for (let k = 0; k + 1 < n; ++k) segments.push({ after: k, d: path(v.points[k], v.points[k + 1]) });
  if (v.closed && n > 1) segments.push({ after: n - 1, d: path(v.points[n - 1], v.points[0]) });
  return segments;
}

function labelOf(name) {
  for (const page of S.description.pages)
    for (const input of page.inputs) if (input.key === name && input.label.trim()) return input.label;
  return name;
}

function setSpline(name, value, final) {
  if (final) V.drag = null;
  edit(name, value, final);
  drawOverlay();
}

function insertSplinePoint(name, after, ev) {
  const v = copySpline(splineOf(name));
  const [u, w] = imageAt(ev);
  v.points.splice(after + 1, 0, { x: round4(u - 0.5), y: round4(w - 0.5), in: [0, 0], out: [0, 0] });
  V.selected = { name, index: after + 1 };
  setSpline(name, v, true);
}

function deleteSelectedPoint() {
  const sel = V.selected;
  const v = sel && splineOf(sel.name);
  if (!v || !splineLive(sel.name) || sel.index >= v.points.length) return;
  if (v.points.length <= 2) return message(`${sel.name}: a spline keeps at least two points`, "error");
  const next = copySpline(v);
  next.points.splice(sel.index, 1);
  V.selected = null;
  setSpline(sel.name, next, true);
}

function toggleClosed() {
  const v = V.selected && splineOf(V.selected.name);
  if (!v || !splineLive(V.selected.name)) return;
  const next = copySpline(v);
  next.closed = !next.closed;
  setSpline(V.selected.name, next, true);
}

// Drags a spline's point, or with `which` ("in" or "out") one of its handles.
function startSplineDrag(e, name, index, which) {
  if (e.button !== 0 || V.space) return;
  e.preventDefault();
  e.stopPropagation();
  V.selected = { name, index };
  const svg = $("overlay");
  svg.setPointerCapture(e.pointerId);
  V.drag = { name, value: copySpline(splineOf(name)) };
  S.dragging = name;
  let moved = false;
  const place = (ev) => {
    const [u, w] = imageAt(ev);
    const p = V.drag.value.points[index];
    const x = Math.min(1.5, Math.max(-1.5, u - 0.5)), y = Math.min(1.5, Math.max(-1.5, w - 0.5));
    if (which) p[which] = [round4(x - p.x), round4(y - p.y)];
    else [p.x, p.y] = [round4(x), round4(y)];
    return copySpline(V.drag.value);
  };
  const move = (ev) => {
    moved = true;
    setSpline(name, place(ev), false);
  };
  const up = (ev) => {
    svg.removeEventListener("pointermove", move);
    svg.removeEventListener("pointerup", up);
    S.dragging = null;
    if (moved) setSpline(name, place(ev), true);
    else { V.drag = null; drawOverlay(); }
  };
  svg.addEventListener("pointermove", move);
  svg.addEventListener("pointerup", up);
  drawOverlay();
}

// --- drawing ---

function svgElement(tag, attributes) {
  const el = document.createElementNS(SvgNs, tag);
  for (const [k, v] of Object.entries(attributes)) el.setAttribute(k, v);
  return el;
}

// Point controls and splines as handles on the viewer; lines between the pairs
// of points that make one. Handles and labels keep their size on the screen
// whatever the zoom; a spline whose switch is off is drawn faint and cannot be edited.
function drawOverlay() {
  const svg = $("overlay");
  svg.replaceChildren();
  if (!S.description || !S.width) return;
  const px = 1 / (S.scale || 1);
  const r = 6 * px;
  const labels = [];
  // A point shows as a handle while the tool shows it and its switch is on.
  const at = (name) => {
    const c = S.controls[name];
    const live = !Context.handleSwitch[name] || Context.handleSwitch[name](S.controls);
    return c && !c.hidden && !c.disabled && live && Array.isArray(c.value) ? c.value : null;
  };
  for (const [a, b] of [["Start", "End"], ["Bounce1Start", "Bounce1End"], ["Bounce2Start", "Bounce2End"]]) {
    const p = at(a), q = at(b);
    if (!p || !q) continue;
    svg.append(svgElement("line", { class: "line", "stroke-width": px, x1: p[0] * S.width, y1: p[1] * S.height,
                                    x2: q[0] * S.width, y2: q[1] * S.height }));
  }
  for (const name of Object.keys(Splines)) {
    const v = splineOf(name);
    if (!v || !v.points.length) continue;
    const live = splineLive(name);
    const group = svgElement("g", { class: live ? "spline" : "spline faint" });
    group.dataset.control = name;
    for (const s of splineSegments(v)) {
      const line = svgElement("path", { class: "curve", d: s.d, "stroke-width": 1.5 * px });
      line.dataset.control = name;
      group.append(line);
      if (!live) continue;
      // A wider, invisible stroke over each segment takes the double-click that adds a point.
      const hit = svgElement("path", { class: "hit", d: s.d, "stroke-width": 10 * px });
      hit.addEventListener("dblclick", (e) => { e.stopPropagation(); insertSplinePoint(name, s.after, e); });
      group.append(hit);
    }
    v.points.forEach((p, i) => {
      const selected = V.selected && V.selected.name === name && V.selected.index === i;
      // The selected point's Bezier handles that are not zero, as lines to small squares.
      for (const which of selected && live ? ["in", "out"] : []) {
        const h = p[which];
        if (!h[0] && !h[1]) continue;
        const x1 = (p.x + 0.5) * S.width, y1 = (p.y + 0.5) * S.height;
        const x2 = (p.x + h[0] + 0.5) * S.width, y2 = (p.y + h[1] + 0.5) * S.height;
        group.append(svgElement("line", { class: "tangent", x1, y1, x2, y2, "stroke-width": px }));
        const end = svgElement("rect", { class: "handle tangent-handle", x: x2 - 3.5 * px, y: y2 - 3.5 * px,
                                         width: 7 * px, height: 7 * px, "stroke-width": 1.5 * px });
        Object.assign(end.dataset, { control: name, index: i, handle: which });
        end.addEventListener("pointerdown", (e) => startSplineDrag(e, name, i, which));
        group.append(end);
      }
      const dot = svgElement("circle", { class: "handle point" + (selected ? " selected" : ""),
                                         cx: (p.x + 0.5) * S.width, cy: (p.y + 0.5) * S.height,
                                         r: 4.5 * px, "stroke-width": 1.5 * px });
      dot.dataset.control = name;
      dot.dataset.index = i;
      if (live) dot.addEventListener("pointerdown", (e) => startSplineDrag(e, name, i));
      group.append(dot);
    });
    svg.append(group);
    const first = v.points[0];
    labels.push({ name, text: labelOf(name), x: (first.x + 0.5) * S.width, y: (first.y + 0.5) * S.height, faint: !live });
  }
  for (const page of S.description.pages) {
    for (const input of page.inputs) {
      // A point without a view control (Wind, a vector) is no place on the picture.
      if (input.type !== "Poin" || !input.key || !input.viewControl) continue;
      const name = input.key;
      const p = at(name);
      if (!p) continue;
      const dot = svgElement("circle", { class: "handle", cx: p[0] * S.width, cy: p[1] * S.height, r,
                                         "stroke-width": 1.5 * px });
      dot.dataset.control = name;
      dot.addEventListener("pointerdown", (e) => startDrag(e, dot, name));
      svg.append(dot);
      labels.push({ name, text: input.label, x: p[0] * S.width, y: p[1] * S.height });
    }
  }
  // Labels that would cover one another move down a line.
  const placed = [];
  const lineHeight = 14 * px;
  for (const l of labels) {
    const label = svgElement("text", { x: l.x + r + 2 * px, "font-size": 11 * px, "stroke-width": 3 * px });
    if (l.faint) label.setAttribute("class", "faint");
    label.dataset.control = l.name;
    label.textContent = l.text;
    svg.append(label);
    const lx = l.x + r + 2 * px;
    let ly = l.y - r;
    const width = label.getComputedTextLength() || l.text.length * 6.5 * px;
    while (placed.some((b) => Math.abs(b.y - ly) < lineHeight && lx < b.x + b.width && b.x < lx + width))
      ly += lineHeight;
    placed.push({ x: lx, y: ly, width });
    label.setAttribute("y", ly);
  }
  const sel = V.selected && splineOf(V.selected.name);
  const closed = $("spline-closed");
  closed.hidden = !sel || !splineLive(V.selected.name);
  if (sel) closed.textContent = sel.closed ? "Open spline" : "Close spline";
}

function startDrag(e, dot, name) {
  if (e.button !== 0 || V.space) return;
  e.preventDefault();
  e.stopPropagation();
  dot.setPointerCapture(e.pointerId);
  dot.classList.add("dragging");
  S.dragging = name;
  const pos = (ev) => imageAt(ev).map((v) => Math.min(1, Math.max(0, v)));
  const move = (ev) => {
    const p = pos(ev);
    dot.setAttribute("cx", p[0] * S.width);
    dot.setAttribute("cy", p[1] * S.height);
    edit(name, p, false);
  };
  const up = (ev) => {
    dot.removeEventListener("pointermove", move);
    dot.removeEventListener("pointerup", up);
    dot.classList.remove("dragging");
    S.dragging = null;
    edit(name, pos(ev), true);
  };
  dot.addEventListener("pointermove", move);
  dot.addEventListener("pointerup", up);
}

// --- pan: the middle button, or the left one while Space is held ---

function startPan(e) {
  const viewer = $("viewer");
  if (!(e.button === 1 || (e.button === 0 && V.space))) {
    if (e.button === 0 && [viewer, $("stage"), $("frame"), $("overlay")].includes(e.target)) {
      // Kept for a double-click that follows, which adds a point to that spline.
      V.deselected = V.selected;
      V.selected = null;
      drawOverlay();
    }
    return;
  }
  e.preventDefault();
  if (V.space) V.space.used = true;
  viewer.setPointerCapture(e.pointerId);
  viewer.classList.add("panning");
  let last = [e.clientX, e.clientY];
  const move = (ev) => {
    V.panX += ev.clientX - last[0];
    V.panY += ev.clientY - last[1];
    last = [ev.clientX, ev.clientY];
    S.fit = false;
    layout();
  };
  const up = () => {
    viewer.removeEventListener("pointermove", move);
    viewer.removeEventListener("pointerup", up);
    viewer.classList.remove("panning");
  };
  viewer.addEventListener("pointermove", move);
  viewer.addEventListener("pointerup", up);
}

// --- undo, redo and shortcuts ---

async function undoRedo(which) {
  try {
    const r = await api("POST", "/api/" + which, {});
    if (r.done) message((which === "undo" ? "Undone: " : "Redone: ") + r.what, "info");
    else message(which === "undo" ? "Nothing to undo" : "Nothing to redo", "info");
  } catch (err) {
    message(err.message, "error");
  }
  await window.lumetsEdited();
}

// Shortcuts act only while no text or number field takes the keys.
function keysForField(e) {
  const t = e.target;
  return !!t && (t.isContentEditable || ["TEXTAREA", "SELECT"].includes(t.tagName) ||
                 (t.tagName === "INPUT" && !["range", "checkbox", "radio", "button"].includes(t.type)));
}

function onKeyDown(e) {
  if (keysForField(e) || e.altKey) return;
  const ctrl = e.ctrlKey || e.metaKey;
  const key = e.key.length === 1 ? e.key.toLowerCase() : e.key;
  let done = true;
  if (ctrl && key === "z") undoRedo(e.shiftKey ? "redo" : "undo");
  else if (ctrl && key === "y") undoRedo("redo");
  else if (ctrl) done = false;
  else if (key === " ") {
    // A tap plays or pauses; held, it turns the left button into a pan.
    if (!e.repeat) V.space = { used: false };
    $("viewer").classList.add("pan-ready");
  } else if (key === "ArrowLeft") goTo(S.frame - 1);
  else if (key === "ArrowRight") goTo(S.frame + 1);
  else if (key === "Home") goTo(S.first);
  else if (key === "End") goTo(S.last);
  else if (key === "Delete" || key === "Backspace") deleteSelectedPoint();
  else if (key === "Escape") { V.selected = null; drawOverlay(); }
  else done = false;
  if (done) e.preventDefault();
}

function onKeyUp(e) {
  if (e.key !== " " || !V.space) return;
  e.preventDefault();
  const tap = !V.space.used;
  V.space = null;
  $("viewer").classList.remove("pan-ready");
  if (tap && !keysForField(e)) play();
}

window.lumetsEdited = window.lumetsEdited || (async () => {
  await refreshState();
  await showFrame(false);
});

function installViewer() {
  const viewer = $("viewer");
  $("fit").addEventListener("click", () => zoomTo("fit"));
  $("actual").addEventListener("click", () => zoomTo(1));
  $("spline-closed").addEventListener("click", toggleClosed);
  viewer.addEventListener("wheel", (e) => {
    e.preventDefault();
    const r = viewer.getBoundingClientRect();
    zoomTo("zoom", Math.exp(-e.deltaY * 0.0015), [e.clientX - r.left, e.clientY - r.top]);
  }, { passive: false });
  viewer.addEventListener("pointerdown", startPan);
  viewer.addEventListener("mousedown", (e) => { if (e.button === 1) e.preventDefault(); });
  viewer.addEventListener("dblclick", (e) => {
    // Off the line: a point added after the last one of the spline selected, or
    // of a spline in use that has fewer than two points (no line to click yet).
    if (e.target.tagName === "circle" || e.target.tagName === "rect") return;
    const sel = V.selected || V.deselected;
    const name = sel && splineOf(sel.name) ? sel.name : Object.keys(Splines).find((n) => {
      const v = splineOf(n);
      return v && v.points.length < 2;
    });
    const v = name && splineOf(name);
    if (v && splineLive(name)) insertSplinePoint(name, v.points.length - 1, e);
  });
  document.addEventListener("keydown", onKeyDown);
  document.addEventListener("keyup", onKeyUp);
  // A Space released in another window must not leave the left button panning.
  window.addEventListener("blur", () => { V.space = null; viewer.classList.remove("pan-ready"); });
  // The fit follows the viewer's size: the window, and the message area under it.
  new ResizeObserver(() => { if (S.fit) layout(); }).observe(viewer);
}
