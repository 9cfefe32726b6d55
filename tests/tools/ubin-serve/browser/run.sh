#!/usr/bin/env bash
# Runs one part of the browser test (form_test.mjs); 77 (skipped) without node or chromium.
set -euo pipefail
for tool in node chromium; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (bash scripts/install-deps.sh installs it)"
    exit 77
  fi
done
# The set-up skips on a machine that cannot reach the npm registry; then so does each part.
modules=$(printf '%s\n' "$@" | sed -n '/^--modules$/{n;p;}')
if [ -n "$modules" ] && [ ! -f "$modules/node_modules/playwright-core/package.json" ]; then
  echo "SKIPPED: $modules has no playwright-core (its set-up could not fetch it)"
  exit 77
fi
exec node "$(dirname "$0")/form_test.mjs" "$@"
