#!/usr/bin/env bash
# Sets everything up, builds the tool, makes a sample installation in a temporary folder, starts
# its search server (a stand-in) and backs the installation up with its search database: prints
# a summary of the backup folder, the backup log, the exit code and the server answering again.
# Then damages the installation, restores it from the backup, and shows that it is whole again and
# what the restore committed. Last, the settings-file query and the help text; the search server
# is stopped at the end.
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
echo "== the completion record ($backup/BackupInfo.json), in part"
grep -E '"(toolVersion|started|ended|answer|errorLines|finished|complete)"' "$backup/BackupInfo.json" | sed 's/^/  /'
echo
echo "== verify: BrimoraUpgrade --verify --backuppath $backup; and sha256sum --check on its SHA256SUMS"
"$tool" --verify --backuppath "$backup"
(cd "$backup" && sha256sum --check --quiet SHA256SUMS && echo "sha256sum: every file matches")

echo
echo "== damage: settings, security and Parts Tracker files deleted or edited, documents removed"
before="$root/before-damage"
cp -a "$root/site" "$before"
storage="$install/Repository/FileStorage"
rm -f "$install/Execute/users.dat" "$install/Execute/reports.xml" "$install/partsdb/parts.db" \
  "$root/site/LornithData/Settings/TestSystems.xml"
rm -rf "$install/Execute/WebReports" "$install/Users/admin" "$storage/ReportTemplates" "$storage/Projects"
sed -i 's/<ServerName>Brimora</<ServerName>Damaged</' "$root/site/LornithData/Settings/Brimora.xml"
sed -i 's/role="qa"/role="admin"/' "$install/Execute/users.xml"
echo "a stray file" > "$storage/stray.txt"
diff -rq -x .svn -x SubversionRepository -x Logs "$before" "$root/site" | sed 's/^/  /' || true

url=$(svn info --show-item repos-root-url "$storage")
head=$(svn info --show-item revision "$url")
echo
echo "== restore: BrimoraUpgrade --restore --installpath $install --backuppath $backup"
set +e
"$tool" --restore --installpath "$install" --backuppath "$backup"
restoreCode=$?
set -e
echo "exit code: $restoreCode"
grep -a ' - Restore - ' "$install/Logs/BrimoraUpgradeLog.txt" | tail -n 20

echo
echo "== whole again: diff -r of the installation before the damage and after the restore"
echo "   (the images and change logs the backup merged from two folders, and the names file the"
echo "   restore places in the working copy, are the only additions; .svn, the repository and the"
echo "   logs are left out)"
diff -r -x .svn -x SubversionRepository -x Logs "$before" "$root/site" | sed 's/^/  /' || true

echo
echo "== what the restore committed: svn log --xml --with-all-revprops -r $((head + 1)):HEAD $url"
svn log --xml --with-all-revprops -r "$((head + 1)):HEAD" "$url"

echo
echo "== a damaged backup: one byte of a saved settings file changed, a file planted in its working copy"
damaged="$root/damaged-backup"
cp -a "$backup" "$damaged"
printf 'X' | dd of="$damaged/Settings/Brimora.xml" bs=1 seek=10 conv=notrunc status=none
echo "planted" > "$damaged/Repository/FileStorage/planted.txt"
set +e
"$tool" --verify --backuppath "$damaged"
echo "verify exit code: $? (2: not intact)"
set -e

echo
echo "== settings-file query: BrimoraUpgrade --installpath $install --getsettingsfilepath $root/answer.txt --check"
"$tool" --installpath "$install" --getsettingsfilepath "$root/answer.txt" --check
echo "exit code: $?; the answer file holds: $(cat "$root/answer.txt")"

echo
echo "== help: BrimoraUpgrade --help"
"$tool" --help

echo
echo "Everything stays in $root (remove it with: rm -rf $root)"
if [ "$code" -ne 0 ]; then exit "$code"; fi
exit "$restoreCode"
