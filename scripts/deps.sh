#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when one is missing.
# Sourced by scripts/test.sh and scripts/demo.sh; scripts/fuzz.sh names further packages.
korvi_need_packages() {
  local missing=()
  local pkg
  for pkg in cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev ncompress util-linux tmux "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing Debian packages: ${missing[*]}" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null || {
    echo "Could not install: ${missing[*]}" >&2
    exit 1
  }
}
