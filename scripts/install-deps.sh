#!/usr/bin/env bash
# Installs everything the suite needs (scripts/packages.txt) on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends $(grep -v '^#' scripts/packages.txt)
# Node.js and npm for ubin-serve's browser test: Debian's, unless the machine has a Node.js of
# its own (it brings its own npm, and Debian's npm would conflict with it).
command -v npm >/dev/null || apt-get install -y --no-install-recommends nodejs npm
