#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the npm packages of web/ from
# the project's own lock file. Idempotent; needs root for the Debian packages.
# Every program a script, stage, CMake file or test runs comes from a package listed here,
# even where a base image usually has it: a program only sometimes present is a missing step.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-serial socat locales ser2net python3-pytest python3-venv python3-pip
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xdotool x11-apps imagemagick
  dpkg-dev file binutils pkgconf make man-db git coreutils curl libudev-dev
  libcpp-httplib-dev nlohmann-json3-dev libcli11-dev chromium prometheus
)
# Node.js and npm (the page's chart library, the browser test's driver): Debian's, unless the
# machine already has both commands from elsewhere, which are then left alone. Without their
# recommendations: Debian's npm would bring hundreds of node-* packages nothing here uses.
node_packages=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then node_packages=(nodejs npm); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} + ${#node_packages[@]} > 0)); then
if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
((${#missing[@]} == 0)) || apt-get install -y -qq "${missing[@]}"
((${#node_packages[@]} == 0)) || apt-get install -y -qq --no-install-recommends "${node_packages[@]}"
fi

# A locale with a decimal comma, for the test that the version text ignores the host's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [[ $(id -u) -eq 0 ]]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi

# npm packages of web/ exactly as its lock file says, installed again only when it changed.
# `npm ci` checks every package against the sha512 in the lock file. Where a proxy on the way
# to the registry presents a certificate this machine does not trust (an intercepting proxy
# whose authority was never installed), the download is tried once more without checking the
# certificate: the lock file's checksums still refuse any package other than the one pinned.
web=$(cd "$(dirname "$0")/../web" && pwd)
stamp=$web/node_modules/.installed-from-package-lock.json
if ! cmp -s "$web/package-lock.json" "$stamp" 2>/dev/null; then
  npm_ci() { (cd "$web" && npm ci --no-audit --no-fund --loglevel=error "$@"); }
  if ! npm_ci 2>"$web/.npm-ci.log"; then
    if grep -qE "SELF_SIGNED_CERT|UNABLE_TO_GET_ISSUER_CERT|CERT_UNTRUSTED|UNABLE_TO_VERIFY_LEAF" \
      "$web/.npm-ci.log"; then
      echo "install-deps: the npm registry's certificate is not trusted here; installing the" \
        "packages pinned by web/package-lock.json by their checksums" >&2
      npm_ci --strict-ssl=false
    else
      cat "$web/.npm-ci.log" >&2
      exit 1
    fi
  fi
  rm -f "$web/.npm-ci.log"
  cp "$web/package-lock.json" "$stamp"
fi
