"""The web tests' harness: a factory broker (Debian's mosquitto with the files
broker_config writes, users by mosquitto_passwd and a password file each,
free loopback ports), our programs as its clients, MQTT clients (paho),
headless Chromium, and the collector's summary for bench/board_load.py's
stations of made-up attempts."""
import argparse, getpass, json, os, shutil, socket, subprocess, tempfile, time

import paho.mqtt.client as mqtt

SITE = 'plant1'
USERS = {'collector': 'collector-pw', 'board': 'board-pw', 'st1': 'st1-pw', 'st2': 'st2-pw'}
FAIL_TEXT = 'Upgrade error, please try again.\nError code: 0xE2'


def args():
    p = argparse.ArgumentParser()
    for a in ('--fleet', '--board', '--out'):
        p.add_argument(a, required=True)
    p.add_argument('--demo', help='usb-iap-flash-demo')
    p.add_argument('--pack', help='usb-iap-pack')
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
        self.url = 'mqtt://127.0.0.1:%d' % self.mqtt
        for user, password in USERS.items():
            subprocess.run(['mosquitto_passwd', '-b', os.path.join(self.folder, 'passwd'), user, password], check=True)
            with open(os.path.join(tmp, user + '.pw'), 'w') as f:
                f.write(password + '\n')
        self.start()

    def login(self, user):
        """Our programs' options for user's account."""
        return ['--user', user, '--password-file', os.path.join(self.tmp, user + '.pw')]

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


def attempt(station, i, failed):
    return {'site': SITE, 'station': station, 'id': '%s-%d' % (station, i), 'start': '2026-12-09T10:%02d:00.000+01:00' % i,
            'port': '1-4.%d' % i, 'serial': 'SN-%s-%d' % (station, i), 'sw_version': 'V2.1.0',
            'outcome': 'device-error' if failed else 'passed', 'failure': 'device-status' if failed else '',
            'result': FAIL_TEXT if failed else 'PASS'}


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


class Programs:
    """Our programs as a factory runs them, each in its own working folder
    with its output in NAME.log there; all killed at the end, the logs' ends
    shown when the test failed."""
    def __init__(self):
        self.runs = {}

    def start(self, name, cmd, folder, **env):
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name + '.log'), 'w') as log:
            self.runs[name] = subprocess.Popen(cmd, cwd=folder, stdout=log, stderr=subprocess.STDOUT, env=dict(os.environ, **env))
        self.runs[name].log = log.name
        return self.runs[name]

    def end(self, failed):
        for name, p in self.runs.items():
            p.kill()
            p.wait()
            if failed:
                print('--- %s (exit %s):\n%s' % (name, p.returncode, open(p.log, errors='replace').read()[-1500:]))


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
