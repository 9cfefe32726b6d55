#!/usr/bin/env bash
# Runs one part of the browser test (form_test.mjs); 77 (skipped) without node or chromium.
set -euo pipefail
for tool in node chromium; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (bash scripts/install-deps.sh installs it)"
    exit 77
  fi
done
exec node "$(dirname "$0")/form_test.mjs" "$@"
