#!/usr/bin/env bash
# Sets everything up, builds the tool and runs it on a small installation made in a
# temporary folder: the help text, then a settings-file query, then the trace log it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target BrimoraUpgrade >/dev/null
tool="$PWD/build/release/BrimoraUpgrade"

root=$(mktemp -d /tmp/brimora-demo.XXXXXX)
install="$root/Brimora"
mkdir -p "$install/Execute" "$root/LornithData/Settings"
printf 'BrimoraSettingsFolder=../LornithData/Settings\n' >"$install/config.ini"
echo '<Settings/>' >"$root/LornithData/Settings/Brimora.xml"

cd "$install/Execute"
echo "== $tool /?"
"$tool" /? || true

echo
echo "== $tool /installpath $install /getsettingsfilepath $root/answer.txt /check"
set +e
"$tool" /installpath "$install" /getsettingsfilepath "$root/answer.txt" /check
code=$?
set -e
echo "exit code: $code"
echo "answer file holds: $(cat "$root/answer.txt")"

echo
echo "== trace log $install/Logs/BrimoraUpgradeLog.txt"
cat "$install/Logs/BrimoraUpgradeLog.txt"
echo
echo "The demonstration installation stays in $root"
