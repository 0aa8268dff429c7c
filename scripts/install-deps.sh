#!/usr/bin/env bash
# Installs the Debian packages and the npm packages of web/ (from the project's own lock file)
# that the build needs. Idempotent; needs root for the Debian packages.
#   scripts/install-deps.sh           what the libraries, the tools and the demo need
#   scripts/install-deps.sh --tests   and everything the tests, the stages and the benchmark
#                                     run: GoogleTest, clang, mingw-w64, Wine, Chromium,
#                                     Prometheus, ser2net, ... (scripts/test.sh asks for this)
# Every program a script, stage, CMake file or test runs comes from a package listed here,
# even where a base image usually has it: a program only sometimes present is a missing step.
set -euo pipefail

tests=0
case "${1:-}" in
  "") ;;
  --tests) tests=1 ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

# The libraries, qk42rt, qk42rt-sim and qk42rt serve (its page's chart library is from npm).
build_packages=(
  cmake ninja-build g++ make pkgconf git libudev-dev
  libcpp-httplib-dev nlohmann-json3-dev libcli11-dev libtomlplusplus-dev libmosquitto-dev
)
test_packages=()
if ((tests)); then
  test_packages=(
    clang clang-format libclang-rt-14-dev ccache
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-serial python3-pytest python3-venv python3-pip
    socat locales ser2net chromium prometheus
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xdotool x11-apps
    imagemagick dpkg-dev file binutils man-db coreutils curl patch xz-utils
    wixl msitools
    systemd passwd mosquitto mosquitto-clients openssl
  )
fi
# Node.js and npm (the page's chart library, the browser test's driver): Debian's, unless the
# machine already has both commands from elsewhere, which are then left alone. Without their
# recommendations: Debian's npm would bring hundreds of node-* packages nothing here uses.
node_packages=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then node_packages=(nodejs npm); fi

missing_of() {  # missing_of PACKAGE...: those not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing_build < <(missing_of "${build_packages[@]}")
mapfile -t missing_tests < <(missing_of "${test_packages[@]}")
missing=("${missing_build[@]}" "${missing_tests[@]}")
if ((${#missing[@]} + ${#node_packages[@]} > 0)); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages (${missing[*]} ${node_packages[*]}); run as root to" \
      "install them" >&2
    exit 1
  fi
  if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught syncing serves an index of the wrong size ("Mirror sync in progress?"):
  # tried again a little later; if one index still fails, the packages come from the indexes
  # that did download, and apt-get install below says so if any it needs is missing.
  for try in 1 2 3; do
    apt-get update -qq && break
    if ((try == 3)); then
      echo "install-deps: some package indexes could not be fetched; installing from the" \
        "others" >&2
      break
    fi
    echo "install-deps: apt-get update failed; trying again in $((try * 10)) s" >&2
    sleep $((try * 10))
  done
  # Without their recommendations: what the build and the tests use is named above, and the
  # recommendations (Wine's and Chromium's fonts and media plugins, Debian's hundreds of node-*
  # packages) would triple the time it takes.
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" "${node_packages[@]}" \
    >/dev/null; then
    # Without the i386 indexes (a mirror mid-sync) the 32-bit Wine cannot be installed; the
    # rest can. The Windows stage then runs its Wine steps on the 64-bit build and says why.
    mapfile -t native < <(printf '%s\n' "${missing[@]}" | grep -v ':i386$' || true)
    ((${#native[@]} < ${#missing[@]})) || exit 1
    echo "install-deps: installing without the i386 packages (32-bit Wine), which cannot be" \
      "installed now" >&2
    apt-get install -y -qq --no-install-recommends "${native[@]}" "${node_packages[@]}" >/dev/null
  fi
fi

# A locale with a decimal comma, for the test that the version text ignores the host's locale.
if ((tests)) && ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [[ $(id -u) -eq 0 ]]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  fi
fi

# npm packages of web/ exactly as its lock file says, installed again only when it changed:
# the chart library alone for the build, the browser test's driver too for the tests. `npm ci`
# checks every package against the sha512 in the lock file. Where a proxy on the way to the
# registry presents a certificate this machine does not trust (an intercepting proxy whose
# authority was never installed), the download is tried once more without checking the
# certificate: the lock file's checksums still refuse any package other than the one pinned.
web=$(cd "$(dirname "$0")/../web" && pwd)
stamp=$web/node_modules/.installed-from-package-lock.json
want=$( ((tests)) && echo all || echo build)
have=$(head -1 "$stamp.set" 2>/dev/null || true)
if ! cmp -s "$web/package-lock.json" "$stamp" 2>/dev/null || [[ $have != all && $have != "$want" ]]; then
  npm_options=(--no-audit --no-fund --loglevel=error)
  ((tests)) || npm_options+=(--omit=dev)
  npm_ci() { (cd "$web" && npm ci "${npm_options[@]}" "$@"); }
  # The first try without npm's retries, so that a certificate it will never trust fails at
  # once rather than after a minute of retrying.
  if ! npm_ci --fetch-retries=0 2>"$web/.npm-ci.log"; then
    if grep -qE "SELF_SIGNED_CERT|UNABLE_TO_GET_ISSUER_CERT|CERT_UNTRUSTED|UNABLE_TO_VERIFY_LEAF" \
      "$web/.npm-ci.log"; then
      echo "install-deps: the npm registry's certificate is not trusted here; installing the" \
        "packages pinned by web/package-lock.json by their checksums" >&2
      npm_ci --strict-ssl=false
    elif ! npm_ci 2>"$web/.npm-ci.log"; then
      cat "$web/.npm-ci.log" >&2
      exit 1
    fi
  fi
  rm -f "$web/.npm-ci.log"
  cp "$web/package-lock.json" "$stamp"
  echo "$want" >"$stamp.set"
fi

# serve's HTTP library for the Windows build: a single header from Debian's source package.
if ((tests)); then
  "$(dirname "$0")/fetch-httplib.sh" >/dev/null
fi
