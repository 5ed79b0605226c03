"""Who may do what on the factory broker: Debian's mosquitto with the files
broker_config writes (TLS on, a CA and a broker certificate made here with
openssl) and users made with mosquitto_passwd. Each case connects as someone
and publishes once; observers that may read (the board: everything under
iap/v1, the collector: the attempts) tell whether the message got through."""
import os, subprocess, time

import harness as h

S = h.SITE


def make_certificates(tmp):
    ca, key, csr, cert = (os.path.join(tmp, n) for n in ('ca.pem', 'broker.key', 'broker.csr', 'broker.pem'))
    ext = os.path.join(tmp, 'san.ext')
    with open(ext, 'w') as f:
        f.write('subjectAltName=IP:127.0.0.1,DNS:localhost\n')
    run = lambda *a: subprocess.run(a, check=True, capture_output=True)
    run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=iap test CA',
        '-keyout', os.path.join(tmp, 'ca.key'), '-out', ca)
    run('openssl', 'req', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=127.0.0.1', '-keyout', key, '-out', csr)
    run('openssl', 'x509', '-req', '-in', csr, '-CA', ca, '-CAkey', os.path.join(tmp, 'ca.key'), '-CAcreateserial',
        '-days', '2', '-extfile', ext, '-out', cert)
    return ca, cert, key


# (what, user, listener, topic, gets through); listener: mqtt, tls (with the CA), plain-on-tls
CASES = [
    ('a station writes its own attempt', 'st1', 'mqtt', 'iap/v1/%s/st1/attempt' % S, True),
    ('a station writes its own port state over TLS', 'st1', 'tls', 'iap/v1/%s/st1/port/1-4.1' % S, True),
    ('the collector writes a summary', 'collector', 'mqtt', 'iap/v1/%s/st1/summary' % S, True),
    ('a station writes as another station', 'st1', 'mqtt', 'iap/v1/%s/st2/attempt' % S, False),
    ('a station writes its own status as another', 'st1', 'mqtt', 'iap/v1/%s/st2/status' % S, False),
    ('a station forges its own tally', 'st1', 'mqtt', 'iap/v1/%s/st1/summary' % S, False),
    ('a station writes under another site', 'st1', 'mqtt', 'iap/v1/other/st1/attempt', False),
    ('the board writes a station status', 'board', 'mqtt', 'iap/v1/%s/st1/status' % S, False),
    ('the board writes an attempt under its own name', 'board', 'mqtt', 'iap/v1/%s/board/attempt' % S, False),
    ('the collector writes an attempt under its own name', 'collector', 'mqtt', 'iap/v1/%s/collector/attempt' % S, False),
]
REFUSED = [  # (what, user, password, listener): the connection itself is refused
    ('a wrong password', 'st1', 'st2-pw', 'mqtt'),
    ('a wrong password over TLS', 'st1', 'guess', 'tls'),
    ('an unknown user', 'intruder', 'guess', 'mqtt'),
    ('no TLS on the TLS listener', 'st1', None, 'plain-on-tls'),
]


def main():
    opts = h.args()
    tmp, clean = h.temp_dir()
    ca, cert, key = make_certificates(tmp)
    broker = h.Broker(opts, tmp, tls=(cert, key))
    connect = lambda user, listener, password=None: h.client(
        broker, user, port=broker.mqtt if listener == 'mqtt' else broker.tls,
        tls_ca=ca if listener == 'tls' else None, password=password)
    failures = []
    try:
        seen = []
        for user, pattern in (('board', 'iap/v1/#'), ('collector', 'iap/v1/+/+/attempt')):
            o = connect(user, 'mqtt')
            o.on_message = lambda c, u, m: seen.append(m.payload.decode())
            o.subscribe(pattern, qos=1)
        time.sleep(0.3)
        for what, user, password, listener in REFUSED:
            try:
                connect(user, listener, password).disconnect()
                failures.append('connected: ' + what)
            except (ConnectionRefusedError, OSError):
                pass
        # a station reads its own stored position, and no other's
        collector, got = connect('collector', 'mqtt'), []
        for st in ('st1', 'st2'):
            h.publish(collector, h.topic(st, 'stored'), {'epoch': 'e', 'records': [], 'of': st}, retain=True)
        reader = connect('st1', 'tls')
        reader.on_message = lambda c, u, m: got.append(m.topic)
        reader.subscribe('iap/v1/%s/+/stored' % S, qos=1)
        try:
            h.wait_for('st1 reading its stored position', lambda: got, 3)
        except AssertionError:
            failures.append('a station cannot read its own stored position')
        time.sleep(0.3)
        if got and got != [h.topic('st1', 'stored')]:
            failures.append('a station reads: ' + ', '.join(got))
        # a value that would end its line in the configuration is refused
        bad = subprocess.run([opts.config_tool, '--site', S, '--folder', tmp + '/x', '--persistence', tmp,
                              '--board-dir', '/srv\nallow_anonymous true'], capture_output=True, text=True)
        if bad.returncode != 2 or 'control character' not in bad.stderr:
            failures.append('a path with a line break was taken: ' + bad.stdout[:200])
        for n, (what, user, listener, topic, through) in enumerate(CASES):
            c = connect(user, listener)
            h.publish(c, topic, 'case %d' % n)
            c.disconnect()
        # the cases that get through arrive in order; the others had their chance by then
        expected = {'case %d' % n for n, case in enumerate(CASES) if case[4]}
        try:
            h.wait_for('the allowed messages', lambda: expected <= set(seen), 5)
        except AssertionError:
            pass
        time.sleep(0.5)
        for n, (what, *_, through) in enumerate(CASES):
            if (('case %d' % n) in seen) != through:
                failures.append(('did not get through: ' if through else 'got through: ') + what)
    finally:
        broker.stop()
        clean()
    for f in failures:
        print('FAIL ' + f)
    print('broker security: %d cases, %d failed' % (len(CASES) + len(REFUSED) + 2, len(failures)))
    raise SystemExit(1 if failures else 0)


if __name__ == '__main__':
    main()
