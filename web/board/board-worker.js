// The board's MQTT connection, off the page's main thread: mqtt.js receives
// and parses every message here, and the page gets, every BATCH_MS, the
// latest payload of each topic that changed (a port sending twice in that
// time is drawn once anyway).
//   page -> worker  {connect: {url, user, password, site}}
//   worker -> page  {connection: text, up} | {batch: [[topic, object|null], ...], received, bad}
// The page runs it joined after mqtt.min.js, from a blob: so that it starts
// whatever type the web server gives .js files (Mosquitto's http_dir gives
// none, and a worker's importScripts refuses that).
'use strict';

const ROOT = 'iap/v1';
const LEAVES = ['status', 'line', 'summary', 'port/+'];
const BATCH_MS = 100;
const utf8 = new TextDecoder();
let client = null, timer = 0, received = 0, bad = 0;
const latest = new Map();  // topic -> parsed payload (null: a retained message cleared)

function flush() {
  timer = 0;
  postMessage({ batch: [...latest], received, bad });
  latest.clear();
  received = bad = 0;
}

function onMessage(topic, payload) {
  received++;
  let data = null;
  if (payload.length) {
    try { data = JSON.parse(utf8.decode(payload)); } catch { data = undefined; }
    if (data === null || typeof data !== 'object' || Array.isArray(data)) { bad++; return; }
  }
  latest.set(topic, data);
  if (!timer) timer = setTimeout(flush, BATCH_MS);
}

function connect({ url, user, password, site }) {
  if (client) client.end(true);
  const show = (connection, up = false) => postMessage({ connection, up });
  show('connecting to ' + url);
  client = mqtt.connect(url, {
    username: user || undefined, password: password || undefined,
    keepalive: 10, reconnectPeriod: 2000, connectTimeout: 5000, clean: true, protocolVersion: 4,
  });
  const c = client;
  c.on('connect', () => {
    show('connected to ' + url, true);
    c.subscribe(LEAVES.map((leaf) => ROOT + '/' + (site || '+') + '/+/' + leaf), { qos: 0 }, (err, granted) => {
      if (err || (granted || []).some((g) => g.qos === 128)) show('connected, but not allowed to read the fleet');
    });
  });
  c.on('message', onMessage);
  c.on('reconnect', () => show('reconnecting to ' + url));
  c.on('close', () => show('connection lost; reconnecting to ' + url));
  c.on('error', (err) => show('broker: ' + err.message));
}

onmessage = (event) => { if (event.data.connect) connect(event.data.connect); };
