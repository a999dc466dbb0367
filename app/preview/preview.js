// The lumets preview page: a viewer, a timeline and the tool's control pages,
// all driven through the preview server's JSON interface on this machine.
"use strict";

// What the page adds around the tool's own controls, whose labels and messages
// stay as the tool has them: headings over the unlabelled "Start Frame" /
// "Last Frame" pairs, hints, the buttons whose file dialog the page answers, and
// the switches that decide whether a notice or a handle on the viewer applies.
const on = (c) => !!c && Math.trunc(Number(c.value)) !== 0;
// A loaded system enables "Unload System".
const loaded = (controls) => !!controls.UnloadSystem && !controls.UnloadSystem.disabled;
const Context = {
  headings: { ImageStartFrame: "Shape capture range", RecordStartFrame: "Recording range",
              LoadStartFrame: "Playback range" },
  hints: {
    SaveFile: "Chooses the file that \u201cRecord now\u201d writes.",
    RecordNow: "Records the recording range into the file chosen with \u201cSave MotionData under...\u201d above.",
    LoadSystem: "Plays a recorded file back over the playback range.",
    PreloadShapes: "Captures the particle shapes of the shape capture range.",
  },
  labels: { SystemFile: "Loaded file" },
  // Only these buttons open a file dialog; the others take no file.
  fileButtons: new Set(["SaveFile", "LoadSystem"]),
  // Notices the tool shows as fixed labels or never shows: the page shows them when they apply.
  notices: {
    Dm10: { when: (c) => on(c.ApplyBirthImage) || loaded(c),
            hint: "Shown while \u201cApply Birthimage on all\u201d (Setup) is on or a system is loaded." },
    Dm66: { when: (c) => loaded(c) || (c.LoadedNotice && !c.LoadedNotice.hidden) },
  },
  // A handle on the viewer is drawn only while its switch is on.
  handleSwitch: {
    Attractor1: (c) => !!c.Attractor1Enable && Number(c.Attractor1Enable.value) !== 0,
    Attractor2: (c) => !!c.Attractor2Enable && Number(c.Attractor2Enable.value) !== 0,
    Bounce1Start: (c) => !!c.Bounce1Enable && Number(c.Bounce1Enable.value) !== 0,
    Bounce1End: (c) => !!c.Bounce1Enable && Number(c.Bounce1Enable.value) !== 0,
    Bounce2Start: (c) => !!c.Bounce2Enable && Number(c.Bounce2Enable.value) !== 0,
    Bounce2End: (c) => !!c.Bounce2Enable && Number(c.Bounce2Enable.value) !== 0,
    Start: (c) => !on(c.UseBirthSpline),
    End: (c) => !on(c.UseBirthSpline),
  },
  // Page-side advice after some of the tool's messages, by the message's kind.
  afterMessage: {
    "no-save-file": "Choose the file first with \u201cSave MotionData under...\u201d on the Load/Save page.",
  },
};
const S = { description: null, controls: {}, frame: 0, first: 0, last: 0, width: 0, height: 0, fit: true,
            playing: false, widgets: {}, dragging: null, generation: 0 };
const $ = (id) => document.getElementById(id);
// The session's token, from the address lumets preview printed: every request
// to the server carries it (in a header, so that it shows in no other address).
const Token = new URLSearchParams(location.search).get("token") || "";
const authorised = (init) => ({ ...init, headers: { ...(init && init.headers), "X-Lumets-Token": Token } });

async function api(method, path, body) {
  const init = { method, headers: {} };
  if (body !== undefined) {
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  const r = await fetch(path, authorised(init));
  const j = await r.json();
  if (!r.ok) throw new Error(j.error || r.statusText);
  return j;
}

// Messages under the viewer, newest first. A message repeating the newest one
// counts up on it instead of adding a box; each box can be dismissed, or all at once.
function message(text, kind, hint) {
  const list = $("messages");
  const newest = list.firstElementChild;
  if (newest && newest.dataset.text === text && newest.dataset.kind === (kind || "")) {
    const n = Number(newest.dataset.count) + 1;
    newest.dataset.count = n;
    newest.querySelector(".count").textContent = ` (\u00d7${n})`;
  } else {
    const box = document.createElement("div");
    box.className = "msgbox " + (kind || "");
    box.dataset.text = text;
    box.dataset.kind = kind || "";
    box.dataset.count = 1;
    const body = document.createElement("span");
    body.className = "text";
    body.textContent = text;
    const count = document.createElement("span");
    count.className = "count";
    box.append(body, count);
    if (hint) {
      const h = document.createElement("span");
      h.className = "hint";
      h.textContent = hint;
      box.append(h);
    }
    const close = document.createElement("button");
    close.className = "dismiss";
    close.title = "Dismiss";
    close.setAttribute("aria-label", "Dismiss");
    close.textContent = "\u00d7";
    close.addEventListener("click", () => { box.remove(); messagesChanged(); });
    box.append(close);
    list.prepend(box);
    while (list.children.length > 30) list.lastChild.remove();
  }
  messagesChanged();
}

function messagesChanged() {
  $("clear-messages").hidden = $("messages").children.length === 0;
}

// --- the viewer ---

let frameSeq = 0;
let frameUrl = null;

function hex(buffer) {
  return Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, "0")).join("");
}

async function showFrame(quick) {
  const seq = ++frameSeq;
  const n = S.frame;
  const t0 = performance.now();
  const r = await fetch(`/api/frame/${n}.png` + (quick ? "?quick=1&proxy=2" : ""), authorised());
  if (!r.ok) {
    // 409: a newer request replaced this one; its frame is on its way.
    if (r.status === 409) return false;
    const j = await r.json().catch(() => ({ error: r.statusText }));
    if (seq === frameSeq) message(j.error, "error");
    return false;
  }
  const bytes = await r.arrayBuffer();
  if (seq !== frameSeq) return false;
  const sha = quick ? "" : hex(await crypto.subtle.digest("SHA-256", bytes));
  const url = URL.createObjectURL(new Blob([bytes], { type: "image/png" }));
  const img = $("frame");
  await new Promise((done) => {
    img.onload = done;
    img.onerror = done;
    img.src = url;
  });
  if (frameUrl) URL.revokeObjectURL(frameUrl);
  frameUrl = url;
  if (seq !== frameSeq) return false;
  if (!quick && (img.naturalWidth !== S.width || img.naturalHeight !== S.height)) {
    S.width = img.naturalWidth;
    S.height = img.naturalHeight;
    layout();
  }
  const ms = Math.round(performance.now() - t0);
  $("frame-info").textContent = `frame ${n} · ${ms} ms` + (quick ? " · quick" : "");
  img.dataset.frame = n;
  img.dataset.quality = quick ? "quick" : "full";
  img.dataset.sha256 = sha;
  return true;
}

// --- edits ---

// One edit in flight per control; while a slider or handle moves only its
// latest value is sent, and a quick, reduced frame is shown until it stops.
const pending = {};
const busy = {};

async function edit(name, value, final) {
  pending[name] = { value, final };
  if (busy[name]) return;
  busy[name] = true;
  while (pending[name]) {
    const p = pending[name];
    delete pending[name];
    let ok = true;
    try {
      const r = await api("POST", "/api/set", { name, value: p.value, frame: S.frame, final: p.final });
      for (const w of r.warnings) message(w, "info");
    } catch (err) {
      message(err.message, "error");
      ok = false;
    }
    if (p.final || !ok) {
      await refreshState();
      await showFrame(false);
    } else {
      await showFrame(true);
    }
  }
  busy[name] = false;
}

async function press(name, file) {
  try {
    const body = { name, frame: S.frame };
    if (file) body.file = file;
    const r = await api("POST", "/api/press", body);
    for (const m of r.messages) message(`${m.title}: ${m.text}`, "", Context.afterMessage[m.kind]);
    if (r.error) message(r.error, "error");
  } catch (err) {
    message(err.message, "error");
  }
  await refreshState();
  await showFrame(false);
}

async function refreshState() {
  const d = await api("GET", `/api/controls?frame=${S.frame}`);
  S.controls = d.controls;
  S.generation = d.generation;
  for (const [name, w] of Object.entries(S.widgets)) {
    const c = S.controls[name];
    if (!c) continue;
    w.row.classList.toggle("hidden", c.hidden);
    w.row.classList.toggle("disabled", c.disabled);
    w.row.classList.toggle("keyed", c.keyed);
    if (S.dragging !== name && !pending[name]) w.set(c.value, c);
  }
  for (const el of document.querySelectorAll("[data-notice]"))
    el.classList.toggle("hidden", !Context.notices[el.dataset.notice].when(S.controls));
  drawOverlay();
  drawKeys();
}

// --- timeline ---

async function goTo(n) {
  S.frame = Math.min(S.last, Math.max(S.first, n));
  $("scrub").value = S.frame;
  $("frame-number").value = S.frame;
  const keyed = Object.values(S.controls).some((c) => c.keyed);
  if (keyed) await refreshState();
  return showFrame(false);
}

async function play() {
  S.playing = !S.playing;
  $("play").textContent = S.playing ? "Pause" : "Play";
  $("play").classList.toggle("on", S.playing);
  const times = [];
  while (S.playing) {
    await goTo(S.frame >= S.last ? S.first : S.frame + 1);
    times.push(performance.now());
    if (times.length > 12) times.shift();
    if (times.length > 1)
      $("fps").textContent = ((times.length - 1) * 1000 / (times[times.length - 1] - times[0])).toFixed(1) + " fps";
  }
}

async function render() {
  try {
    await api("POST", "/api/render", {});
  } catch (err) {
    return message(err.message, "error");
  }
  for (;;) {
    const r = await api("GET", "/api/render");
    $("render-progress").max = Math.max(1, r.total);
    $("render-progress").value = r.done;
    $("render-text").textContent = `${r.done}/${r.total} · ${r.fps.toFixed(1)} fps`;
    if (!r.running) {
      if (r.error) message("Render: " + r.error, "error");
      else message(`Render: wrote ${r.total} frame(s) from ${r.output}`, "info");
      return;
    }
    await new Promise((done) => setTimeout(done, 400));
  }
}

async function save(as) {
  try {
    const r = await api("POST", "/api/save", as ? { as } : {});
    message("Saved " + r.path, "info");
    if (as) $("flow-name").textContent = as;
  } catch (err) {
    message(err.message, "error");
  }
}

async function start() {
  const d = await api("GET", "/api/controls");
  S.description = d.description;
  S.controls = d.controls;
  [S.first, S.last] = d.flow.frames;
  S.frame = S.first;
  if (d.flow.background) {
    S.width = d.flow.background.width || 0;
    S.height = d.flow.background.height || 0;
  }
  $("flow-name").textContent = d.flow.name;
  document.title = d.flow.name + " - lumets preview";
  for (const f of [$("scrub"), $("frame-number")]) {
    f.min = S.first;
    f.max = S.last;
    f.value = S.first;
  }
  buildPages();
  keysInit();
  await refreshState();
  layout();
  $("scrub").addEventListener("input", () => goTo(Number($("scrub").value)));
  $("frame-number").addEventListener("change", () => goTo(Number($("frame-number").value)));
  $("first").addEventListener("click", () => goTo(S.first));
  $("last").addEventListener("click", () => goTo(S.last));
  $("back").addEventListener("click", () => goTo(S.frame - 1));
  $("forward").addEventListener("click", () => goTo(S.frame + 1));
  $("play").addEventListener("click", play);
  installViewer();
  $("save").addEventListener("click", () => save(null));
  $("save-as").addEventListener("click", () => save($("save-as-name").value.trim()));
  $("render").addEventListener("click", render);
  $("clear-messages").addEventListener("click", () => { $("messages").replaceChildren(); messagesChanged(); });
  await showFrame(false);
  document.body.dataset.ready = "1";
}

start().catch((err) => message(err.message, "error"));
