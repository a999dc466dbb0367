// The preview page's keys: a key button beside every control that can be
// animated, K to key the focused control, and the selected control's keys as
// marks under the timeline, which can be dragged to another frame and removed.
// Loaded after pages.js and before preview.js, whose state and requests it uses.
"use strict";

const Keys = { selected: null, mark: null, track: null, name: null, drawn: "", dragging: false };

// Buttons, texts (file names) and notices hold no keys.
const keyable = (input) => input.key && input.control !== "BtnC" && input.control !== "PLIC" && input.type !== "Text";

// The frames at which a control has keys: as the server lists them, or as the flow holds them.
function keyFrames(name) {
  const c = S.controls[name];
  if (!c || !c.keyed) return [];
  if (Array.isArray(c.keys)) return c.keys;
  if (c.flow && Array.isArray(c.flow.keys)) return c.flow.keys.map((k) => k[0]);
  return [];
}

async function keyRequest(body) {
  try {
    const r = await api("POST", "/api/key", body);
    for (const w of r.warnings || []) message(w, "info");
  } catch (err) {
    message(err.message, "error");
  }
  await refreshState();
  await showFrame(false);
}

// Keys the control at the current frame, or removes its key there.
function keyHere(name, toggle) {
  selectControl(name);
  const here = keyFrames(name).includes(S.frame);
  if (here && toggle) return keyRequest({ name, frame: S.frame, remove: true });
  return keyRequest({ name, frame: S.frame });
}

function selectControl(name) {
  if (!name || !S.widgets[name] || Keys.selected === name) return;
  Keys.selected = name;
  Keys.mark = null;
  drawKeys();
}

// The control a page element belongs to.
const controlOf = (el) => {
  const r = el && el.closest && el.closest("#pages .control[data-control]");
  return r ? r.dataset.control : null;
};

function addKeyButtons() {
  for (const page of S.description.pages) {
    for (const input of page.inputs) {
      const w = keyable(input) && S.widgets[input.key];
      if (!w) continue;
      const name = input.key;
      for (const el of w.row.querySelectorAll("input, textarea, canvas, select"))
        if (!el.dataset.control) el.dataset.control = name;
      const button = document.createElement("button");
      button.className = "key";
      button.dataset.keyFor = name;
      button.textContent = "\u25C6";
      button.title = `Key ${input.label} at this frame (K); on a keyed frame, remove the key`;
      button.addEventListener("click", () => keyHere(name, true));
      w.row.append(button);
    }
  }
}

// The strip under the timeline: the selected control's name and its keys.
function keysInit() {
  const strip = document.createElement("div");
  strip.id = "keys";
  const label = document.createElement("span");
  label.id = "keys-name";
  const track = document.createElement("div");
  track.id = "key-track";
  strip.append(label, track);
  $("timeline").after(strip);
  Keys.track = track;
  Keys.name = label;
  addKeyButtons();
  const pages = $("pages");
  for (const type of ["focusin", "input", "change", "pointerdown"])
    pages.addEventListener(type, (e) => selectControl(controlOf(e.target)));
  document.addEventListener("keydown", onKey);
  document.addEventListener("pointerdown", (e) => {
    if (Keys.mark !== null && !e.target.closest("#key-track")) { Keys.mark = null; drawKeys(); }
  });
  window.addEventListener("resize", drawKeys);
  if (typeof readParticleSize === "function") readParticleSize();
}

// Texts typed into a field are not shortcuts.
const typingIn = (el) => el && (el.tagName === "TEXTAREA" ||
  (el.tagName === "INPUT" && !["range", "checkbox", "button"].includes(el.type)));

function onKey(e) {
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  if ((e.key === "k" || e.key === "K") && !(typingIn(e.target) && e.target.type !== "number")) {
    const name = controlOf(document.activeElement) || Keys.selected;
    if (!name || !S.widgets[name] || !S.widgets[name].row.querySelector("button.key")) return;
    e.preventDefault();
    keyHere(name, false);
  } else if ((e.key === "Delete" || e.key === "Backspace") && Keys.mark !== null && !typingIn(e.target)) {
    // The selected key goes, and nothing else that Delete removes.
    e.preventDefault();
    e.stopImmediatePropagation();
    const frame = Keys.mark;
    Keys.mark = null;
    keyRequest({ name: Keys.selected, frame, remove: true });
  }
}

// x within the track for a frame, and back: the marks line up with the scrubber's thumb.
const thumb = 8;
function trackSpan() {
  const scrub = $("scrub").getBoundingClientRect(), box = Keys.track.parentElement.getBoundingClientRect();
  return { left: scrub.left - box.left + thumb, width: Math.max(1, scrub.width - 2 * thumb) };
}
const frameX = (f, span) => span.left + (S.last > S.first ? (f - S.first) / (S.last - S.first) : 0) * span.width;
const xFrame = (x, span) =>
  Math.min(S.last, Math.max(S.first, Math.round(S.first + (x - span.left) / span.width * (S.last - S.first))));

function drawKeys() {
  if (!Keys.track) return;
  for (const b of document.querySelectorAll("button.key[data-key-for]")) {
    const frames = keyFrames(b.dataset.keyFor);
    b.classList.toggle("keyed", frames.length > 0);
    b.classList.toggle("here", frames.includes(S.frame));
  }
  // The marks are made again only when they change, and never under a drag.
  const name = Keys.selected;
  const drawn = JSON.stringify([name, keyFrames(name), Keys.mark, S.frame, $("scrub").clientWidth]);
  if (Keys.dragging || drawn === Keys.drawn) return;
  Keys.drawn = drawn;
  Keys.track.replaceChildren();
  const input = name && S.widgets[name] ? S.widgets[name].row.querySelector("label") : null;
  Keys.name.textContent = name ? (input && input.textContent ? input.textContent : name) : "";
  Keys.name.title = name ? `Keys of ${name}` : "";
  Keys.track.dataset.control = name || "";
  if (!name) return;
  const span = trackSpan();
  for (const f of keyFrames(name)) {
    const mark = document.createElement("span");
    mark.className = "key-mark" + (f === Keys.mark ? " selected" : "") + (f === S.frame ? " here" : "");
    mark.dataset.frame = f;
    mark.title = `Key at frame ${f}: drag to move, right-click or Delete to remove`;
    mark.style.left = frameX(f, span) + "px";
    mark.addEventListener("pointerdown", (e) => dragMark(e, mark, name, f));
    mark.addEventListener("contextmenu", (e) => {
      e.preventDefault();
      keyRequest({ name, frame: f, remove: true });
    });
    Keys.track.append(mark);
  }
}

// A mark dragged to another frame moves the key there; one clicked selects the
// key and shows its frame.
function dragMark(e, mark, name, from) {
  if (e.button !== 0) return;
  e.preventDefault();
  mark.setPointerCapture(e.pointerId);
  const span = trackSpan();
  const box = Keys.track.parentElement.getBoundingClientRect();
  let to = from;
  Keys.dragging = true;
  const move = (ev) => {
    to = xFrame(ev.clientX - box.left, span);
    mark.style.left = frameX(to, span) + "px";
    mark.dataset.frame = to;
  };
  const end = () => {
    mark.removeEventListener("pointermove", move);
    mark.removeEventListener("pointerup", up);
    mark.removeEventListener("pointercancel", cancel);
    Keys.dragging = false;
  };
  const up = () => {
    end();
    Keys.mark = to;
    if (to !== from) keyRequest({ name, from, to });
    else goTo(from).then(drawKeys);
  };
  const cancel = () => { end(); Keys.drawn = ""; drawKeys(); };
  mark.addEventListener("pointermove", move);
  mark.addEventListener("pointerup", up);
  mark.addEventListener("pointercancel", cancel);
}
