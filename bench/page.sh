#!/usr/bin/env bash
# The planner's page (bench/page.mjs): its files' compressed size; 1,000 items shown after a navigation with the CPU
# slowed four times, in turns with a plain page; a desktop's change until the open page shows it.
#   bench/page.sh [BUILD] [LOAD_RUNS] [CHANGE_RUNS]
set -euo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "skipped: $1"; exit 0; }
command -v node >/dev/null || skip "no node on this machine (scripts/install-deps installs it)"
[ -x /usr/bin/chromium ] || [ -x /usr/bin/chromium-browser ] || skip "no chromium on this machine (scripts/install-deps installs it)"
[ -d "$here/../web/node_modules/playwright-core" ] || skip "web/'s npm packages are not installed (make deps installs them)"
[ -x "$build/tests/Web/web_fixture" ] || skip "$build was built without the page (VELLORA_WEB_PAGE=OFF)"
node "$here/page.mjs" "$build/Cloud/vellora-cloud" "$build/tests/Web/web_fixture" "$build/Cloud/web" "${2:-12}" "${3:-40}"
