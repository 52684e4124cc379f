#!/usr/bin/env bash
# Sets everything up, builds the tool, makes a sample installation in a temporary folder and
# backs it up: prints a summary of the backup folder, the backup log and the exit code. Then
# shows the settings-file query and the help text.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
echo "== building (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target BrimoraUpgrade >/dev/null
tool="$PWD/build/release/BrimoraUpgrade"

root=$(mktemp -d /tmp/brimora-demo.XXXXXX)
echo "== making a sample installation in $root"
python3 scripts/make_sample_installation.py "$root/site"
install="$root/site/Brimora"
backup="$root/backup-$(date +%Y%m%d-%H%M%S)"

echo
echo "== backup: cd $install/Execute && BrimoraUpgrade --installpath $install --backuppath $backup"
cd "$install/Execute"
set +e
"$tool" --installpath "$install" --backuppath "$backup"
code=$?
set -e
echo "exit code: $code"

echo
echo "== the backup folder"
for entry in "$backup"/*; do
  printf '  %-22s %6s files %8s\n' "$(basename "$entry")" \
    "$(find "$entry" -type f | wc -l)" "$(du -sh "$entry" | cut -f1)"
done

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
