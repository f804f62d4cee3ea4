#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# apt-get update runs only when something has to be installed.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # libraries of the product
  zlib1g-dev libdeflate-dev libminizip-dev libicu-dev uuid-dev libcurl4-openssl-dev libssl-dev
  libxml2-dev libpoppler-cpp-dev libgmime-3.0-dev libuchardet-dev libchm-dev
  libgsf-1-dev libarchive-dev libtag1-dev libexif-dev
  # Outlook personal folders: libpff, whose header also needs libbfio's
  libpff-dev libbfio-dev
  qt6-base-dev
  # converters the crawl service runs for legacy Office files
  antiword catdoc
  # text recognition in pictures (opt-in), with the Chinese and English models
  tesseract-ocr tesseract-ocr-chi-sim tesseract-ocr-eng
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  chromium xvfb
  # the end-to-end session test of the index following the disk
  python3
  # the web UI tests: Node for playwright-core, iproute2 for their network
  # namespace, a Chinese font for readable screenshots
  nodejs iproute2 fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Debian's nodejs comes without npm; a Node from elsewhere brings its own.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# playwright-core for the browser tests of the web UI, at the version pinned
# in tests/web_ui/package-lock.json (it drives Debian's Chromium; no browser
# is downloaded).
web_ui="$(dirname "$0")/../tests/web_ui"
if [ ! -f "$web_ui/node_modules/playwright-core/package.json" ]; then
  echo "installing: playwright-core (npm)"
  npm ci --prefix "$web_ui" --no-audit --no-fund --silent
fi
