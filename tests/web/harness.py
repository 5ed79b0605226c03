"""The web tests' harness: a factory broker (Debian's mosquitto with the files
broker_config writes, users by mosquitto_passwd, free loopback ports), MQTT
clients (paho), headless Chromium, and stand-ins for the fleet's programs.

STAND-INS publish what the programs will, by the documented topics and fields:
  status   ship: retained, last will {"online":false}; online, version, records, backlog, last_shipped
  line     usb-iap-flash --publish: retained; online, tool, firmware, passed, failed, running
  port/<p> usb-iap-flash --publish: retained, QoS 0, 2/s; port, state, percent, bytes_per_second,
           text, outcome, failure, serial, time
  summary  collect: retained; site, station, day, passed, failed, failures {word: n}, last [attempts]"""
import argparse, getpass, json, os, shutil, socket, subprocess, tempfile, time

import paho.mqtt.client as mqtt

SITE = 'plant1'
USERS = {'collector': 'collector-pw', 'board': 'board-pw', 'st1': 'st1-pw', 'st2': 'st2-pw'}
FAIL_TEXT = 'Upgrade error, please try again.\nError code: 0xE2'


def args():
    p = argparse.ArgumentParser()
    for a in ('--fleet', '--board', '--out'):
        p.add_argument(a, required=True)
    return p.parse_args()


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(what, predicate, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError('timed out (%.1f s) waiting for %s' % (timeout, what))


class Broker:
    def __init__(self, opts, tmp, tls=None):
        self.tmp, self.mqtt, self.ws = tmp, free_port(), free_port()
        self.folder = os.path.join(tmp, 'broker')
        cmd = [opts.fleet, 'broker-config', '--write', '--site', SITE, '--folder', self.folder, '--board-dir', opts.board,
               '--persistence', os.path.join(tmp, 'db'), '--mqtt-port', str(self.mqtt),
               '--ws-port', str(self.ws), '--run-as', getpass.getuser(), '--bind', '127.0.0.1']
        if tls:
            self.tls = free_port()
            cmd += ['--tls-port', str(self.tls), '--cert', tls[0], '--key', tls[1]]
        subprocess.run(cmd, check=True, capture_output=True)
        for user, password in USERS.items():
            subprocess.run(['mosquitto_passwd', '-b', os.path.join(self.folder, 'passwd'), user, password], check=True)
        self.start()

    def start(self):
        log = open(os.path.join(self.tmp, 'mosquitto.log'), 'a')
        self.proc = subprocess.Popen(['mosquitto', '-c', os.path.join(self.folder, 'mosquitto.conf')],
                                     stdout=log, stderr=subprocess.STDOUT)

        def listening():
            assert self.proc.poll() is None, 'mosquitto ended: ' + open(log.name).read()[-2000:]
            with socket.socket() as s:
                return s.connect_ex(('127.0.0.1', self.ws)) == 0
        wait_for('the broker', listening, 10)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


def client(broker, user, port=None, tls_ca=None, will=None, keepalive=10, password=None):
    """A connected paho client; ConnectionRefusedError with the reason when refused."""
    c = mqtt.Client(client_id='%s-%d-%f' % (user, os.getpid(), time.time()))
    c.username_pw_set(user, password or USERS[user])
    if tls_ca:
        c.tls_set(ca_certs=tls_ca)
    if will:
        c.will_set(will, '{"online":false}', qos=1, retain=True)
    rc = []
    c.on_connect = lambda cl, u, flags, code: rc.append(code)
    c.on_disconnect = lambda cl, u, code: rc.append(code or -1)
    c.connect('127.0.0.1', port or broker.mqtt, keepalive)
    c.loop_start()
    try:
        wait_for('the connection of ' + user, lambda: rc, 5)
    except AssertionError:
        rc.append('no answer')
    if rc[0] != 0:
        c.loop_stop()
        raise ConnectionRefusedError('%s refused: %s' % (user, rc[0]))
    return c


def topic(station, leaf):
    return 'iap/v1/%s/%s/%s' % (SITE, station, leaf)


def publish(c, t, payload, retain=False, qos=1):
    info = c.publish(t, payload if isinstance(payload, str) else json.dumps(payload), qos=qos, retain=retain)
    if qos:
        info.wait_for_publish()


def shipper_process(broker, station, keepalive):
    """`usb-iap-fleet ship`'s stand-in, to be killed: a client with a last will
    that publishes the station's status (mosquitto_pub, lines from stdin)."""
    p = subprocess.Popen(['mosquitto_pub', '-p', str(broker.mqtt), '-u', station, '-P', USERS[station], '-k', str(keepalive),
                          '-t', topic(station, 'status'), '-r', '-q', '1', '-l', '--will-topic', topic(station, 'status'),
                          '--will-payload', '{"online":false}', '--will-retain', '--will-qos', '1'], stdin=subprocess.PIPE, text=True)
    p.stdin.write(json.dumps({'online': True, 'version': '1.0.0', 'records': 1, 'backlog': 3,
                              'last_shipped': '2026-12-09T10:00:00.000+01:00'}) + '\n')
    p.stdin.flush()
    return p


def attempt(station, i, failed):
    return {'site': SITE, 'station': station, 'id': '%s-%d' % (station, i), 'start': '2026-12-09T10:%02d:00.000+01:00' % i,
            'port': '1-4.%d' % i, 'serial': 'SN-%s-%d' % (station, i), 'sw_version': 'V2.1.0',
            'outcome': 'device-error' if failed else 'passed', 'failure': 'device-status' if failed else '',
            'result': FAIL_TEXT if failed else 'PASS'}


def line_station(c, station, failing=None, ports=8):
    """`usb-iap-flash line --publish`'s stand-in: each port from waiting
    through upgrading to its result, 2 messages a second per port."""
    publish(c, topic(station, 'line'), {'online': True, 'tool': 'demo-tool', 'firmware': 'V2.1.0', 'running': ports}, retain=True)
    for percent in (None, 0, 20, 45, 70, 95, 'end'):
        for i in range(1, ports + 1):
            bad, m = i == failing, {'port': '1-4.%d' % i, 'serial': 'SN-%s-%d' % (station, i), 'outcome': None,
                                    'failure': None, 'text': 'Open Success! BOOT', 'state': 'upgrading',
                                    'bytes_per_second': 41900.0, 'time': time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())}
            if percent is None:
                m.update(state='waiting', percent=0.0, bytes_per_second=0, text='')
            elif percent == 'end':
                m.update(state='done', percent=7.0 if bad else 100.0, bytes_per_second=0, text=FAIL_TEXT if bad else 'PASS',
                         outcome='device-error' if bad else 'passed', failure='device-status' if bad else None)
            else:
                m['percent'] = min(float(percent), 7.0) if bad else float(percent)
            publish(c, topic(station, 'port/1-4.%d' % i), m, retain=True, qos=0)
        time.sleep(0.5)


def summary(c, station, attempts):
    """`usb-iap-fleet collect`'s stand-in: a station's retained summary."""
    failures = {}
    for a in attempts:
        if a['failure']:
            failures[a['failure']] = failures.get(a['failure'], 0) + 1
    passed = sum(a['outcome'] == 'passed' for a in attempts)
    s = {'site': SITE, 'station': station, 'day': '2026-12-09', 'passed': passed, 'failed': len(attempts) - passed,
         'failures': failures, 'last': attempts[::-1][:20]}
    publish(c, topic(station, 'summary'), s, retain=True)
    return s


def chromium(perf_log=False):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    o = webdriver.ChromeOptions()
    o.binary_location = '/usr/bin/chromium'
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--window-size=1600,1000'):
        o.add_argument(a)
    if perf_log:
        o.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
        o.add_experimental_option('perfLoggingPrefs', {'enableNetwork': False, 'traceCategories': 'toplevel,blink.user_timing'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=o)


def temp_dir():
    d = tempfile.mkdtemp(prefix='iap-web.')
    return d, lambda: shutil.rmtree(d, ignore_errors=True)
