#!/usr/bin/env bash
# Installs everything the suite needs (scripts/packages.txt) on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends $(grep -v '^#' scripts/packages.txt)
