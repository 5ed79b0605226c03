# The fleet after the device scenarios (e2e_scenarios.sh): the records the
# programs wrote, shipped by IAP_FLEET (run as the scenarios' programs are,
# under Wine the .exe) through a loopback Mosquitto and stored by the build
# machine's IAP_FLEET_CENTRE collect; the store then holds every line once,
# by its attempt_id, with the record's path as the shipper's system writes it.

source "$(dirname "${BASH_SOURCE[0]}")/../support/loopback.sh"

# ship_records NAME...: the upgrade-record.csv in each scenario's folder.
ship_records() {
    local name sep=/ records=() want port pid
    [ "$WINDOWS" -eq 0 ] || sep='\'
    cd "$WORK"
    for name in "$@"; do
        [ -s "$name/upgrade-record.csv" ] || fail "scenario $name left no upgrade-record.csv in its folder"
        records+=("$name${sep}upgrade-record.csv")
        local path=$WORK/$name/upgrade-record.csv
        [ "$WINDOWS" -eq 0 ] || path=$(winepath -w "$path" | tr -d '\r')
        python3 -c 'import csv, sys
for r in csv.DictReader(open(sys.argv[1], newline="", encoding="utf-8")): print(r["attempt_id"], sys.argv[2], r["outcome"], r["result"], sep="\t")' \
            "$name/upgrade-record.csv" "$path" >>want.txt || fail "$name/upgrade-record.csv does not read as CSV"
    done
    want=$(grep -c . want.txt)

    port=$(free_port)
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence true\npersistence_location %s/\n' \
        "$port" "$WORK" >broker.conf
    mosquitto -c broker.conf >broker.txt 2>&1 &
    FLEET_PIDS=$!
    trap 'rc=$?; set +e; kill $FLEET_PIDS 2>/dev/null; (exit $rc); cleanup' EXIT
    wait_port "$port" || fail "no broker: $(cat broker.txt)"
    "$IAP_FLEET_CENTRE" collect --broker "mqtt://127.0.0.1:$port" --db fleet.sqlite >collect.txt 2>&1 &
    FLEET_PIDS+=" $!"
    "${RUN_EXE[@]}" "$IAP_FLEET" ship --broker "mqtt://127.0.0.1:$port" --site s1 --station e2e "${records[@]}" \
        >ship.txt 2>&1 &
    pid=$!
    stored() { [ "$("$IAP_FLEET_CENTRE" query --db fleet.sqlite --json 2>/dev/null | grep -c .)" -ge "$want" ]; }
    poll 90 stored || fail "not $want lines stored: $(tail -n 3 ship.txt collect.txt)"
    if [ "$WINDOWS" -eq 1 ]; then wineserver -k; else kill "$pid"; fi
    wait "$pid" || true
    kill $FLEET_PIDS
    wait $FLEET_PIDS || true
    FLEET_PIDS=""
    "$IAP_FLEET_CENTRE" query --db fleet.sqlite --json | jq -r '[.id, .record, .outcome, .result] | join("\t")' |
        sort >stored.txt
    sort want.txt | diff - stored.txt >&2 || fail "the store is not the records' $want lines, each once (- record, + store)"
    echo "$want lines of $# records shipped by $(basename "$IAP_FLEET") and stored, each once"
}
