// The fleet board: every station and port of the factory, live from the
// broker (MQTT over WebSockets: mqtt.js in board-worker.js, which hands the
// page batches of parsed messages). Topics under iap/v1/<site>/<station>/:
//   status   the shipper's: online, backlog, last_shipped (retained, last will)
//   line     usb-iap-flash --publish's running state (retained, last will)
//   port/<p> one port's live state (retained)
//   summary  the collector's tally of today and the last 20 results (retained)
// Messages only change the model and mark what changed; the page is drawn in
// animation frames, at most ten a second, touching only the rows that
// changed, so that a factory of 50 stations x 32 ports at 2 updates a second
// stays usable (bench/board_load.py).
'use strict';

const ROOT = 'iap/v1';
const MAX_RESULTS = 200;       // rows shown in the factory's last results
const RESULTS_EVERY_MS = 500;  // the results table is redrawn at most this often
const NEW_ROWS_PER_FRAME = 32;  // a factory's first messages are made into rows over some frames,
                                // a station's ports in each (100 made start-up tasks of 70-110 ms)
const FRAME_MS = 100;          // the rows at most ten times a second, as the terminal's board

const stations = new Map();    // "site/station" -> station
const dirtyPorts = new Set(), dirtyStations = new Set();
let resultsDirty = false, resultsDrawn = 0, resultsTimer = 0, frameAsked = false, lastDraw = -FRAME_MS;
// Figures for tests and the load benchmark (bench/board_load.py).
const stats = window.boardStats = { messages: 0, bad: 0, frames: 0, frameMs: 0, maxFrameMs: 0, lagMs: 0, maxLagMs: 0, pending: 0 };

const $ = (id) => document.getElementById(id);
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function setText(e, text) { if (e.textContent !== text) e.textContent = text; }
function setClass(e, cls) { if (e.className !== cls) e.className = cls; }
const byName = (a, b) => a.localeCompare(b, undefined, { numeric: true });

function rate(bps) {
  if (typeof bps !== 'number' || !(bps > 0)) return '';
  return bps >= 1e6 ? (bps / 1e6).toFixed(2) + ' MB/s' : (bps / 1e3).toFixed(1) + ' kB/s';
}
function shortTime(iso) {
  if (!iso) return 'never';
  const t = new Date(iso);
  return isNaN(t) ? String(iso) : t.toLocaleString();
}
// A failed outcome is any but "passed"; none yet is neither.
function outcomeClass(outcome) { return !outcome ? '' : outcome === 'passed' ? 'pass' : 'fail'; }
function lines(text) { return String(text ?? '').replace(/\s*\n\s*/g, ' / '); }

// ---- the model ----------------------------------------------------------

function station(site, name) {
  const key = site + '/' + name;
  let s = stations.get(key);
  if (!s) {
    s = { key, site, name, status: null, line: null, summary: null, ports: new Map(), el: null };
    stations.set(key, s);
    addStationOption(key);
  }
  return s;
}

function portLabel(level) {
  try { return level === '%00' ? '' : decodeURIComponent(level); } catch { return level; }
}

// One topic's latest payload: an object, or null for a retained message cleared.
function onMessage(topic, data) {
  const parts = topic.split('/');
  if (parts.length < 5 || parts[0] + '/' + parts[1] !== ROOT) return;
  const s = station(parts[2], parts[3]);
  const leaf = parts[4];
  if (leaf === 'port' && parts.length === 6) {
    let p = s.ports.get(parts[5]);
    if (!data) {                    // a retained port cleared: its row goes
      if (p) { s.ports.delete(parts[5]); dirtyPorts.add(p); dirtyStations.add(s); p.gone = true; }
    } else {
      if (!p) { p = { station: s, level: parts[5], data: null, row: null, shown: {} }; s.ports.set(parts[5], p); }
      const failing = portClass(data) === 'fail';
      if (failing !== (p.data !== null && portClass(p.data) === 'fail')) dirtyStations.add(s);
      p.data = data;
      dirtyPorts.add(p);
      if (typeof data.time === 'string') {
        const lag = Date.now() - Date.parse(data.time);
        if (lag >= 0) { stats.lagMs = lag; if (lag > stats.maxLagMs) stats.maxLagMs = lag; }
      }
    }
    askFrame();  // the station is drawn again only when its failure mark may change
    return;
  } else if (leaf === 'status' || leaf === 'line' || leaf === 'summary') {
    // the last will ({"online":false}) keeps what the station said before
    s[leaf] = data && data.online === false && s[leaf] ? { ...s[leaf], ...data } : data;
    if (leaf === 'summary') resultsDirty = true;
  } else {
    return;
  }
  dirtyStations.add(s);
  askFrame();
}

// ---- drawing, once per frame -------------------------------------------

// Each frame's style, layout and paint cost about the same however few rows
// changed: so frames come at most every FRAME_MS, each with all that changed.
function askFrame() {
  if (frameAsked) return;
  frameAsked = true;
  const wait = lastDraw + FRAME_MS - performance.now();
  if (wait > 0) setTimeout(() => requestAnimationFrame(draw), wait);
  else requestAnimationFrame(draw);
}

function draw() {
  frameAsked = false;
  const t0 = lastDraw = performance.now();
  for (const s of dirtyStations) drawStation(s);
  dirtyStations.clear();
  const later = [];
  let made = 0;
  for (const p of dirtyPorts) {
    if (p.row && !p.gone && !p.station.visible) p.station.waiting.add(p);
    else if (!p.row && !p.gone && ++made > NEW_ROWS_PER_FRAME) later.push(p);
    else drawPort(p);
  }
  dirtyPorts.clear();
  for (const p of later) dirtyPorts.add(p);
  if (later.length) askFrame();
  if (resultsDirty) {
    if (t0 - resultsDrawn >= RESULTS_EVERY_MS) { drawResults(); resultsDrawn = t0; resultsDirty = false; }
    else if (!resultsTimer) resultsTimer = setTimeout(() => { resultsTimer = 0; askFrame(); }, RESULTS_EVERY_MS);
  }
  stats.frames++;
  stats.frameMs = performance.now() - t0;
  if (stats.frameMs > stats.maxFrameMs) stats.maxFrameMs = stats.frameMs;
  stats.pending = dirtyPorts.size + dirtyStations.size;
}

function stationElement(s) {
  if (s.el) return s.el;
  const e = s.el = { root: el('div', 'station') };
  e.root.dataset.station = s.key;
  e.root.station = s;
  s.visible = true;            // until the observer says otherwise
  s.waiting = new Set();       // its rows changed while out of sight
  sight.observe(e.root);
  const head = el('div', 'st-head'), tally = el('div', 'st-tally');
  e.name = head.appendChild(el('span', 'st-name', s.site + ' / ' + s.name));
  e.badge = head.appendChild(el('span', 'badge', 'no status'));
  e.backlog = head.appendChild(el('span', 'st-backlog'));
  e.shipped = head.appendChild(el('span', 'st-shipped'));
  e.line = head.appendChild(el('span', 'st-line'));
  e.passed = tally.appendChild(el('span', 'st-passed'));
  tally.append(' ');
  e.failed = tally.appendChild(el('span', 'st-failed'));
  tally.append(' ');
  e.words = tally.appendChild(el('span', 'st-words'));
  e.body = el('tbody');
  const table = el('table', 'ports'), columns = el('colgroup');
  for (const c of ['c-port', 'c-state', 'c-bar', 'c-rate', 'c-serial', 'c-result']) columns.appendChild(el('col', c));
  table.append(columns, e.body);
  e.root.append(head, tally, table);
  // in name order among the others
  const list = $('stations');
  let next = null;
  for (const other of list.children) if (byName(other.dataset.station, s.key) > 0) { next = other; break; }
  list.insertBefore(e.root, next);
  return e;
}

function drawStation(s) {
  const e = stationElement(s);
  const st = s.status, sum = s.summary, ln = s.line;
  const online = st ? st.online === true : null;
  setText(e.badge, online === null ? 'no status' : online ? 'online' : 'offline');
  setClass(e.badge, 'badge' + (online === null ? '' : online ? ' online' : ' offline'));
  setText(e.backlog, st && typeof st.backlog === 'number' ? 'backlog ' + st.backlog : '');
  setText(e.shipped, st && online !== null && 'last_shipped' in st ? 'last shipped ' + shortTime(st.last_shipped) : '');
  setText(e.line, !ln ? '' : ln.online === false ? 'line stopped'
    : ['line', ln.tool, ln.firmware, typeof ln.running === 'number' ? ln.running + ' running' : ''].filter(Boolean).join(' '));
  setText(e.passed, sum ? 'passed ' + (sum.passed ?? 0) : '');
  setText(e.failed, sum ? 'failed ' + (sum.failed ?? 0) : '');
  const words = sum && sum.failures && typeof sum.failures === 'object'
    ? Object.entries(sum.failures).sort((a, b) => b[1] - a[1]).map(([w, n]) => w + ' ' + n).join(', ') : '';
  setText(e.words, words);
  let failing = false;
  for (const p of s.ports.values()) if (p.data && portClass(p.data) === 'fail') { failing = true; break; }
  setClass(e.root, 'station' + (online === false ? ' offline' : '') + (failing ? ' has-failure' : ''));
}

function portRow(p) {
  const r = p.row = { tr: el('tr', '') };
  r.tr.dataset.port = p.level;
  r.port = r.tr.appendChild(el('td', 'p-port', portLabel(p.level)));
  r.state = r.tr.appendChild(el('td', 'p-state'));
  const bar = r.tr.appendChild(el('td', 'p-bar'));
  r.fill = bar.appendChild(el('div', 'bar')).appendChild(el('div', 'fill'));
  r.pct = bar.appendChild(el('span', 'p-pct'));
  r.rate = r.tr.appendChild(el('td', 'p-rate'));
  r.serial = r.tr.appendChild(el('td', 'p-serial'));
  r.result = r.tr.appendChild(el('td', 'p-result'));
  const body = stationElement(p.station).body;
  let next = null;
  for (const other of body.children) if (byName(other.dataset.port, p.level) > 0) { next = other; break; }
  body.insertBefore(r.tr, next);
  return r;
}

// While a port works on a board, its text is the stage's and its outcome the
// previous board's: the row turns red for a failure only once the port has
// stopped with it (done, waiting for the next board).
const WORKING = new Set(['upgrading', 'to-boot', 'restarting']);
function portClass(d) {
  const c = outcomeClass(d.outcome);
  return c === 'fail' && WORKING.has(d.state) ? 'was-fail' : c;
}

// Rows of a station out of sight are not touched: they are drawn when it comes
// into sight (with a margin, so that scrolling finds them drawn).
const sight = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    const s = entry.target.station;
    s.visible = entry.isIntersecting;
    if (s.visible && s.waiting.size) {
      for (const p of s.waiting) dirtyPorts.add(p);
      s.waiting.clear();
      askFrame();
    }
  }
}, { rootMargin: '300px' });

function drawPort(p) {
  if (p.gone) {
    if (p.row) p.row.tr.remove();
    p.row = null;
    return;
  }
  const d = p.data, r = p.row || portRow(p), shown = p.shown;
  const pct = typeof d.percent === 'number' ? Math.max(0, Math.min(100, d.percent)) : 0;
  const cls = portClass(d), working = WORKING.has(d.state);
  const text = working ? '' : lines(d.text);
  const result = !d.outcome ? '' : outcomeClass(d.outcome) === 'fail'
    ? [d.failure || d.outcome, text].filter(Boolean).join(': ')
    : d.outcome === 'passed' ? 'PASS' : d.outcome;
  if (shown.cls !== cls) { setClass(r.tr, cls); shown.cls = cls; }
  setText(r.state, String(d.state ?? ''));
  if (r.state.title !== (working ? lines(d.text) : '')) r.state.title = working ? lines(d.text) : '';
  if (shown.pct !== pct) { r.fill.style.transform = 'scaleX(' + pct / 100 + ')'; shown.pct = pct; }
  setText(r.pct, pct.toFixed(0) + '%');
  setText(r.rate, d.state === 'upgrading' ? rate(d.bytes_per_second) : '');
  setText(r.serial, String(d.serial ?? ''));
  setText(r.result, result);
  if (r.result.title !== result) r.result.title = result;
}

// ---- the factory's last results ----------------------------------------

function addStationOption(key) {
  const select = document.forms.filter.station;
  let next = null;
  for (const o of select.options) if (o.value && byName(o.value, key) > 0) { next = o; break; }
  select.insertBefore(new Option(key, key), next);
}

function drawResults() {
  const f = document.forms.filter;
  const wantStation = f.station.value, wantOutcome = f.outcome.value;
  const wantSerial = f.serial.value.trim().toLowerCase();
  const seen = new Set(), rows = [], outcomes = new Set();
  for (const s of stations.values()) {
    const last = s.summary && Array.isArray(s.summary.last) ? s.summary.last : [];
    for (const [i, a] of last.entries()) {
      const id = a && typeof a === 'object' ? a.id ?? s.key + '#' + i : null;
      if (id === null || seen.has(id)) continue;
      seen.add(id);
      if (a.outcome) outcomes.add(String(a.outcome));
      if (wantStation && s.key !== wantStation) continue;
      if (wantOutcome === 'failed*' ? outcomeClass(a.outcome) !== 'fail' : wantOutcome && a.outcome !== wantOutcome) continue;
      if (wantSerial && !String(a.serial ?? '').toLowerCase().includes(wantSerial)) continue;
      rows.push({ s, a, t: Date.parse(a.start) || 0 });
    }
  }
  for (const o of outcomes) {
    if (![...f.outcome.options].some((x) => x.value === o)) f.outcome.add(new Option(o, o));
  }
  rows.sort((x, y) => y.t - x.t);
  const body = $('results-body'), fragment = document.createDocumentFragment();
  for (const { s, a } of rows.slice(0, MAX_RESULTS)) {
    const tr = el('tr', outcomeClass(a.outcome));
    for (const [cls, text] of [['r-start', shortTime(a.start)], ['r-station', s.key], ['r-port', a.port],
      ['r-serial', a.serial], ['r-outcome', a.outcome], ['r-failure', a.failure], ['r-firmware', a.sw_version],
      ['r-result', lines(a.result)]]) tr.appendChild(el('td', cls, String(text ?? '')));
    fragment.appendChild(tr);
  }
  body.replaceChildren(fragment);
  setText($('results-count'), rows.length > MAX_RESULTS ? MAX_RESULTS + ' of ' + rows.length : rows.length + ' shown');
  let passed = 0, failed = 0;
  for (const s of stations.values()) if (s.summary) { passed += +s.summary.passed || 0; failed += +s.summary.failed || 0; }
  setText($('factory-tally'), 'today: passed ' + passed + ', failed ' + failed);
}

// ---- the connection ------------------------------------------------------

function brokerUrl(text) {
  text = (text || '').trim();
  if (!text) return location.protocol.startsWith('http') ? (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/' : '';
  return /^wss?:\/\//.test(text) ? text : 'ws://' + text;
}

function showConnection(text, up) {
  setText($('connection'), text);
  setClass($('connection'), 'connection ' + (up ? 'up' : 'down'));
  document.body.classList.toggle('disconnected', !up);
}

let worker = null;
const workerStarted = Promise.all(['mqtt.min.js', 'board-worker.js'].map((file) => fetch(file).then((r) => {
  if (!r.ok) throw new Error(file + ': ' + r.status);
  return r.text();
}))).then((texts) => {
  worker = new Worker(URL.createObjectURL(new Blob([texts.join('\n;\n')], { type: 'text/javascript' })));
  worker.onmessage = ({ data }) => {
    if (data.batch) {
      stats.messages += data.received;
      stats.bad += data.bad;
      for (const [topic, payload] of data.batch) onMessage(topic, payload);
    } else {
      showConnection(data.connection, data.up);
    }
  };
  worker.onerror = (event) => showConnection('the connection failed: ' + (event.message || 'in its worker'), false);
}).catch((err) => showConnection('the board cannot load its MQTT client: ' + err.message, false));

function connect(settings) {
  const url = brokerUrl(settings.broker);
  if (!url) { showConnection('give the broker\'s address', false); return; }
  workerStarted.then(() => worker && worker.postMessage({ connect: { url, user: settings.user, password: settings.password, site: settings.site } }));
}

function start() {
  const params = new URLSearchParams(location.search), form = document.forms.connect;
  let saved = {};
  try { saved = JSON.parse(localStorage.getItem('iap-board') || '{}'); } catch { saved = {}; }
  const settings = {};
  for (const k of ['broker', 'user', 'password', 'site']) settings[k] = params.get(k) ?? saved[k] ?? '';
  for (const k of ['broker', 'user', 'password']) form[k].value = settings[k];
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    for (const k of ['broker', 'user', 'password']) settings[k] = form[k].value;
    try { localStorage.setItem('iap-board', JSON.stringify(settings)); } catch { /* private mode */ }
    connect(settings);
  });
  const redraw = () => { resultsDirty = true; resultsDrawn = 0; askFrame(); };
  document.forms.filter.addEventListener('input', redraw);
  document.forms.filter.addEventListener('submit', (event) => event.preventDefault());
  connect(settings);
}

start();
