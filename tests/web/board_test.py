"""The board in headless Chromium, served by the factory broker's http_dir,
with the factory's own programs, each as its own broker user: two line
stations (usb-iap-flash-demo line --publish, the simulated hub of eight
boards; on st2 the board on 1-4.6 fails), each station's shipper following
the record its line writes, one collector with an SQLite store. Every port
goes through upgrading to its result, the tallies are the store's, a shipper
killed shows offline within 1.5 x its keepalive, and the page reconnects
after the broker restarts. Screenshots: <out>/board-during.png, <out>/board-end.png."""
import json, os, re, signal, subprocess, time

import harness as h

KEEPALIVE = 10  # the fleet transport's
FAILING = {'st1': 0, 'st2': 6}  # the station's failing board, on port 1-4.N (0: none)
STATES = {'waiting', 'to-boot', 'upgrading', 'restarting', 'done'}  # a port's, as the JSON lines tell them
PORTS = {(st, '1-4.%d' % n) for st in FAILING for n in range(1, 9)}
# every port's row as [station, port, state, result], in one script call
ROWS = '''return [...document.querySelectorAll('.station tr[data-port]')].map((r) => [r.closest('.station').station.name,
  r.dataset.port, r.querySelector('.p-state').innerText, r.querySelector('.p-result').innerText])'''


def make_tool(opts, tmp):
    with open(os.path.join(tmp, 'firmware.bin'), 'wb') as f:
        f.write(os.urandom(100000))  # about 2.5 s a board
    subprocess.run([opts.pack, 'build', '--exe', opts.demo, '--out', tmp + '/tool', '--payload', tmp + '/firmware.bin',
                    '--block-size', '512', '--sw-version', 'V2.3.4', '--device', '1234:5679:01', '--search-timeout', '1000',
                    '--ack-timeout', '1000', '--switch-delay', '100'], check=True, capture_output=True)
    return tmp + '/tool'


def query(opts, db, *args):
    out = subprocess.run([opts.fleet, 'query', '--db', db, '--json', *args], check=True, capture_output=True, text=True)
    return [json.loads(line) for line in out.stdout.splitlines()]


def main():
    opts = h.args()
    tmp, clean = h.temp_dir()
    broker, d, run, failed = h.Broker(opts, tmp), h.chromium(), h.Programs(), True
    db = os.path.join(tmp, 'fleet.sqlite')
    # in one script call: the results' rows are replaced as they are redrawn
    texts = lambda css: d.execute_script('return [...document.querySelectorAll(arguments[0])].map((e) => e.innerText)', css)
    text = lambda css: (texts(css) or [None])[0]
    box = lambda st: '[data-station="%s/%s"] ' % (h.SITE, st)
    connection = lambda: text('#connection')
    try:
        d.get('http://127.0.0.1:%d/index.html?user=board&password=%s' % (broker.ws, h.USERS['board']))
        h.wait_for('the board connected', lambda: connection().startswith('connected to'), 10)
        tool = make_tool(opts, tmp)
        run.start('collect', [opts.fleet, 'collect', '--broker', broker.url, '--db', db, *broker.login('collector')], tmp)
        for st, failing in FAILING.items():
            who = ['--site', h.SITE, '--station', st, *broker.login(st)]
            run.start('ship-' + st, [opts.fleet, 'ship', '--broker', broker.url, *who, 'upgrade-record.csv'], tmp + '/' + st)
            run.start('line-' + st, [opts.demo, 'line', tool, '--publish', broker.url, *who], tmp + '/' + st,
                      IAP_DEMO_FAILING=str(failing))

        seen, during = {}, []  # (station, port): the states the page showed; the screenshot taken

        def at_results():
            rows = d.execute_script(ROWS)
            for st, port, state, _ in rows:
                seen.setdefault((st, port), set()).add(state)
            busy = [st for st, _, state, _ in rows if state == 'upgrading']
            if not during and all(busy.count(st) >= 2 for st in FAILING):  # boards plugged in one after another
                during.append(d.save_screenshot(os.path.join(opts.out, 'board-during.png')))
            # a board that passed restarts into its application, which the tool does not list: its port is empty
            return {(st, port) for st, port, state, result in rows if result and state in ('waiting', 'done')} == PORTS
        h.wait_for('every port at its result', at_results, 60)
        assert during, 'the stations never upgrading at once'
        assert set().union(*seen.values()) <= STATES, seen
        assert all('upgrading' in s for k, s in seen.items() if k != ('st2', '1-4.6')), seen  # it may fail between two states sent

        h.wait_for('16 attempts stored', lambda: len(query(opts, db)) == 16, 10)
        bad = query(opts, db, '--outcome', 'device-error')
        assert [(a['station'], a['port'], a['failure']) for a in bad] == [('st2', '1-4.6', 'device-status')], bad
        assert '0xE2' in bad[0]['result'], bad
        want = {k: 'PASS' for k in PORTS} | {('st2', '1-4.6'): 'device-status: ' + re.sub(r'\s*\n\s*', ' / ', bad[0]['result'])}
        assert {(st, port): result for st, port, _, result in d.execute_script(ROWS)} == want
        assert texts('.ports tr.fail') == texts(box('st2') + 'tr[data-port="1-4.6"]') != [], texts('.ports tr.fail')
        yields = query(opts, db, '--yield')
        assert sorted(y['station'] for y in yields) == sorted(FAILING), yields
        for y in yields:
            want = ['passed %d' % y['passed'], 'failed %d' % y['failed'], ', '.join('%s %d' % kv for kv in y['failures'].items())]
            tally = lambda: [text(box(y['station']) + c) for c in ('.st-passed', '.st-failed', '.st-words')]
            h.wait_for('%s tally %s' % (y['station'], want), lambda: tally() == want, 5)
            assert text(box(y['station']) + '.st-line').startswith('line tool V2.3.4'), text(box(y['station']) + '.st-line')
        h.wait_for('16 results', lambda: len(texts('#results-body tr')) == 16, 5)
        d.find_element('css selector', '#filter input[name=serial]').send_keys('sim0006')
        h.wait_for('the serial filter', lambda: sorted(texts('#results-body .r-outcome')) == ['device-error', 'passed'], 5)

        for st in FAILING:
            h.wait_for(st + ' online, all shipped', lambda: [text(box(st) + c) for c in ('.badge', '.st-backlog')] == ['online', 'backlog 0'], 5)
        run.runs['ship-st2'].kill()
        killed = time.monotonic()
        h.wait_for('st2 offline', lambda: text(box('st2') + '.badge') == 'offline', 1.5 * KEEPALIVE)
        print('st2 shown offline %.2f s after its shipper was killed (keepalive %d s)' % (time.monotonic() - killed, KEEPALIVE))
        assert text(box('st1') + '.badge') == 'online' and text(box('st2') + '.st-backlog') == 'backlog 0'
        # st1's PC hangs with its connection open: the broker ends it once more than
        # 1.5 x keepalive whole seconds have passed since its last packet (its clock
        # and its check go by the second)
        run.runs['ship-st1'].send_signal(signal.SIGSTOP)
        stopped = time.monotonic()
        h.wait_for('st1 offline', lambda: text(box('st1') + '.badge') == 'offline', 1.5 * KEEPALIVE + 2)
        print('st1 shown offline %.2f s after its shipper hung' % (time.monotonic() - stopped))

        broker.stop()
        h.wait_for('the board seeing the broker gone', lambda: not connection().startswith('connected to'), 15)
        broker.start()
        h.wait_for('the board reconnected', lambda: connection().startswith('connected to'), 15)
        d.save_screenshot(os.path.join(opts.out, 'board-end.png'))
        print('screenshots: %s/board-during.png, %s/board-end.png' % (opts.out, opts.out))
        failed = False
    finally:
        run.end(failed)
        d.quit()
        broker.stop()
        clean()
    print('web_board: passed')


if __name__ == '__main__':
    main()
