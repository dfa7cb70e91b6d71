// The bench view: the whole state when the page connects (and again after
// any reconnection), then one message per change.  Read-only.
"use strict";

const STAGES = {
  absent: "no adapter",
  starting: "adapter plugged in",
  waiting: "waiting for a unit: turn it on",
  waking: "unit answered: waking",
  preparing: "preparing to program",
  sending: "sending the image",
  verdict: "waiting for the verdict",
  done: "waiting for the next unit",
  gone: "adapter unplugged",
  ended: "station ended",
};

// What a reason code means, in plain words.
const REASONS = {
  installed: "installed",
  module_failed: "the module refused the image",
  early_verdict: "the module ended the image early",
  no_verdict: "no verdict from the module",
  no_answer: "the module did not answer",
  image_unreadable: "the image file cannot be read",
  image_empty: "the image file is empty",
  image_digest: "the image is not the expected one",
  port_open: "the port cannot be opened",
  port_setup: "the port cannot be set up",
  port_gone: "the adapter was pulled out",
  port_stalled: "the port stopped taking the image",
  cancelled: "cancelled",
  wrong_model: "the module is another model",
};

const $ = (id) => document.getElementById(id);
const tiles = new Map();   // port -> {el, slot, at}
let bench = null, benchAt = 0;
const traced = location.search.includes("trace") ? (window.benchTrace = []) : null;

function plain(code) {
  return REASONS[code] || code || "";
}

function seconds(s) {
  s = Math.max(0, Math.round(s));
  return s < 60 ? s + " s" : Math.floor(s / 60) + " min " + (s % 60) + " s";
}

function clock(iso, duration) {
  const t = Date.parse(iso);
  if (isNaN(t)) return "";
  return new Date(t + (duration || 0) * 1000).toLocaleTimeString([], {hour: "2-digit", minute: "2-digit", second: "2-digit",
                                                                      hour12: false});
}

function fit(n) {
  // Columns and rows that give the largest tiles, about twice as wide as high.
  const area = $("slots");
  const w = area.clientWidth || window.innerWidth, h = area.clientHeight || window.innerHeight - 100;
  let best = [1, 1], bestSize = 0;
  for (let cols = 1; cols <= Math.max(1, n); cols++) {
    const rows = Math.max(1, Math.ceil(n / cols));
    const tw = w / cols, th = h / rows;
    const size = Math.min(tw, th * 2.2);
    if (size > bestSize + 0.5) { bestSize = size; best = [cols, rows]; }
  }
  document.documentElement.style.setProperty("--cols", best[0]);
  document.documentElement.style.setProperty("--rows", best[1]);
}

function tileOf(port) {
  let t = tiles.get(port);
  if (!t) {
    const el = $("tile").content.firstElementChild.cloneNode(true);
    el.dataset.port = port;
    t = {el: el, slot: null, at: 0};
    tiles.set(port, t);
  }
  return t;
}

function paintSlot(t) {
  const s = t.slot, el = t.el, q = (c) => el.querySelector(c);
  const held = s.last && s.last.result;
  const busy = ["waking", "preparing", "sending", "verdict"].includes(s.stage);
  el.className = "tile" + (held ? " held " + String(s.last.result).toLowerCase() : "") +
                 (busy ? " busy" : "") + (!s.present ? " absent" : "");
  el.dataset.stage = s.stage;
  el.dataset.result = held ? s.last.result : "";
  q(".name").textContent = s.name;
  // A named slot shows its port's short name (com1, ttyUSB0, COM11).
  q(".port").textContent = s.name !== s.port ? s.port.split(/[\\/]/).pop() : "";
  q(".counts").textContent = "PASS " + s.counts.passed + "  FAIL " + s.counts.failed;
  let stage = STAGES[s.stage] || s.stage;
  q(".stage").textContent = stage;
  const unit = [];
  const id = held && s.last.unit_id ? s.last.unit_id : s.unit_id;
  if (id) unit.push("unit " + id);
  const model = held && s.last.model ? s.last.model : s.model;
  if (model) unit.push(model);
  if (!held && (busy || s.stage === "waiting")) unit.push(seconds(s.elapsed_s + (performance.now() - t.at) / 1000));
  const attempt = held ? s.last.attempt : s.attempt;
  if (attempt > 1) unit.push("attempt " + attempt);
  if (s.warning && !held) unit.push(s.warning);
  q(".unit").textContent = unit.join("  \u00b7  ");
  const p = s.progress || {};
  const sending = s.stage === "sending" || s.stage === "verdict";
  q(".fill").style.width = (sending ? p.percent || 0 : 0) + "%";
  q(".figures").textContent = sending && p.total
    ? p.percent + "%  " + (p.bytes / 1024).toFixed(0) + " of " + (p.total / 1024).toFixed(0) + " KiB" +
      (p.bytes_per_s ? "  " + Math.round(p.bytes_per_s) + " B/s" : "") +
      (p.seconds_left != null && s.stage === "sending" ? "  " + seconds(p.seconds_left) + " left" : "")
    : "";
  if (held) {
    q(".word").textContent = s.last.result;
    q(".when").textContent = clock(s.last.start, s.last.duration_s);
    const detail = s.last.reason ? String(s.last.reason).split(";")[0] : "";
    q(".reason").textContent = plain(s.last.reason_code) + (detail ? ": " + detail : "");
    q(".reason").title = s.last.reason || "";
  }
}

function paintBench() {
  const b = bench;
  if (!b) return;
  $("bench-name").textContent = (b.bench || "orvane bench") + (b.operator ? "  \u00b7  " + b.operator : "") +
                                (b.job ? "  \u00b7  " + String(b.job).split(/[\\/]/).pop() : "");
  const image = b.image ? String(b.image).split(/[\\/]/).pop() : "";
  $("image").textContent = (b.image_label ? b.image_label + "  \u00b7  " : "") + image +
                           (b.size ? "  \u00b7  " + b.size + " bytes" : "");
  $("sha").textContent = b.sha256 ? "SHA-256 " + b.sha256 : "";
  const r = b.report || {units: 0, passed: 0, failed: 0, failures: []};
  $("units").textContent = r.units;
  $("passed").textContent = r.passed;
  $("failed").textContent = r.failed;
  $("yield").textContent = r.units ? (100 * r.first_pass_yield).toFixed(1) + "%" : "\u2013";
  const hours = (b.elapsed_s + (performance.now() - benchAt) / 1000) / 3600;
  $("rate").textContent = r.units && hours > 1 / 60 ? Math.round(r.units / hours) : "\u2013";
  const list = $("failures");
  list.replaceChildren(...(r.failures || []).map((f) => {
    const li = document.createElement("li");
    li.textContent = f.units + " \u00d7 " + plain(f.reason);
    li.dataset.reason = f.reason;
    li.dataset.units = f.units;
    return li;
  }));
  const d = b.delivery;
  $("delivery").hidden = !d;
  if (d) {
    $("delivery").textContent = "records: " + d.sent + " sent \u00b7 " + d.waiting + " waiting \u00b7 " + d.rejected + " rejected";
    $("delivery").classList.toggle("trouble", d.rejected > 0 || d.waiting > 1);
  }
  if (b.ended) link("ended", "run ended (exit " + b.code + ")");
}

function paintReport(m) {
  $("slots").hidden = true;
  $("report").hidden = false;
  const t = m.total;
  $("bench-name").textContent = "orvane report";
  $("image").textContent = t.files + (t.files === 1 ? " log, " : " logs, ") + t.lines + " lines";
  $("by").textContent = t.by;
  const row = (name, g) => {
    const tr = document.createElement("tr");
    const cells = [name || "(none)", g.units, g.passed, g.failed,
                   g.units ? (100 * g.first_pass_yield).toFixed(1) + "%" : "\u2013", g.retries,
                   g.mean_s.toFixed(2), g.p95_s.toFixed(2),
                   g.failures.map((f) => plain(f.reason) + " " + f.units).join(", ")];
    for (const c of cells) {
      const td = document.createElement("td");
      td.textContent = c;
      tr.append(td);
    }
    return tr;
  };
  $("groups").replaceChildren(...m.groups.map((g) => row(g.group, g)));
  $("total").replaceChildren(row("all", t));
  $("units").textContent = t.units;
  $("passed").textContent = t.passed;
  $("failed").textContent = t.failed;
  $("yield").textContent = t.units ? (100 * t.first_pass_yield).toFixed(1) + "%" : "\u2013";
  $("rate").parentElement.hidden = true;
  const list = $("failures");
  list.replaceChildren(...t.failures.map((f) => {
    const li = document.createElement("li");
    li.textContent = f.units + " \u00d7 " + plain(f.reason);
    return li;
  }));
  const notes = [];
  if (t.torn + t.foreign) notes.push((t.torn + t.foreign) + " lines not read (" + t.torn + " torn, " + t.foreign + " foreign)");
  if (t.unreadable.length) notes.push("cannot read " + t.unreadable.join(", "));
  $("report-note").textContent = notes.join("; ");
}

function apply(m) {
  const now = performance.now();
  if (m.type === "state") {
    if (m.kind === "report") return paintReport(m);
    bench = m.bench;
    benchAt = now;
    const area = $("slots");
    const seen = new Set();
    const order = m.slots.map((s) => {
      const t = tileOf(s.port);
      t.slot = s;
      t.at = now;
      seen.add(s.port);
      paintSlot(t);
      return t.el;
    });
    for (const port of [...tiles.keys()]) if (!seen.has(port)) tiles.delete(port);
    area.replaceChildren(...order);
    fit(order.length);
    paintBench();
  } else if (m.type === "slot") {
    const t = tileOf(m.slot.port);
    t.slot = m.slot;
    t.at = now;
    if (!t.el.isConnected) {
      $("slots").append(t.el);
      fit(tiles.size);
    }
    paintSlot(t);
  } else if (m.type === "bench") {
    bench = m.bench;
    benchAt = now;
    paintBench();
  }
}

function link(state, text) {
  const el = $("link");
  el.className = state;
  el.textContent = text;
}

function connect() {
  const events = new EventSource("/events");
  events.onopen = () => { if (!bench || !bench.ended) link("live", "live"); };
  events.onmessage = (e) => {
    const m = JSON.parse(e.data);
    if (traced) traced.push([Date.now(), m.type, m.slot ? m.slot.port : "", m.slot && m.slot.progress ? m.slot.progress.bytes : -1]);
    apply(m);
  };
  events.onerror = () => {
    if (bench && bench.ended) return;
    link("lost", "connection lost: reconnecting");
    // The browser tries again by itself, unless the server said no (too
    // many pages open): then a new stream a little later.
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 5000);
  };
}

// Times that count up between messages.
setInterval(() => {
  for (const t of tiles.values()) if (t.slot) paintSlot(t);
  paintBench();
}, 1000);
window.addEventListener("resize", () => fit(tiles.size));
connect();
