"""Who may do what on the factory broker: mosquitto with the files
broker_config writes (TLS on, a CA and a broker certificate made here with
openssl), users by mosquitto_passwd. Each case connects as someone and
publishes once; the board (reads iap/v1/#) and the collector (reads the
attempts) tell whether it got through."""
import os, subprocess, time

import harness as h

S = h.SITE
# (what, user, listener, topic, gets through)
CASES = [
    ('a station writes its own attempt', 'st1', 'mqtt', 'iap/v1/%s/st1/attempt' % S, True),
    ('a station writes its own port over TLS', 'st1', 'tls', 'iap/v1/%s/st1/port/1-4.1' % S, True),
    ('the collector writes a summary', 'collector', 'mqtt', 'iap/v1/%s/st1/summary' % S, True),
    ('a station writes as another', 'st1', 'mqtt', 'iap/v1/%s/st2/attempt' % S, False),
    ('a station writes a status as another', 'st1', 'mqtt', 'iap/v1/%s/st2/status' % S, False),
    ('a station forges its own tally', 'st1', 'mqtt', 'iap/v1/%s/st1/summary' % S, False),
    ('a station writes under another site', 'st1', 'mqtt', 'iap/v1/other/st1/attempt', False),
    ('the board writes a station status', 'board', 'mqtt', 'iap/v1/%s/st1/status' % S, False),
    ('the board writes an attempt under its own name', 'board', 'mqtt', 'iap/v1/%s/board/attempt' % S, False),
    ('the collector writes an attempt under its own name', 'collector', 'mqtt', 'iap/v1/%s/collector/attempt' % S, False),
]
REFUSED = [  # (what, user, password, listener)
    ('a wrong password', 'st1', 'st2-pw', 'mqtt'),
    ('a wrong password over TLS', 'st1', 'guess', 'tls'),
    ('an unknown user', 'intruder', 'guess', 'mqtt'),
    ('no TLS on the TLS listener', 'st1', None, 'plain'),
]


def certificates(tmp):
    f = lambda n: os.path.join(tmp, n)
    with open(f('san.ext'), 'w') as ext:
        ext.write('subjectAltName=IP:127.0.0.1,DNS:localhost\n')
    for cmd in (['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=iap test CA',
                 '-keyout', f('ca.key'), '-out', f('ca.pem')],
                ['req', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=127.0.0.1', '-keyout', f('broker.key'), '-out', f('broker.csr')],
                ['x509', '-req', '-in', f('broker.csr'), '-CA', f('ca.pem'), '-CAkey', f('ca.key'), '-CAcreateserial',
                 '-days', '2', '-extfile', f('san.ext'), '-out', f('broker.pem')]):
        subprocess.run(['openssl'] + cmd, check=True, capture_output=True)
    return f('ca.pem'), (f('broker.pem'), f('broker.key'))


def main():
    opts = h.args()
    tmp, clean = h.temp_dir()
    ca, tls = certificates(tmp)
    broker, failures, seen, stored = h.Broker(opts, tmp, tls=tls), [], [], []
    connect = lambda user, listener, password=None: h.client(
        broker, user, broker.mqtt if listener == 'mqtt' else broker.tls, ca if listener == 'tls' else None, password=password)
    try:
        for user, pattern in (('board', 'iap/v1/#'), ('collector', 'iap/v1/+/+/attempt')):
            o = connect(user, 'mqtt')
            o.on_message = lambda c, u, m: seen.append(m.payload.decode())
            o.subscribe(pattern, qos=1)
        for what, user, password, listener in REFUSED:
            try:
                connect(user, listener, password).disconnect()
                failures.append('connected: ' + what)
            except (ConnectionRefusedError, OSError):
                pass
        # a station reads its own stored position, and no other's
        collector = connect('collector', 'mqtt')
        for st in ('st1', 'st2'):
            h.publish(collector, h.topic(st, 'stored'), {'epoch': 'e', 'records': []}, retain=True)
        reader = connect('st1', 'tls')
        reader.on_message = lambda c, u, m: stored.append(m.topic)
        reader.subscribe('iap/v1/%s/+/stored' % S, qos=1)
        for n, (what, user, listener, topic, through) in enumerate(CASES):
            c = connect(user, listener)
            h.publish(c, topic, 'case %d' % n)
            c.disconnect()
        # the cases that get through arrive in order: the others had their chance by then
        try:
            h.wait_for('the allowed messages', lambda: {'case %d' % n for n, c in enumerate(CASES) if c[4]} <= set(seen), 5)
        except AssertionError:
            pass
        time.sleep(0.5)
        failures += [('did not get through: ' if c[4] else 'got through: ') + c[0]
                     for n, c in enumerate(CASES) if (('case %d' % n) in seen) != c[4]]
        if stored != [h.topic('st1', 'stored')]:
            failures.append('st1 reads the stored positions %s' % stored)
        # a value that would end its line in the configuration is refused
        bad = subprocess.run([opts.fleet, 'broker-config', '--write', '--site', S, '--folder', tmp + '/x', '--persistence', tmp,
                              '--board-dir', '/srv\nallow_anonymous true'], capture_output=True, text=True)
        if bad.returncode != 2 or 'control character' not in bad.stderr:
            failures.append('a path with a line break was taken')
    finally:
        broker.stop()
        clean()
    for f in failures:
        print('FAIL ' + f)
    print('broker security: %d cases, %d failed' % (len(CASES) + len(REFUSED) + 2, len(failures)))
    raise SystemExit(1 if failures else 0)


if __name__ == '__main__':
    main()
