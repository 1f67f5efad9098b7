#!/usr/bin/env bash
# Packages with lower levels against merely reading the tile files, both from a cold page cache:
# the way a downloaded area is read the first time it is packed. 10,000 distinct tiles (zoom 14,
# 100 x 100) are fetched from the demo tile server; each round empties the page cache (root only),
# reads every tile file once (open, read, close), empties it again and runs mapcombiner with
# --lower-zooms 8. Goal: the package's rate at least half the rate of reading.
#   bash bench/package_cold_cache.sh BUILD_FOLDER [ROUNDS]
set -euo pipefail
build=$(cd "${1:?the build folder}" && pwd)
rounds=${2:-3}
if [ "$(id -u)" != 0 ] || ! [ -w /proc/sys/vm/drop_caches ]; then
  echo "The page cache can only be emptied by root: run this as root." >&2
  exit 1
fi
work=$(mktemp -d)
port=18097
"$build/quillmere-tileserver" --port "$port" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
sleep 1

mkdir -p "$work/cold"
for x in $(seq 8600 8699); do
  for y in $(seq 5800 5899); do
    printf 'url = "http://127.0.0.1:%s/maptiler/v2/maptile/newest/satellite.day/14/%s/%s/256/png8"\n' "$port" "$x" "$y"
    printf 'output = "%s/cold/kv_%s_%s_14.jpg"\n' "$work" "$x" "$y"
  done
done >"$work/urls.txt"
curl -s --no-progress-meter -K "$work/urls.txt" --parallel --parallel-max 8 >/dev/null
printf '[MapsType]\r\nMapsType=4\r\n\r\n[Zoom]\r\nZoom=14\r\n\r\n[XY]\r\nMinX=8600\r\nMinY=5800\r\nMaxX=8699\r\nMaxY=5899\r\n' \
  >"$work/cold.qmtp"

seconds() { /usr/bin/time -f %e -o "$work/time.txt" "$@" >/dev/null 2>&1; cat "$work/time.txt"; }
cold() { sync; echo 3 >/proc/sys/vm/drop_caches; }
read_tiles() { find "$work/cold" -name '*.jpg' -print0 | xargs -0 cat >/dev/null; }

echo "format    reading (tiles/s)  package (tiles/s)  ratio"
for round in $(seq "$rounds"); do
  for format in mbtiles gpkg; do
    cold
    read=$(seconds bash -c "$(declare -f read_tiles); work=$work; read_tiles")
    cold
    rm -f "$work/out.$format"
    pack=$(seconds "$build/mapcombiner" "$work/cold.qmtp" --output "$work/out.$format" --format "$format" --lower-zooms 8)
    python3 -c "r, p = 10000 / $read, 10000 / $pack; print(f'{\"$format\":9} {r:17,.0f}  {p:17,.0f}  {p / r:.2f}')"
  done
done
