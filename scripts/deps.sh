#!/usr/bin/env bash
# Installs the Debian packages the build needs that are not yet present.
# Silent when everything is installed. Usage: deps.sh [run|test|deb|fuzz]
set -euo pipefail
what=${1:-run}
pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev portaudio19-dev libasound2-dev
      libjack-jackd2-dev libsndfile1-dev libebur128-dev fonts-liberation
      qt6-httpserver-dev qt6-websockets-dev
      libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev)
if [ "$what" = test ]; then
  pkgs+=(libgtest-dev libbenchmark-dev pulseaudio pulseaudio-utils libasound2-plugins python3)
  pkgs+=(jackd2 meterbridge xvfb)  # JACK tests start a dummy server; scripts/measure.sh and its test
  pkgs+=(pipewire pipewire-bin wireplumber pipewire-pulse pipewire-jack dbus)  # scripts/pipewire-server.sh
  pkgs+=(desktop-file-utils appstream man-db)  # validators of the install tree
  pkgs+=(faketime)  # scripts/soak.sh steps the instances' wall clock
  pkgs+=(chromium chromium-driver python3-selenium)  # tests/scripts/live_page_browser.sh
  pkgs+=(firefox-esr python3-websocket)  # tests/scripts/live_page_firefox.sh
  pkgs+=(prometheus prometheus-alertmanager)  # tests/scripts/fleet_alerting.sh, prometheus_rules.sh
  pkgs+=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good iproute2)  # tests/scripts/network_streams.sh
fi
[ "$what" = fuzz ] && pkgs+=(clang libclang-rt-14-dev)  # scripts/fuzz.sh: libFuzzer
[ "$what" = deb ] && pkgs+=(dpkg-dev file)   # scripts/build-deb.sh: cpack with dpkg-shlibdeps
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
