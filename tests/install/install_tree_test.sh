#!/bin/sh
# The installed tree as a user of the library sees it: cmake --install into a
# temporary prefix; only the C interface exported; a C program built through
# pkg-config and one through the CMake package, each run on a simulated camera.
# usage: install_tree_test.sh BUILD_DIR THIS_DIR
set -eu
build=$1
here=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
lib=$(dirname "$(find "$prefix" -name libokccamera.so -print -quit)")
test -n "$lib" || { echo "libokccamera.so not installed"; exit 1; }
test -f "$prefix/include/okccamera/okccamera.h"
test -f "$prefix/share/okccamera/udev/60-okccamera.rules" || { echo "udev rules not under share/okccamera/udev"; exit 1; }
# The INDI driver and its XML where clients list drivers, and the Python module, when built.
if [ -x "$build/indi/indi_okccamera" ]; then
  test -x "$prefix/bin/indi_okccamera" && test -f "$prefix/share/indi/indi_okccamera.xml" ||
    { echo "INDI driver or its XML not installed"; exit 1; }
  grep -q '<driver name="OKC Camera">indi_okccamera</driver>' "$prefix/share/indi/indi_okccamera.xml"
fi
if ls "$build"/python/okccamera*.so >/dev/null 2>&1; then
  ls "$prefix"/lib/python3/dist-packages/okccamera*.so >/dev/null || { echo "Python module not installed"; exit 1; }
fi

# Exported: the plain C functions and the camera classes, nothing else.
exported=$(nm -D --defined-only "$lib/libokccamera.so" | awk '$2 != "A" {print $3}' | sed 's/@.*//')
others=$(echo "$exported" | grep '^_Z' | c++filt | grep -v -E '^((typeinfo|typeinfo name|vtable) for )?CCamera' || true)
if [ -n "$others" ]; then
  echo "C++ symbols exported beyond the camera classes:"; echo "$others" | head; exit 1
fi
echo "$exported" | c++filt | grep -q '^CCameraBase::GetImage' || { echo "camera classes not exported"; exit 1; }
for name in openCamera getImageData okcGetFrameInfo okcGetDropCounts; do
  echo "$exported" | grep -qx "$name" || { echo "$name not exported"; exit 1; }
done

export XDG_CONFIG_HOME="$work/config"
export LD_LIBRARY_PATH="$lib"

# pkg-config, as the README says.
export PKG_CONFIG_PATH="$lib/pkgconfig"
cc -Wall -Wextra -Werror -o "$work/first_frame" "$here/first_frame.c" $(pkg-config --cflags --libs okccamera)
"$work/first_frame"

# The installed class headers stand on their own.
printf '#include <okccamera/CCameraTAVC.h>\n#include <okccamera/CCameraPIMC.h>\nint main() { return 0; }\n' > "$work/classes.cpp"
c++ -std=c++20 -fsyntax-only $(pkg-config --cflags okccamera) "$work/classes.cpp"

# The CMake package.
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" > "$work/consumer.log"
cmake --build "$work/consumer" > "$work/consumer-build.log"
"$work/consumer/first_frame"
