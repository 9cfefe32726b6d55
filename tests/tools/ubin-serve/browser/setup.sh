#!/usr/bin/env bash
# Set-up of the browser test: playwright-core (the driver only; the browser is Debian's
# chromium), the real yubinbango-core and jquery.jpostal (jquery-jpostal-ja, with jQuery 3, and
# jQuery 4 beside it), and an OpenAPI validator with ajv for the description, fetched from the
# npm registry into OUTDIR, never into the source tree. Exit 77 (skipped) when chromium, node or
# npm is missing, or when the registry cannot be reached (a machine without network).
#
#   setup.sh OUTDIR [WEBDIR]
#
# With WEBDIR (the page's folder, which is also the npm package ubin-forms), first `npm pack`s it
# and installs the tarball into OUTDIR/shop, where the shops' pages of the test load it from:
# the package as a site gets it, from a local tarball, so this step needs no network.
set -euo pipefail
out=$1
web=${2:-}
# A folder, never a package name for the registry: npm pack takes it by its absolute path.
[ -z "$web" ] || web=$(cd "$web" && pwd)
playwright=playwright-core@1.61.1   # the newest that runs on Debian 12's Node.js 18
yubinbango=yubinbango-core@0.6.3
jpostal=jquery-jpostal-ja@2.14.73
# 10.1.1: the newest validator without a Node.js newer than Debian 12's
tools="@apidevtools/swagger-parser@10.1.1 ajv@8.17.1 jquery@3.7.1 jquery4@npm:jquery@4.1.0"
for tool in chromium node npm; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (bash scripts/install-deps.sh installs it)"
    exit 77
  fi
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"
offline() {
  echo "SKIPPED: the npm registry cannot be reached to fetch $1; the browser test needs it once"
  exit 77
}
export npm_config_cache="$out/npm-cache" npm_config_update_notifier=false npm_config_fund=false npm_config_audit=false
if [ -n "$web" ]; then
  # Packed afresh each time, so the shops get the script as it is now.
  rm -rf shop ubin-forms-*.tgz
  tarball=$(npm pack --silent --pack-destination "$out" "$web" | tail -n 1)
  mkdir shop
  echo '{"private": true}' > shop/package.json
  (cd shop && npm install --offline --no-save --no-package-lock --silent "$out/$tarball")
  test -f shop/node_modules/ubin-forms/ubin-forms.js
  test -f shop/node_modules/ubin-forms/ubin-forms.mjs
  test -f shop/node_modules/ubin-forms/ubin-forms.d.ts
  echo "packed $tarball and installed it into $out/shop"
fi
if [ "$(cat playwright.version 2>/dev/null)" != "$playwright" ]; then
  [ -f package.json ] || echo '{"private": true}' > package.json
  npm install --no-save --no-package-lock --silent "$playwright" || offline "$playwright"
  echo "$playwright" > playwright.version
fi
if [ "$(cat yubinbango.version 2>/dev/null)" != "$yubinbango" ]; then
  rm -rf yubinbango-core yubinbango-core-*.tgz
  tarball=$(npm pack --silent "$yubinbango") || offline "$yubinbango"
  mkdir yubinbango-core
  tar -xzf "$tarball" -C yubinbango-core --strip-components=1
  echo "$yubinbango" > yubinbango.version
fi
if [ "$(cat tools.version 2>/dev/null)" != "$tools" ]; then
  npm install --no-save --no-package-lock --silent "$playwright" $tools || offline "$tools"
  echo "$tools" > tools.version
fi
if [ "$(cat jpostal.version 2>/dev/null)" != "$jpostal" ]; then
  # Only the plug-in's script: the package's own data files are not used.
  rm -rf jquery-jpostal jquery-jpostal-ja-*.tgz
  tarball=$(npm pack --silent "$jpostal") || offline "$jpostal"
  mkdir jquery-jpostal
  tar -xzf "$tarball" -C jquery-jpostal --strip-components=1 package/jquery.jpostal.js package/package.json
  rm -f "$tarball"
  echo "$jpostal" > jpostal.version
fi
test -f node_modules/playwright-core/package.json
test -f node_modules/jquery/dist/jquery.min.js
test -f node_modules/jquery4/dist/jquery.min.js
test -f node_modules/@apidevtools/swagger-parser/package.json
test -f jquery-jpostal/jquery.jpostal.js
test -f yubinbango-core/yubinbango-core.js
echo "browser test set up in $out: $(node --version), chromium $(chromium --version 2>/dev/null | awk '{print $2}'), $playwright, $yubinbango, $jpostal, $tools"
