#!/usr/bin/python3
"""The fleet board under load: a generator of STATIONS x PORTS live ports,
each updating RATE times a second (as `usb-iap-flash --publish` sends them, at
most 2 a second per port), through a factory broker made with broker_config
(one user per station), against the page in headless Chromium.

Prints, every interval: messages published and received per second, the lag
from a message's `time` to its handling in the page (a growing lag is a
growing message queue), frames drawn and the longest frame; then the queue's
trend and the longest main-thread tasks of the page's renderer, read from
DevTools' performance log (goal: every task under 50 ms).

  /usr/bin/python3 bench/board_load.py [--build build/release] [--seconds 30]
(needs the targets fleet_board and usb-iap-fleet of a build with the tests)"""
import argparse, json, multiprocessing, os, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import harness as h  # noqa: E402


def long_tasks(driver, state):
    """Tasks of 10 ms and more on the page's renderer main thread, from the
    performance log drained so far; the page's renderer is the one that
    recorded the user timing mark MARK."""
    found = []
    for entry in driver.get_log('performance'):
        m = json.loads(entry['message'])['message']
        if m.get('method') != 'Tracing.dataCollected':
            continue
        e = m['params']
        key = (e.get('pid'), e.get('tid'))
        if e.get('name') == 'thread_name':
            state['threads'][key] = e['args']['name']
        elif e.get('name') == MARK:
            state['page'] = e.get('pid')
        elif e.get('name') == 'ThreadControllerImpl::RunTask' and 'dur' in e:
            found.append((key, e['dur'] / 1000.0, e['ts'] / 1e6))
    mine = [(ms, ts) for key, ms, ts in found if key[0] == state['page'] and state['threads'].get(key) == 'CrRendererMain']
    if mine:  # how much of the run the trace holds: its buffer may have dropped some
        state['covered'] = state.get('covered', 0) + max(ts for _, ts in mine) - min(ts for _, ts in mine)
    return [ms for ms, _ in mine if ms >= 10]


def generate(opts, stations, ports, rate, seconds, counter):
    """In its own process: every port RATE times a second, spread evenly."""
    h.USERS.update({st: st + '-pw' for st in stations})
    clients = [(h.client(opts, st), st) for st in stations]
    names = ['1-%d.%d' % (1 + i // 8, 1 + i % 8) for i in range(ports)]
    total = len(clients) * ports
    start = time.monotonic()
    n = 0
    while time.monotonic() - start < seconds:
        due = int((time.monotonic() - start) * rate * total)
        while n < due:
            c, station = clients[(n % total) // ports]
            p = n % ports
            now, k, bad = time.time(), (n // total + n % total) % 42, p == 5  # 40 updates upgrading, 2 at the result
            m = {'port': names[p], 'state': 'upgrading' if k < 40 else 'done', 'percent': min(k, 40) * 2.5,
                 'bytes_per_second': 41000.0 + p if k < 40 else 0, 'serial': 'SN%05d' % (n // total // 42),
                 'text': 'Open Success! BOOT' if k < 40 else 'Upgrade error, please try again.' if bad else 'PASS',
                 'outcome': 'device-error' if bad else 'passed', 'failure': 'device-status' if bad else None,
                 'time': time.strftime('%Y-%m-%dT%H:%M:%S', time.gmtime(now)) + '.%03d+00:00' % (now * 1000 % 1000)}
            c.publish(h.topic(station, 'port/' + names[p]), json.dumps(m), qos=0, retain=True)
            n += 1
        counter.value = n
        time.sleep(0.005)
    time.sleep(0.5)


MARK = 'iap-board-under-load'
OBSERVE = """performance.mark('""" + MARK + """'); window.__long = [];
new PerformanceObserver((l) => { for (const e of l.getEntries()) window.__long.push(e.duration); })
  .observe({type: 'longtask', buffered: true});"""
SAMPLE = """const s = window.boardStats, r = {...s, long: window.__long};
s.maxLagMs = 0; s.maxFrameMs = 0; window.__long = []; return r;"""


def main():
    a = argparse.ArgumentParser()
    a.add_argument('--build', default='build/release')
    a.add_argument('--stations', type=int, default=50)
    a.add_argument('--ports', type=int, default=32)
    a.add_argument('--rate', type=float, default=2.0)
    a.add_argument('--seconds', type=int, default=30)
    a.add_argument('--interval', type=float, default=2.0)
    a.add_argument('--no-trace', action='store_true', help='without the DevTools trace (its own cost)')
    a.add_argument('--screenshot', help='a PNG of the page under load')
    o = a.parse_args()
    opts = argparse.Namespace(fleet=os.path.join(o.build, 'tools/fleet/usb-iap-fleet'),
                              board=os.path.abspath(os.path.join(o.build, 'web/board')), out=None)
    stations = ['st%02d' % i for i in range(1, o.stations + 1)]
    h.USERS.update({st: st + '-pw' for st in stations})
    tmp, clean = h.temp_dir()
    broker = h.Broker(opts, tmp)
    d = h.chromium(perf_log=not o.no_trace)
    gen = None
    try:
        collector = h.client(broker, 'collector')
        for st in stations:
            c = h.client(broker, st)
            h.publish(c, h.topic(st, 'status'), {'online': True, 'backlog': 0, 'last_shipped': None}, retain=True)
            c.disconnect()
            h.summary(collector, st, [h.attempt(st, i, i == 6) for i in range(1, 21)])
        d.get('http://127.0.0.1:%d/index.html?user=board&password=%s' % (broker.ws, h.USERS['board']))
        h.wait_for('the board connected', lambda: d.find_element('id', 'connection').text.startswith('connected'), 10)
        d.execute_script(OBSERVE)
        state = {'threads': {}, 'page': None}
        counter = multiprocessing.Value('q', 0)
        port = argparse.Namespace(mqtt=broker.mqtt)
        gen = multiprocessing.Process(target=generate, args=(port, stations, o.ports, o.rate, o.seconds, counter))
        gen.start()
        print('load average at the start %.1f (2 cores)' % os.getloadavg()[0])
        print('%6s %9s %9s %8s %8s %6s %10s %10s' % ('t s', 'sent/s', 'recv/s', 'lag ms', 'max lag', 'fps',
                                                 'max frame', 'long task'))
        samples, observed, traced, drained, ended = [], [], [], time.monotonic(), None
        start = time.monotonic()
        last = (start, 0, d.execute_script(SAMPLE))
        while True:
            time.sleep(max(0.0, o.interval - (time.monotonic() - last[0])))
            s, now, sent = d.execute_script(SAMPLE), time.monotonic(), counter.value
            observed += s['long']
            dt, p = now - last[0], last[2]
            row = (now - start, (sent - last[1]) / dt, (s['messages'] - p['messages']) / dt, s['lagMs'], s['maxLagMs'],
                   (s['frames'] - p['frames']) / dt, s['maxFrameMs'], max(s['long'], default=0))
            samples.append(row)
            print('%6.1f %9.0f %9.0f %8.0f %8.0f %6.1f %10.1f %10.1f' % row)
            last = (now, sent, s)
            if not o.no_trace and now - drained >= 8:
                traced += long_tasks(d, state)
                drained = time.monotonic()
            if o.screenshot and len(samples) == 4:
                d.save_screenshot(o.screenshot)
            ended = ended or (None if gen.is_alive() else now)
            if ended and (s['messages'] >= sent or now - ended > 5):  # the page caught up, or never will
                break
        steady = samples[2:] or samples
        half = len(steady) // 2 or 1
        early = sum(r[4] for r in steady[:half]) / half
        late = sum(r[4] for r in steady[half:]) / max(1, len(steady) - half)
        print('\n%d stations x %d ports x %.1f/s for %d s: %d messages sent, %d received by the page'
              % (o.stations, o.ports, o.rate, o.seconds, counter.value, s['messages']))
        print('message queue (lag from publish to handling): max %.0f ms per interval in the first half, %.0f ms in the second: %s'
              % (early, late, 'GROWING' if late > 2 * early + 100 else 'not growing'))
        # drained every 8 s: chromedriver keeps a bounded log (some 30,000
        # events, a few seconds of this load), and each drain flushes the trace
        # in every process, itself a cost to the page; so the trace is a sample
        # (its span is printed) and the page's own observer sees every task
        traced = [] if o.no_trace else sorted(traced + long_tasks(d, state), reverse=True)
        if not o.no_trace:
            print('longest tasks of the page, DevTools trace (ms): ' + (', '.join('%.1f' % t for t in traced[:10]) or 'none over 10'))
            print('tasks over 50 ms in the trace: %d (goal: none); the trace holds %.1f s of the page'
                  % (sum(t > 50 for t in traced), state.get('covered', 0)))
        print('load average now %.1f (2 cores)' % os.getloadavg()[0])
        print('long tasks the page itself saw (PerformanceObserver, ms): '
              + (', '.join('%.0f' % t for t in sorted(observed, reverse=True)[:10]) or 'none'))
    finally:
        if gen and gen.is_alive():
            gen.terminate()
        d.quit()
        broker.stop()
        clean()


if __name__ == '__main__':
    main()
