#!/usr/bin/env bash
# Installs everything the suite needs to build, test and show its windows on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  ca-certificates cmake ninja-build g++ clang libclang-rt-14-dev pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev \
  qt6-base-dev libqt6opengl6-dev \
  xvfb xauth xclip fonts-noto-cjk imagemagick x11-apps
