#!/usr/bin/env bash
# scripts/bench-check on four virtual modules at once, one of them faulty: only its
# failure is reported, the exit status fails, every report is valid JUnit, and the
# four take about as long as one (they run side by side, not one after another).
# Usage: bench_check_test.sh PELKORA_CLI SOURCE_DIR
set -euo pipefail
cli=$1
src=$2
export PELKORA_CLI=$cli
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "bench_check_test: $*" >&2; exit 1; }

net=$src/examples/demo-net.txt
"$cli" export "$work/net.s19" --net "$net" >/dev/null
# Fixed inputs: the comparison then does not depend on when the inputs are read.
for k in 1 2 3 4; do
    fault=()
    [ "$k" -eq 3 ] && fault=(--fault 3:+2)
    "$cli" target --link "$work/m$k" --net "$net" --inputs 10,40,70,100,130,160,190,220 \
        "${fault[@]}" >/dev/null 2>&1 &
    pids+=($!)
done
for _ in $(seq 100); do
    [ -e "$work/m1" ] && [ -e "$work/m2" ] && [ -e "$work/m3" ] && [ -e "$work/m4" ] && break
    sleep 0.05
done

run() {  # run OUT PORT...: bench-check's status and wall time in ms
    local out=$1 start end status=0
    shift
    start=$(date +%s%N)
    "$src/scripts/bench-check" --net "$net" --image "$work/net.s19" --passes 30 \
        --out "$work/$out" "$@" >"$work/$out.log" 2>&1 || status=$?
    end=$(date +%s%N)
    echo "$status $(((end - start) / 1000000))"
}
read -r oneStatus oneMs < <(run one "$work/m1")
[ "$oneStatus" -eq 0 ] || { cat "$work/one.log"; fail "one good module failed"; }
read -r status fourMs < <(run four "$work/m1" "$work/m2" "$work/m3" "$work/m4")
cat "$work/four.log"
echo "bench-check: one module ${oneMs} ms, four modules ${fourMs} ms"

[ "$status" -eq 1 ] || fail "exit status $status with a faulty module, not 1"
[ "$(grep -c ': FAILED' "$work/four.log")" -eq 1 ] || fail "not exactly one failure reported"
grep -q "^$work/m3: FAILED (verify exit 0, validate exit 3; validate: MISMATCH with the host)" \
    "$work/four.log" \
    || fail "the faulty module m3 is not the one reported"
grep -q '3 of 4 modules passed' "$work/four.log" || fail "no summary"
reports=("$work"/four/*.xml)
[ ${#reports[@]} -eq 8 ] || fail "${#reports[@]} JUnit files, not 8"
xmllint --noout --schema "$src/tests/files/junit.xsd" "${reports[@]}" 2>"$work/xmllint.log" \
    || { cat "$work/xmllint.log"; fail "a report is not valid JUnit"; }
[ "$(cat "$work"/four/*-validate.xml | grep -c '<failure ')" -eq 1 ] \
    || fail "not exactly one failing testcase over the four modules"
grep -A1 'name="out3"' "$work"/four/03-m3-validate.xml | grep -q '<failure ' \
    || fail "out3 of m3 is not the failing testcase"
# validate --json: stdout is the one JSON object, without the pass lines.
"$cli" validate --port "$work/m1" --net "$net" --passes 3 --json >"$work/v.json" 2>/dev/null \
    || fail "validate --json on a good module failed"
python3 -c 'import json,sys; o=json.load(open(sys.argv[1])); assert o["verdict"] == "MATCH" and o["exit_code"] == 0 and o["compared"] == 3, o' \
    "$work/v.json" || fail "validate --json: $(cat "$work/v.json")"
# --passes 0 would never end: refused at once, naming the range.
status=0
"$src/scripts/bench-check" --net "$net" --image "$work/net.s19" --passes 0 --out "$work/zero" \
    "$work/m1" >"$work/zero.log" 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "--passes 0: exit $status, not 2"
grep -q 'whole number from 1' "$work/zero.log" || fail "--passes 0: $(cat "$work/zero.log")"
# A port name of 240 characters still gives file names that can be made.
long=$work/$(printf 'p%.0s' $(seq 240))
ln -s "$work/m1" "$long"
read -r status _ < <(run long "$long")
[ "$status" -eq 0 ] || { cat "$work/long.log"; fail "a 240-character port name failed"; }
ls "$work/long/"01-ppp*-validate.xml >/dev/null || fail "no report for the long port name"
# Side by side: four modules in far less than four times one.
[ "$fourMs" -lt $((oneMs * 5 / 2)) ] || fail "four modules took ${fourMs} ms, one ${oneMs} ms"
# A port name that is no port is a usage error naming the accepted forms, and no
# module runs.
status=0
"$src/scripts/bench-check" --net "$net" --image "$work/net.s19" --out "$work/bad" \
    "$work/m1" tcp://bench >"$work/bad.log" 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "a bad port name gave exit status $status, not 2"
grep -q 'rfc2217://HOST:PORT' "$work/bad.log" || fail "no accepted forms: $(cat "$work/bad.log")"
[ ! -e "$work/bad" ] || fail "modules were checked despite a bad port name"
echo "bench_check_test: ok"
