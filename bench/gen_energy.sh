#!/usr/bin/env bash
# Writes an energy database as a legacy or hand-made file has it: the table Energy alone, no
# index, no summary table, rollback journal. Ten years of readings every 10 seconds by default
# (31,536,000 rows, about 1.8 GB), generated inside the sqlite3 shell by a recursive query.
#
#   bash bench/gen_energy.sh [--rows N] [--from "YYYY-MM-DD HH:MM:SS"] FILE
#
# --from sets the first reading's time (default 2016-01-01 00:00:00); the demo uses it to
# write a history that ends today.
#
# A FILE that is already there is kept as it is (a cache): the file only takes its name once
# it is complete, so an interrupted run leaves nothing that looks finished.
set -euo pipefail

usage() {
    echo "usage: $0 [--rows N] [--from \"YYYY-MM-DD HH:MM:SS\"] FILE" >&2
    exit 2
}

rows=31536000
from="2016-01-01 00:00:00"
out=
while [ $# -gt 0 ]; do
    case $1 in
    --from)
        [ $# -ge 2 ] || usage
        from=$2
        shift 2
        ;;
    --rows)
        [ $# -ge 2 ] || usage
        rows=$2
        shift 2
        ;;
    -h | --help) usage ;;
    -*) usage ;;
    *)
        [ -z "$out" ] || usage
        out=$1
        shift
        ;;
    esac
done
[ -n "$out" ] || usage
[[ $from =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || {
    echo "--from takes a time as \"YYYY-MM-DD HH:MM:SS\"" >&2
    exit 2
}
[[ $rows =~ ^[1-9][0-9]*$ ]] || {
    echo "--rows takes a positive whole number" >&2
    exit 2
}

if [ -f "$out" ]; then
    echo "gen_energy: reusing $out" >&2
    exit 0
fi
command -v sqlite3 >/dev/null || {
    echo "gen_energy: the sqlite3 shell is missing (apt-get install sqlite3)" >&2
    exit 1
}

part=$out.part
rm -f "$part" "$part-journal"
trap 'rm -f "$part" "$part-journal"' EXIT

# One row per 10 s from 2016-01-01 00:00:00. The recursion carries the tension, the power and
# the energy counter, so the counter rises by exactly what the power drew (Wh, as the central
# unit counts it). The power follows a household's day: a low night, a morning and a midday
# peak, a long evening, with noise and now and then a kettle or an oven on top.
sqlite3 "$part" >/dev/null <<SQL
PRAGMA journal_mode=OFF;
PRAGMA synchronous=OFF;
PRAGMA cache_size=-65536;
CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT);
INSERT INTO Energy (V, a, W, e, Data)
WITH RECURSIVE reading(n, v, w, e) AS (
    SELECT 0, 230.0, 150, 1000000.0
    UNION ALL
    SELECT n + 1,
           225 + (abs(random()) % 101) / 10.0,
           max(0, min(6000,
               CASE ((n + 1) / 360) % 24
                   WHEN 6 THEN 350 WHEN 7 THEN 1000 WHEN 8 THEN 1000
                   WHEN 9 THEN 400 WHEN 10 THEN 400 WHEN 11 THEN 400
                   WHEN 12 THEN 900 WHEN 13 THEN 900
                   WHEN 14 THEN 350 WHEN 15 THEN 350 WHEN 16 THEN 350
                   WHEN 17 THEN 700 WHEN 18 THEN 1500 WHEN 19 THEN 1500
                   WHEN 20 THEN 1500 WHEN 21 THEN 1500 WHEN 22 THEN 600
                   WHEN 23 THEN 250 ELSE 150 END
               * (70 + abs(random()) % 61) / 100
               + CASE WHEN abs(random()) % 40 = 0 THEN 2000 ELSE 0 END)),
           e + w * 10 / 3600.0
    FROM reading
    WHERE n < $rows - 1)
SELECT v, round(w / v, 2), w, CAST(e AS INTEGER),
       datetime(CAST(strftime('%s', '$from') AS INTEGER) + n * 10, 'unixepoch')
FROM reading;
SQL
mv "$part" "$out"
trap - EXIT
echo "gen_energy: wrote $rows rows to $out ($(du -h "$out" | cut -f1))" >&2
