"""The web tests' harness: a factory broker (Debian's mosquitto with the files
broker_config writes, users made with mosquitto_passwd, free loopback ports),
MQTT clients (paho), headless Chromium, and stand-ins for the fleet's
programs that publish what they publish (see STAND-INS below)."""
import argparse, getpass, json, os, shutil, socket, subprocess, sys, tempfile, time

import paho.mqtt.client as mqtt

SITE = 'plant1'
USERS = {'collector': 'collector-pw', 'board': 'board-pw', 'st1': 'st1-pw', 'st2': 'st2-pw'}


def args():
    p = argparse.ArgumentParser()
    p.add_argument('--config-tool', required=True)
    p.add_argument('--board', required=True)
    p.add_argument('--out', required=True)
    return p.parse_args()


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(what, predicate, timeout, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise AssertionError('timed out (%.1f s) waiting for %s' % (timeout, what))


class Broker:
    """mosquitto -c <the generated mosquitto.conf>, on free loopback ports."""

    def __init__(self, opts, tmp, tls=None):
        self.tmp, self.proc = tmp, None
        self.mqtt, self.ws = free_port(), free_port()
        self.folder = os.path.join(tmp, 'broker')
        # The one place that makes the broker's files: `usb-iap-fleet
        # broker-config --write` with the same options replaces the tool.
        cmd = [opts.config_tool, '--site', SITE, '--folder', self.folder, '--board-dir', opts.board,
               '--persistence', os.path.join(tmp, 'db'), '--mqtt-port', str(self.mqtt),
               '--ws-port', str(self.ws), '--run-as', getpass.getuser()]
        if tls:
            self.tls = free_port()
            cmd += ['--tls-port', str(self.tls), '--cert', tls[0], '--key', tls[1]]
        self.config = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
        for user, password in USERS.items():
            subprocess.run(['mosquitto_passwd', '-b', os.path.join(self.folder, 'passwd'), user, password], check=True)
        self.start()

    def start(self):
        self.log = open(os.path.join(self.tmp, 'mosquitto.log'), 'a')
        self.proc = subprocess.Popen(['mosquitto', '-c', os.path.join(self.folder, 'mosquitto.conf')],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        wait_for('the broker to listen', lambda: self._listening(), 10)

    def _listening(self):
        if self.proc.poll() is not None:
            raise AssertionError('mosquitto ended: ' + open(self.log.name).read()[-2000:])
        with socket.socket() as s:
            return s.connect_ex(('127.0.0.1', self.ws)) == 0

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


def client(broker, user, port=None, tls_ca=None, will=None, keepalive=10, password=None):
    """A connected paho client (loop running); raises with the reason when refused."""
    c = mqtt.Client(client_id='%s-%d-%f' % (user, os.getpid(), time.time()), protocol=mqtt.MQTTv311)
    c.username_pw_set(user, password or USERS[user])
    if tls_ca:
        c.tls_set(ca_certs=tls_ca)
    if will:
        c.will_set(will[0], will[1], qos=1, retain=True)
    result = {}
    c.on_connect = lambda cl, u, flags, rc: result.setdefault('rc', rc)
    c.on_disconnect = lambda cl, u, rc: result.setdefault('rc', rc or -1)
    c.connect('127.0.0.1', port or broker.mqtt, keepalive)
    c.loop_start()
    try:
        wait_for('the connection of ' + user, lambda: 'rc' in result, 5)
    except AssertionError:
        result['rc'] = 'no answer'
    if result['rc'] != 0:
        c.loop_stop()
        raise ConnectionRefusedError('%s refused: %s' % (user, result['rc']))
    return c


def topic(station, leaf):
    return 'iap/v1/%s/%s/%s' % (SITE, station, leaf)


def publish(c, t, payload, retain=False, qos=1):
    info = c.publish(t, json.dumps(payload) if not isinstance(payload, str) else payload, qos=qos, retain=retain)
    if qos:
        info.wait_for_publish()


# ---- STAND-INS ---------------------------------------------------------
# What `usb-iap-fleet ship`, `collect` and `usb-iap-flash line --publish` will
# publish, by the documented topics and field names:
#   status  (ship, retained, will {"online":false}): online, version, records,
#           backlog, last_shipped
#   line    (flash, retained): online, tool, firmware, passed, failed, running
#   port/<p> (flash, retained, QoS 0, <= 2/s): port, state, percent,
#           bytes_per_second, text, outcome, failure, serial, time
#   summary (collect, retained): site, station, day, passed, failed,
#           failures {word: n}, last [attempt messages: record columns + id], updated

def shipper_process(broker_port, station, keepalive):
    """A shipper stand-in in its own process (so that it can be killed): its
    retained status, and its last will. Replace by `usb-iap-fleet ship`."""
    code = ('import sys, time; sys.path.insert(0, %r); import harness as h\n'
            'class B: mqtt = %d\n'
            'c = h.client(B, %r, will=(h.topic(%r, "status"), \'{"online":false}\'), keepalive=%d)\n'
            'h.publish(c, h.topic(%r, "status"), {"online": True, "version": "1.0.0", "records": 1,'
            ' "backlog": 3, "last_shipped": "2026-12-09T10:00:00.000+01:00"}, retain=True)\n'
            'print("up", flush=True)\n'
            'time.sleep(3600)\n') % (os.path.dirname(__file__), broker_port, station, station, keepalive, station)
    p = subprocess.Popen([sys.executable, '-c', code], stdout=subprocess.PIPE, text=True)
    assert p.stdout.readline().strip() == 'up', 'the shipper stand-in did not start'
    return p


def port_name(i):
    return '1-4.%d' % i


def attempt(station, i, failed, day='2026-12-09'):
    return {'site': SITE, 'station': station, 'id': '%s-%d' % (station, i), 'start': '%sT10:%02d:00.000+01:00' % (day, i),
            'port': port_name(i), 'serial': 'SN-%s-%d' % (station, i), 'sw_version': 'V2.1.0',
            'outcome': 'device-error' if failed else 'passed', 'failure': 'device-status' if failed else '',
            'result': 'Upgrade error, please try again.\nError code: 0xE2' if failed else 'PASS'}


def line_station(c, station, ports=8, failing=None, step=0.5):
    """usb-iap-flash line --publish's stand-in: every port from waiting
    through upgrading to its result, at 2 messages a second per port."""
    publish(c, topic(station, 'line'), {'online': True, 'version': '1.0.0', 'tool': 'demo-tool',
                                        'firmware': 'V2.1.0', 'passed': 0, 'failed': 0, 'running': ports}, retain=True)
    for percent in (None, 0, 20, 45, 70, 95, 'end'):
        for i in range(1, ports + 1):
            m = {'port': port_name(i), 'serial': 'SN-%s-%d' % (station, i), 'outcome': None, 'failure': None,
                 'text': 'Open Success! BOOT', 'state': 'upgrading', 'bytes_per_second': 41900.0 + i,
                 'time': time.strftime('%Y-%m-%dT%H:%M:%S.000+00:00', time.gmtime())}
            if percent is None:
                m.update(state='waiting', percent=0.0, bytes_per_second=0, text='')
            elif percent == 'end':
                bad = i == failing
                m.update(state='done', percent=7.0 if bad else 100.0, bytes_per_second=0,
                         outcome='device-error' if bad else 'passed', failure='device-status' if bad else None,
                         text='Upgrade error, please try again.\nError code: 0xE2' if bad else 'PASS')
            else:
                m['percent'] = float(percent) if i != failing else min(float(percent), 7.0)
            publish(c, topic(station, 'port/' + port_name(i)), m, retain=True, qos=0)
        time.sleep(step)


def summary(c, station, attempts):
    """collect's stand-in: the retained summary of a station's attempts."""
    failures = {}
    for a in attempts:
        if a['failure']:
            failures[a['failure']] = failures.get(a['failure'], 0) + 1
    passed = sum(a['outcome'] == 'passed' for a in attempts)
    s = {'site': SITE, 'station': station, 'day': '2026-12-09', 'passed': passed, 'failed': len(attempts) - passed,
         'failures': failures, 'last': attempts[::-1][:20], 'updated': '2026-12-09T10:10:00.000+01:00'}
    publish(c, topic(station, 'summary'), s, retain=True)
    return s


def chromium(window=(1600, 1000), perf_log=False):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    o = webdriver.ChromeOptions()
    o.binary_location = '/usr/bin/chromium'
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
              '--window-size=%d,%d' % window):
        o.add_argument(a)
    if perf_log:
        o.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
        o.add_experimental_option('perfLoggingPrefs', {'enableNetwork': False, 'traceCategories': 'toplevel,blink.user_timing'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=o)


def temp_dir():
    d = tempfile.mkdtemp(prefix='iap-web.')
    return d, lambda: shutil.rmtree(d, ignore_errors=True)
