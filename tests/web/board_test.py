"""The board in headless Chromium, served by the factory broker's http_dir:
two line stations of eight ports through upgrading to PASS (one board
failing), their tallies and results, a shipper killed and shown offline
within 1.5 x its keepalive, and the page reconnecting after the broker
restarts. Screenshots: <out>/board-during.png, <out>/board-end.png."""
import os, signal, threading, time

import harness as h

KEEPALIVE = 5
FAILING = {'st1': None, 'st2': 6}


def main():
    opts = h.args()
    tmp, clean = h.temp_dir()
    broker, d, shippers = h.Broker(opts, tmp), h.chromium(), []
    # in one script call: the results' rows are replaced as they are redrawn
    texts = lambda css: d.execute_script('return [...document.querySelectorAll(arguments[0])].map((e) => e.innerText)', css)
    text = lambda css: (texts(css) or [None])[0]
    box = lambda st: '[data-station="%s/%s"] ' % (h.SITE, st)
    connection = lambda: text('#connection')
    try:
        d.get('http://127.0.0.1:%d/index.html?user=board&password=%s' % (broker.ws, h.USERS['board']))
        h.wait_for('the board connected', lambda: connection().startswith('connected to'), 10)
        shippers = [h.shipper_process(broker, st, KEEPALIVE) for st in FAILING]
        runs = [threading.Thread(target=h.line_station, args=(h.client(broker, st), st, FAILING[st])) for st in FAILING]
        for r in runs:
            r.start()
        h.wait_for('ports half way on both stations', lambda: all(
            'upgrading' in texts(box(st) + '.p-state') and '45%' in texts(box(st) + '.p-pct') for st in FAILING), 10)
        d.save_screenshot(os.path.join(opts.out, 'board-during.png'))
        for r in runs:
            r.join()
        collector = h.client(broker, 'collector')
        published = {st: h.summary(collector, st, [h.attempt(st, i, i == FAILING[st]) for i in range(1, 9)]) for st in FAILING}

        for st in FAILING:
            want = ['device-status: ' + h.FAIL_TEXT.replace('\n', ' / ') if i == FAILING[st] else 'PASS' for i in range(1, 9)]
            h.wait_for(st + ' at its results', lambda: texts(box(st) + '.p-result') == want, 10)
            s = published[st]
            want = ['passed %d' % s['passed'], 'failed %d' % s['failed'], ', '.join('%s %d' % kv for kv in s['failures'].items())]
            h.wait_for(st + ' tally %s' % want, lambda: [text(box(st) + c) for c in ('.st-passed', '.st-failed', '.st-words')] == want, 5)
        assert texts('.ports tr.fail') == texts(box('st2') + 'tr[data-port="1-4.6"]') != [], texts('.ports tr.fail')
        h.wait_for('16 results', lambda: len(texts('#results-body tr')) == 16, 5)
        d.find_element('css selector', '#filter input[name=serial]').send_keys('sn-st2-6')
        h.wait_for('the serial filter', lambda: len(texts('#results-body tr')) == 1 and 'device-error' in text('#results-body tr'), 5)

        h.wait_for('st2 online', lambda: text(box('st2') + '.badge') == 'online', 5)
        shippers[1].kill()
        killed = time.monotonic()
        h.wait_for('st2 offline', lambda: text(box('st2') + '.badge') == 'offline', 1.5 * KEEPALIVE)
        print('st2 shown offline %.2f s after its shipper was killed (keepalive %d s)' % (time.monotonic() - killed, KEEPALIVE))
        assert text(box('st1') + '.badge') == 'online' and 'backlog 3' in text(box('st2') + '.st-backlog')
        # st1's PC hangs with its connection open: the broker ends it 1.5 x keepalive
        # after its last packet at most (checked about once a second)
        shippers[0].send_signal(signal.SIGSTOP)
        stopped = time.monotonic()
        h.wait_for('st1 offline', lambda: text(box('st1') + '.badge') == 'offline', 1.5 * KEEPALIVE + 1)
        print('st1 shown offline %.2f s after its shipper hung' % (time.monotonic() - stopped))

        broker.stop()
        h.wait_for('the board seeing the broker gone', lambda: not connection().startswith('connected to'), 15)
        broker.start()
        h.wait_for('the board reconnected', lambda: connection().startswith('connected to'), 15)
        d.save_screenshot(os.path.join(opts.out, 'board-end.png'))
        print('screenshots: %s/board-during.png, %s/board-end.png' % (opts.out, opts.out))
    finally:
        for p in shippers:
            p.kill()
        d.quit()
        broker.stop()
        clean()
    print('web_board: passed')


if __name__ == '__main__':
    main()
