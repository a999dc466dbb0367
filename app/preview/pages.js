// The lumets preview page's control pages: one widget per tool input, built
// from the controls the preview server describes; loaded before preview.js,
// whose state and edits the widgets use.
"use strict";

// --- control pages ---

function row(input, name) {
  const div = document.createElement("div");
  div.className = "control";
  div.dataset.control = name;
  const label = document.createElement("label");
  label.textContent = input.label;
  label.title = `${input.label} (${name}, ${input.idText})`;
  div.append(label);
  return div;
}

function numberWidget(input, name) {
  const div = row(input, name);
  const box = document.createElement("div");
  box.className = "row";
  // Ranges, slider spans and whole-number controls as the controls' description names them.
  const lo = input.min ?? undefined, hi = input.max ?? undefined;
  const slo = input.scaleLow ?? lo ?? 0, shi = input.scaleHigh ?? hi ?? 1;
  const whole = input.integer === true;
  const slider = document.createElement("input");
  slider.type = "range";
  slider.min = slo; slider.max = shi;
  slider.step = whole ? 1 : (shi - slo) / 1000 || 0.001;
  const field = document.createElement("input");
  field.type = "number";
  if (lo !== undefined) field.min = lo;
  if (hi !== undefined) field.max = hi;
  field.step = whole ? 1 : "any";
  slider.addEventListener("input", () => { field.value = slider.value; edit(name, Number(slider.value), false); });
  slider.addEventListener("change", () => edit(name, Number(slider.value), true));
  // What is typed but not yet entered is not overwritten by a refresh.
  let typed = false;
  field.addEventListener("input", () => { typed = true; });
  field.addEventListener("blur", () => { typed = false; });
  field.addEventListener("change", () => {
    typed = false;
    if (field.value === "" || isNaN(Number(field.value))) return message(`${input.label}: not a number`, "error");
    edit(name, Number(field.value), true);
  });
  box.append(slider, field);
  div.append(box);
  // A value beyond the display range widens the slider to reach it.
  const set = (v) => {
    if (typeof v !== "number") return;
    if (v > Number(slider.max)) slider.max = v;
    if (v < Number(slider.min)) slider.min = v;
    slider.value = v;
    if (!typed) field.value = v;
  };
  return { row: div, set };
}

function checkWidget(input, name) {
  const div = row(input, name);
  const box = document.createElement("input");
  box.type = "checkbox";
  box.addEventListener("change", () => edit(name, box.checked ? 1 : 0, true));
  div.append(box);
  return { row: div, set: (v) => { box.checked = Number(v) !== 0; } };
}

function buttonWidget(input, name) {
  const div = row(input, name);
  const box = document.createElement("div");
  box.className = "row";
  const button = document.createElement("button");
  button.textContent = input.label;
  button.dataset.press = name;
  let file = null;
  if (Context.fileButtons.has(name)) {
    // Buttons that open a file dialog: the answer is a file in the flow's folder.
    file = document.createElement("input");
    file.placeholder = "file in the flow's folder";
    file.size = 14;
    file.dataset.file = name;
    box.append(file);
  }
  button.addEventListener("click", () => press(name, file && file.value ? file.value : null));
  box.prepend(button);
  div.append(box);
  div.querySelector("label").textContent = "";
  return { row: div, set: () => {} };
}

function pointWidget(input, name) {
  const div = row(input, name);
  const box = document.createElement("div");
  box.className = "row";
  const x = document.createElement("input"), y = document.createElement("input");
  for (const f of [x, y]) {
    f.type = "number";
    f.step = "any";
    f.addEventListener("change", () => edit(name, [Number(x.value), Number(y.value)], true));
  }
  box.append("x", x, "y", y);
  div.append(box);
  return { row: div, set: (v) => { if (Array.isArray(v)) { x.value = v[0]; y.value = v[1]; } } };
}

function textWidget(input, name) {
  const div = row(input, name);
  const field = document.createElement("input");
  field.addEventListener("change", () => edit(name, field.value, true));
  div.append(field);
  return { row: div, set: (v) => { if (typeof v === "string") field.value = v; } };
}

function polylineWidget(input, name) {
  const div = row(input, name);
  const box = document.createElement("div");
  const area = document.createElement("textarea");
  area.rows = 3;
  const apply = document.createElement("button");
  apply.textContent = "Apply";
  apply.addEventListener("click", () => {
    let v;
    try { v = JSON.parse(area.value); } catch (err) { return message(`${input.label}: ${err.message}`, "error"); }
    edit(name, v, true);
  });
  box.append(area, apply);
  div.append(box);
  return { row: div, set: (v) => { if (v) area.value = JSON.stringify(v); } };
}

function widgetFor(input) {
  const name = input.key;
  if (input.control === "BtnC") return buttonWidget(input, name);
  if (input.control === "ChBC") return checkWidget(input, name);
  if (input.type === "Poin") return pointWidget(input, name);
  if (input.type === "PlLn") return polylineWidget(input, name);
  if (input.type === "LUT!") return curveEditor(input, name);
  if (input.type === "Text") return textWidget(input, name);
  if (input.control === "PLIC") {  // a notice: a label the tool shows or hides
    const div = row(input, name);
    div.classList.add("notice");
    return { row: div, set: () => {} };
  }
  return numberWidget(input, name);
}

function hint(text) {
  const h = document.createElement("div");
  h.className = "hint";
  h.textContent = text;
  return h;
}

function buildPages() {
  const tabs = $("tabs"), pages = $("pages");
  S.description.pages.forEach((page, i) => {
    const tab = document.createElement("button");
    tab.textContent = page.name;
    tab.dataset.page = i;
    const div = document.createElement("div");
    div.className = "page";
    div.dataset.page = page.name;
    for (const input of page.inputs) {
      const notice = Context.notices[input.idText];
      if (!input.key) {
        if (input.label.trim()) {
          const h = document.createElement("div");
          h.className = notice ? "notice hidden" : "heading";
          h.textContent = input.label;
          if (notice) {
            h.dataset.notice = input.idText;
            if (notice.hint) h.append(hint(notice.hint));
          }
          div.append(h);
        }
        continue;
      }
      const name = input.key;
      if (Context.headings[name]) {
        const h = document.createElement("div");
        h.className = "group";
        h.textContent = Context.headings[name];
        div.append(h);
      }
      const w = widgetFor(input);
      if (notice) w.row.dataset.notice = input.idText;
      if (Context.labels[name] && !input.label.trim()) w.row.querySelector("label").textContent = Context.labels[name];
      S.widgets[name] = w;
      div.append(w.row);
      if (Context.hints[name]) div.append(hint(Context.hints[name]));
    }
    tab.addEventListener("click", () => {
      for (const b of tabs.children) b.classList.toggle("on", b === tab);
      for (const p of pages.children) p.classList.toggle("shown", p === div);
    });
    tabs.append(tab);
    pages.append(div);
  });
  tabs.firstChild.click();
}
