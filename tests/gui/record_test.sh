#!/usr/bin/env bash
# A working folder that cannot take the log (here a folder named like the
# log file, which refuses even a privileged user): the window opens and
# works, the log and the upgrade record go to the per-user state folder, and
# standard error says where. The record is read with Python's csv module:
# a header and one line per attempt; a tool killed mid-upgrade leaves only
# whole lines; the switch to bootloader is recorded too. The tool is a
# signed copy of the demo: each line names its signer.
source "$(dirname "$0")/lib.sh"
start_display
mkdir -p "$WORK/ro/basic-log.txt"
chmod 555 "$WORK/ro"
export XDG_STATE_HOME="$WORK/state"
STATE="$WORK/state/usb-iap-tool"
LOG="$STATE/basic-log.txt"
RECORD="$STATE/upgrade-record.csv"
cd "$WORK/ro"

# rows EXPECTED: the record parses as CSV, ends in CR LF, and its rows after
# the header read "procedure outcome vid pid serial tool" as expected.
rows() {
    python3 - "$RECORD" "$1" "$SIGNER" <<'PY' || fail "upgrade record: see above"
import csv, re, sys
data = open(sys.argv[1], newline='').read()
assert data.endswith('\r\n'), 'the record does not end in a whole line'
rows = list(csv.reader(data.splitlines()))
assert rows[0][:5] == ['start', 'duration_ms', 'procedure', 'outcome', 'result'], rows[0]
got = '\n'.join(' '.join([r[2], r[3], r[6], r[7], r[9], r[14]]) for r in rows[1:])
if got != sys.argv[2]:
    print('record rows:\n' + got + '\nexpected:\n' + sys.argv[2], file=sys.stderr)
    sys.exit(1)
assert all(len(r) == 20 for r in rows), [len(r) for r in rows]
assert rows[0][15:] == ['failure', 'port', 'tool_version', 'attempt_id', 'signer'], rows[0]
assert all(r[19] == sys.argv[3] for r in rows[1:]), (sys.argv[3], rows)
# Each attempt its own time-ordered ID (UUID version 7).
assert all(re.fullmatch(r'[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}', r[18]) for r in rows[1:]), rows
assert len({r[18] for r in rows[1:]}) == len(rows) - 1, rows
# Passed, on the demo's port, by this version of the tool.
assert all(r[15] == '' and r[16].startswith('1-') and re.fullmatch(r'\d+\.\d+\.\d+', r[17]) for r in rows[1:]), rows
PY
}

mkdir "$WORK/signed"
TOOL="$WORK/signed/$(basename "$IAP_DEMO")"
cp "$IAP_DEMO" "$TOOL"
"$IAP_PACK" keygen --out "$WORK/signed/owner" >/dev/null
"$IAP_PACK" sign "$TOOL" --key "$WORK/signed/owner.key" >/dev/null
SIGNER=$("$IAP_PACK" verify "$TOOL" --key "$WORK/signed/owner.pub" | sed -n 's/.*signed by the key //p')
[ ${#SIGNER} -eq 32 ] || fail "no fingerprint from verify: $SIGNER"

IAP_DEMO_DEVICES=2 IAP_DEMO_BOOT=1 IAP_DEMO_LATENCY_US=3000 start_tool "$TOOL"
wait_window
grep -q "the log is $LOG" "$WORK/out.txt" || fail "standard error does not name $LOG"
park_mouse
click 281 351
wait_log "e.message.c_str().PASS" 2 60
sleep 0.5
rows "upgrade passed 1234 5679 SIM0001 usb-iap-tool-demo"

# The next device is plugged in; killed during its upgrade.
wait_log "IAPProcess PASS" 1 10
sleep 1
click 281 351
wait_log "e.message.c_str().Open Success! BOOT" 2 30
sleep 0.5
kill -9 "$TOOL_PID"
wait "$TOOL_PID" 2>/dev/null || true
TOOL_PID=""
rows "upgrade passed 1234 5679 SIM0001 usb-iap-tool-demo"

# Started again (its log lines apart from the first run's): the switch to bootloader, run in the frame, is recorded by a worker.
mv "$LOG" "$STATE/first-run-log.txt"
IAP_DEMO_BOOT=1 start_tool "$TOOL"
wait_window
click 435 309
wait_log "e.message.c_str().PASS" 1 30
sleep 0.5
rows "upgrade passed 1234 5679 SIM0001 usb-iap-tool-demo
to-boot passed 1234 5679 SIM0001 usb-iap-tool-demo"
close_window
expect_clean_exit 30
