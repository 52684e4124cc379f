#!/usr/bin/env bash
# Sets everything up, builds the tool, makes a sample installation in a temporary folder, starts
# its search server (a stand-in) and backs the installation up with its search database: prints
# a summary of the backup folder, the backup log, the exit code and the server answering again.
# Then shows the settings-file query and the help text, and stops the search server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
echo "== building (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target BrimoraUpgrade >/dev/null
tool="$PWD/build/release/BrimoraUpgrade"

root=$(mktemp -d /tmp/brimora-demo.XXXXXX)
# A port nothing listens on, so the demo never meets a search server that runs here already.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
echo "== making a sample installation in $root (search server on port $port)"
python3 scripts/make_sample_installation.py "$root/site" --solr-port "$port"
install="$root/site/Brimora"
backup="$root/backup-$(date +%Y%m%d-%H%M%S)"
solr="$install/solr/bin/solr"
trap '"$solr" stop -p "$port" >/dev/null 2>&1 || true' EXIT

echo
echo "== starting the search server, as it runs in production: $solr start -p $port"
"$solr" start -p "$port"

echo
echo "== backup: cd $install/Execute && BrimoraUpgrade --installpath $install --backuppath $backup /includedb"
cd "$install/Execute"
set +e
"$tool" --installpath "$install" --backuppath "$backup" /includedb
code=$?
set -e
echo "exit code: $code"

echo
echo "== the search server runs again: $solr status -p $port"
"$solr" status -p "$port" || true
python3 -c 'import json, sys, urllib.request
url = "http://127.0.0.1:%s/solr/Brimora/select?q=*&start=0&rows=0&wt=json" % sys.argv[1]
print("the Brimora core answers a query: %d documents" % json.load(urllib.request.urlopen(url))["response"]["numFound"])' "$port" || true

echo
echo "== the backup folder"
for entry in "$backup"/*; do
  printf '  %-22s %6s files %8s\n' "$(basename "$entry")" \
    "$(find "$entry" -type f | wc -l)" "$(du -sh "$entry" | cut -f1)"
done

echo "  Database holds:         $(ls "$backup/Database" 2>/dev/null | tr '\n' ' ')"

echo
echo "== the backup log ($install/Logs/BackupLog.log)"
cat "$install/Logs/BackupLog.log"

echo
echo "== settings-file query: BrimoraUpgrade --installpath $install --getsettingsfilepath $root/answer.txt --check"
"$tool" --installpath "$install" --getsettingsfilepath "$root/answer.txt" --check
echo "exit code: $?; the answer file holds: $(cat "$root/answer.txt")"

echo
echo "== help: BrimoraUpgrade --help"
"$tool" --help

echo
echo "Everything stays in $root (remove it with: rm -rf $root)"
exit "$code"
