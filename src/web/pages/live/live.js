"use strict";
// The live page: the robot's picture at full rate, hold-to-drive, buttons and status.
(() => {
  const base = "/spykee/live";
  const $ = (id) => document.getElementById(id);
  const randomId = () => Array.from(crypto.getRandomValues(new Uint8Array(8)),
                                    (b) => b.toString(16).padStart(2, "0")).join("");
  const client = randomId();
  let seq = 0;
  const stats = { frames: 0, fps: 0 };
  window.liveStats = stats;

  function say(text) { $("message").textContent = text || ""; }

  function post(path, fields, keepalive) {
    const body = new URLSearchParams(fields);
    return fetch(base + path, { method: "POST", body, keepalive: !!keepalive,
                                credentials: "same-origin" })
      .then(async (r) => { if (!r.ok) say(await r.text()); })
      .catch(() => say("The gateway does not answer."));
  }

  // Driving: whatever is held (a pad button, else the keys) is repeated well inside the
  // gateway's dead-man time; letting go sends a stop at once.
  const REPEAT_MS = 200;
  let pointerDir = null, pointerButton = null;
  const keys = new Set();
  let current = null, repeat = null;

  function keyDirection() {
    const up = keys.has("up"), down = keys.has("down");
    const left = keys.has("left"), right = keys.has("right");
    const v = up && !down ? "forward" : down && !up ? "backward" : "";
    const h = right ? "right" : left ? "left" : "";
    if (v && h) return v + "-" + h;
    return v || h || null;
  }

  function drive(direction, keepalive) {
    seq += 1;
    return post("/drive", { direction, client, seq: String(seq) }, keepalive);
  }

  function update() {
    const wanted = pointerDir || keyDirection();
    if (wanted === current) return;
    current = wanted;
    clearInterval(repeat);
    repeat = null;
    if (wanted && wanted !== "stop") {
      drive(wanted);
      repeat = setInterval(() => drive(current), REPEAT_MS);
    } else {
      drive("stop", true);
    }
  }

  function releaseAll() {
    const moving = current && current !== "stop";
    keys.clear();
    if (pointerButton) pointerButton.classList.remove("held");
    pointerDir = null;
    pointerButton = null;
    current = null;
    clearInterval(repeat);
    repeat = null;
    if (moving) drive("stop", true);
  }

  for (const button of document.querySelectorAll(".pad button")) {
    button.addEventListener("pointerdown", (e) => {
      e.preventDefault();
      button.setPointerCapture(e.pointerId);
      if (pointerButton) pointerButton.classList.remove("held");
      pointerButton = button;
      pointerDir = button.dataset.dir;
      button.classList.add("held");
      if (pointerDir === "stop") current = null;  // a stop is always sent, even a second time
      update();
    });
    const up = () => {
      if (pointerButton !== button) return;
      button.classList.remove("held");
      pointerButton = null;
      pointerDir = null;
      update();
    };
    button.addEventListener("pointerup", up);
    button.addEventListener("pointercancel", up);
    button.addEventListener("lostpointercapture", up);
    button.addEventListener("contextmenu", (e) => e.preventDefault());
    // Keyboard users: Enter or Space on a focused pad button is a short tap.
    button.addEventListener("click", (e) => {
      if (e.detail !== 0) return;
      const dir = button.dataset.dir;
      drive(dir);
      if (dir !== "stop") setTimeout(() => drive("stop", true), 300);
    });
  }

  const KEYS = { ArrowUp: "up", KeyW: "up", ArrowDown: "down", KeyS: "down",
                 ArrowLeft: "left", KeyA: "left", ArrowRight: "right", KeyD: "right" };
  window.addEventListener("keydown", (e) => {
    const key = KEYS[e.code];
    if (!key || e.altKey || e.ctrlKey || e.metaKey) return;
    if (e.target instanceof HTMLInputElement) return;
    e.preventDefault();
    if (e.repeat && keys.has(key)) return;
    keys.add(key);
    update();
  });
  window.addEventListener("keyup", (e) => {
    const key = KEYS[e.code];
    if (!key) return;
    keys.delete(key);
    update();
  });
  window.addEventListener("blur", releaseAll);
  window.addEventListener("pagehide", releaseAll);
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") releaseAll();
  });

  // One-shot buttons and sliders.
  const toggles = {};
  for (const button of document.querySelectorAll("button[data-command]")) {
    button.addEventListener("click", () => post("/command", { command: button.dataset.command }));
  }
  for (const button of document.querySelectorAll("button[data-toggle]")) {
    toggles[button.dataset.toggle] = button;
    button.setAttribute("aria-pressed", "false");
    button.addEventListener("click", () => {
      const on = button.getAttribute("aria-pressed") !== "true";
      post("/command", { command: on ? button.dataset.on : button.dataset.off });
    });
  }
  $("speed").addEventListener("change", (e) => post("/command", { command: "Speed",
                                                                  value: e.target.value }));
  $("volume").addEventListener("change", (e) => post("/command", { command: "Volume",
                                                                   value: e.target.value }));

  // Status from the event stream.
  let gatewayFps = 0;
  function showFps() {
    $("fps").textContent = `${stats.fps} fps`;
    $("fps").title = `Shown here: ${stats.fps}/s; received by the gateway: ${gatewayFps}/s`;
  }
  function chip(id, text, kind) {
    $(id).textContent = text;
    $(id).className = kind || "";
  }
  function showStatus(s) {
    const pct = Math.round((s.battery * 100) / 128);
    chip("battery", `battery ${s.battery}`, pct > 30 ? "good" : pct > 10 ? "warn" : "bad");
    chip("dock", s.docked ? "docked" : "undocked", s.docked ? "good" : "");
    // Connected but not yet told more (an older link state) reads as "connected".
    const link = !s.connected ? s.link || "not connected"
               : s.link === "searching" || s.link === "lost" || !s.link ? "connected" : s.link;
    chip("link", link, s.connected && link !== "refused" && link !== "connecting" ? "good"
                      : s.link === "refused" || s.link === "lost" ? "bad" : "warn");
    gatewayFps = s.fps;
    showFps();
    const state = { head: s.leds.head, left: s.leds.left, right: s.leds.right,
                    video: s.video, audio: s.audio };
    for (const [name, on] of Object.entries(state)) {
      if (toggles[name]) toggles[name].setAttribute("aria-pressed", on ? "true" : "false");
    }
    if (document.activeElement !== $("speed") && s.speed >= 25) $("speed").value = s.speed - 24;
    if (document.activeElement !== $("volume")) $("volume").value = s.volume;
    window.liveStatus = s;
  }
  const events = new EventSource(base + "/events");
  events.onmessage = (e) => { try { showStatus(JSON.parse(e.data)); } catch (_) { /* skip */ } };
  events.onerror = () => chip("link", "gateway unreachable", "bad");

  // The picture: the multipart stream read here, so every frame is counted and shown.
  const picture = $("picture");
  let shownUrl = null;
  function show(bytes) {
    const url = URL.createObjectURL(new Blob([bytes], { type: "image/jpeg" }));
    picture.onload = () => { if (shownUrl && shownUrl !== url) URL.revokeObjectURL(shownUrl);
                             shownUrl = url; };
    picture.src = url;
    $("novideo").hidden = true;
    stats.frames += 1;
  }
  let windowFrames = 0;
  setInterval(() => { stats.fps = stats.frames - windowFrames; windowFrames = stats.frames;
                      showFps(); }, 1000);

  const HEAD_END = new Uint8Array([13, 10, 13, 10]);
  function find(buffer, length, needle, from) {
    outer: for (let i = from; i + needle.length <= length; i++) {
      for (let j = 0; j < needle.length; j++) if (buffer[i + j] !== needle[j]) continue outer;
      return i;
    }
    return -1;
  }
  async function readStream() {
    const response = await fetch(base + ".mjpg", { credentials: "same-origin" });
    if (!response.ok || !response.body) throw new Error(await response.text());
    const reader = response.body.getReader();
    let buffer = new Uint8Array(256 * 1024), length = 0;
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      if (length + value.length > buffer.length) {
        const bigger = new Uint8Array(Math.max(buffer.length * 2, length + value.length));
        bigger.set(buffer.subarray(0, length));
        buffer = bigger;
      }
      buffer.set(value, length);
      length += value.length;
      let start = 0;
      for (;;) {
        const headEnd = find(buffer, length, HEAD_END, start);
        if (headEnd < 0) break;
        const head = new TextDecoder("latin1").decode(buffer.subarray(start, headEnd));
        const m = /content-length:\s*(\d+)/i.exec(head);
        if (!m) { start = headEnd + 4; continue; }
        const size = Number(m[1]);
        if (headEnd + 4 + size > length) break;
        show(buffer.slice(headEnd + 4, headEnd + 4 + size));
        start = headEnd + 4 + size;
      }
      buffer.copyWithin(0, start, length);
      length -= start;
    }
  }
  async function watch() {
    for (;;) {
      try {
        await readStream();
      } catch (e) {
        say(String(e.message || e).slice(0, 200));
      }
      await new Promise((r) => setTimeout(r, 2000));
    }
  }
  if (window.ReadableStream && window.fetch) {
    watch();
  } else {
    picture.src = base + ".mjpg";
  }
})();
