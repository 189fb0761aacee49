#!/usr/bin/env bash
# Installs everything Quorvane needs to build, run and test on Debian 12 (as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root" >&2
  exit 1
fi
need=(build-essential cmake ninja-build pkg-config git
      qt6-base-dev libgtest-dev libgmock-dev googletest
      fonts-arphic-uming fonts-arphic-ukai
      xvfb xauth x11-apps x11-utils xdotool xdg-utils openbox trayer imagemagick
      dbus-daemon dbus-bin python3-dbus python3-gi weston xwayland qt6-wayland
      firebird3.0-utils libfbclient2 firebird-dev libcurl4 libcurl4-openssl-dev openssl
      clang libclang-rt-14-dev iproute2 iptables util-linux procps faketime python3
      dpkg-dev lintian libsystemd-dev systemd debootstrap systemd-container
      prometheus)  # its promtool checks the metrics file in the tests
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # Only its promtool is wanted: the Prometheus server that the package enables stays off.
  if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d /run/systemd/system ]; then
    systemctl disable --now prometheus.service >/dev/null 2>&1 || true
  fi
fi
