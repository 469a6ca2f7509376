#!/usr/bin/env bash
# Builds the Debian package build/deb/tarvolin_VERSION_ARCH.deb with cpack; its
# dependencies are computed by dpkg-shlibdeps. Install it with
#   sudo apt-get install ./build/deb/tarvolin_*.deb
# Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
scripts/deps.sh deb
dir=build/deb
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Debian's hardening flags (stack protector, fortified functions, full RELRO, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOLIN_TESTS=OFF \
      -DTARVOLIN_BENCH=OFF "${launcher[@]}" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" --target tarvolin tarvolin-meter tarvolin_man tarvolin_doc
rm -f "$dir"/tarvolin_*.deb
(cd "$dir" && umask 022 && cpack -G DEB >cpack.log 2>&1) || { tail -20 "$dir/cpack.log" >&2; exit 1; }
ls "$PWD/$dir"/tarvolin_*.deb
