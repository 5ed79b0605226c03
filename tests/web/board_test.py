"""The board in headless Chromium, served by the factory broker's own http_dir
WebSockets listener: two line stations of eight ports going through upgrading
to PASS (one board failing), their tallies, a shipper killed and shown
offline within 1.5 x its keepalive, and the page reconnecting by itself after
the broker restarts. Screenshots go to <out>/board-*.png."""
import os, threading, time

from selenium.webdriver.common.by import By

import harness as h

KEEPALIVE = 4


def texts(d, css):  # in one go: the results' rows are replaced as they are redrawn
    return d.execute_script('return [...document.querySelectorAll(arguments[0])].map((e) => e.innerText)', css)


def main():
    opts = h.args()
    tmp, clean = h.temp_dir()
    broker = h.Broker(opts, tmp)
    d = h.chromium()
    shippers = []
    try:
        d.get('http://127.0.0.1:%d/index.html?user=board&password=%s' % (broker.ws, h.USERS['board']))
        h.wait_for('the board connected', lambda: 'connected to' in d.find_element(By.ID, 'connection').text
                   and 'reconnecting' not in d.find_element(By.ID, 'connection').text, 10)
        shippers = {st: h.shipper_process(broker.mqtt, st, KEEPALIVE) for st in ('st1', 'st2')}
        stations = {st: h.client(broker, st) for st in ('st1', 'st2')}
        failing = {'st1': None, 'st2': 6}
        runs = [threading.Thread(target=h.line_station, args=(stations[st], st), kwargs={'failing': failing[st]})
                for st in stations]
        for r in runs:
            r.start()
        sel = '[data-station="%s/%%s"] tr' % h.SITE
        h.wait_for('ports upgrading on both stations, half way', lambda: all(
            'upgrading' in texts(d, sel % st + ' .p-state') and '45%' in texts(d, sel % st + ' .p-pct')
            for st in stations), 10)
        d.save_screenshot(os.path.join(opts.out, 'board-during.png'))
        for r in runs:
            r.join()

        collector = h.client(broker, 'collector')
        published = {st: h.summary(collector, st, [h.attempt(st, i, i == failing[st]) for i in range(1, 9)])
                     for st in stations}

        def station_done(st):
            results = texts(d, sel % st + ' .p-result')
            return len(results) == 8 and all(r == 'PASS' for i, r in enumerate(results, 1) if i != failing[st])
        for st in stations:
            h.wait_for(st + ' all at their results', lambda: station_done(st), 10)
        bad = d.find_element(By.CSS_SELECTOR, '[data-station="%s/st2"] tr[data-port="1-4.6"]' % h.SITE)
        assert 'fail' in bad.get_attribute('class').split(), 'the failed board is not marked'
        assert 'device-status' in bad.text and 'Error code: 0xE2' in bad.text, 'failed row shows: ' + bad.text
        assert not d.find_elements(By.CSS_SELECTOR, '[data-station="%s/st1"] tr.fail' % h.SITE), 'st1 shows a failure'

        for st, s in published.items():
            box = '[data-station="%s/%s"] ' % (h.SITE, st)
            want = ('passed %d' % s['passed'], 'failed %d' % s['failed'],
                    ', '.join('%s %d' % kv for kv in s['failures'].items()))
            h.wait_for(st + ' tally ' + str(want), lambda: tuple(
                d.find_element(By.CSS_SELECTOR, box + c).text for c in ('.st-passed', '.st-failed', '.st-words')) == want, 5)
        # the last results: 16 rows, and the serial filter finds the failed one
        h.wait_for('16 results', lambda: len(texts(d, '#results-body tr')) == 16, 5)
        d.find_element(By.CSS_SELECTOR, '#filter input[name=serial]').send_keys('sn-st2-6')
        h.wait_for('the serial filter', lambda: len(texts(d, '#results-body tr')) == 1
                   and 'device-error' in texts(d, '#results-body tr')[0], 5)

        # the shipper of st2 killed: its will marks it offline
        badge = '[data-station="%s/st2"] .badge' % h.SITE
        assert d.find_element(By.CSS_SELECTOR, badge).text == 'online'
        shippers['st2'].kill()
        killed = time.monotonic()
        h.wait_for('st2 offline', lambda: d.find_element(By.CSS_SELECTOR, badge).text == 'offline', 1.5 * KEEPALIVE)
        print('st2 shown offline %.2f s after its shipper was killed (keepalive %d s)' % (time.monotonic() - killed, KEEPALIVE))
        assert d.find_element(By.CSS_SELECTOR, '[data-station="%s/st1"] .badge' % h.SITE).text == 'online'

        # the broker restarts: the page reconnects by itself and shows it all again
        broker.stop()
        h.wait_for('the board seeing the broker gone', lambda: 'connected to' not in d.find_element(By.ID, 'connection').text, 15)
        broker.start()
        h.wait_for('the board reconnected', lambda: d.find_element(By.ID, 'connection').text.startswith('connected to'), 15)
        d.save_screenshot(os.path.join(opts.out, 'board-end.png'))
        print('screenshots: %s/board-during.png, %s/board-end.png' % (opts.out, opts.out))
    finally:
        for p in shippers.values() if isinstance(shippers, dict) else []:
            p.kill()
        d.quit()
        broker.stop()
        clean()
    print('web_board: passed')


if __name__ == '__main__':
    main()
