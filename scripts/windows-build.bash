# Sourced by scripts/test-windows and scripts/package-windows, from the
# repository's root: the native helpers and the configured cross build in
# build/windows.

# korvel-sim and the icon renderer run natively; only the programs under test
# are Windows ones. Sets windows_host.
windows_host_tools() {
  windows_host=build/windows-host
  cmake -S . -B "$windows_host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_WERROR=ON \
    -DKORVEL_GUI=OFF -DKORVEL_TESTS=OFF >/dev/null
  cmake --build "$windows_host" --target korvel-sim korvel-render-icon -j 2
}

# windows_configure QT_PREFIX: configures build/windows (the windows preset)
# with the window when QT_PREFIX is given, else korvel-cli and the core only.
windows_configure() {
  local qt=$1 toolchain
  local options=(-DKORVEL_HOST_SIM="$PWD/$windows_host/korvel-sim")
  if [ -n "$qt" ]; then
    toolchain="$qt/lib/cmake/Qt6/qt.toolchain.cmake"
    options+=(-DKORVEL_GUI=ON -DCMAKE_TOOLCHAIN_FILE="$toolchain"
      -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
      -DKORVEL_HOST_RENDER_ICON="$PWD/$windows_host/packaging/korvel-render-icon")
  else
    toolchain="$PWD/cmake/mingw-w64-x86_64.cmake"
    options+=(-DKORVEL_GUI=OFF)
  fi
  # A tree made with the other toolchain starts again.
  if ! grep -qsx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" build/windows/CMakeCache.txt; then
    rm -rf build/windows/CMakeCache.txt build/windows/CMakeFiles
  fi
  cmake --preset windows "${options[@]}" >/dev/null
}
