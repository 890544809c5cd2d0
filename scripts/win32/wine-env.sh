# Sourced by the Windows test scripts: picks the Wine loader that can run this host's
# Windows programs and points Wine at the build's own prefix.
#   OV_WIN_BUILD   the i686 build folder (the shipped output)
#   OV_WINEPREFIX  another Wine prefix (default: the build's own)
#   OV_TEST_ARCH   x86_64 to take the 64-bit way below even where 32-bit programs run
# Sets WINE_LOADER, WINE_SERVER, OV_TEST_ARCH (i686 or x86_64) and OV_TEST_BUILD.

export WINEDEBUG=-all
export WINEPREFIX="${OV_WINEPREFIX:-$OV_WIN_BUILD/wineprefix}"
unset DISPLAY WAYLAND_DISPLAY

# The shipped program is 32-bit. Wine runs 32-bit programs only where the kernel runs
# 32-bit Linux programs (its 32-bit loader is one): there the tests run on an i686 test
# build; elsewhere the same sources are tested as a 64-bit build under the 64-bit loader.
# Either test build has the test hooks the shipped build lacks.
if [ "${OV_TEST_ARCH:-}" != x86_64 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  OV_TEST_ARCH=i686
  WINE_LOADER=/usr/lib/wine/wine
  OV_TEST_BUILD="$OV_WIN_BUILD/i686-test"
else
  OV_TEST_ARCH=x86_64
  WINE_LOADER=/usr/lib/wine/wine64
  OV_TEST_BUILD="$OV_WIN_BUILD/x86_64"
fi
[ "$OV_TEST_ARCH" = x86_64 ] && export WINELOADER="$WINE_LOADER"
WINE_SERVER=/usr/lib/wine/wineserver64
[ -x "$WINE_SERVER" ] || WINE_SERVER=/usr/lib/wine/wineserver32
