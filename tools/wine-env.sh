# Sourced by the Wine scripts: `wine_env ARCH PREFIX` sets $loader to Wine's
# loader for ARCH (win64 or win32) and the environment every run in PREFIX
# has: that prefix, never the user's ~/.wine; no debug channels; a UTF-8
# locale, so arguments reach the program intact; no Mono or Gecko prompts,
# no menu entries written into $HOME; and no display, so no window can wait
# for anyone. Returns 1 when the loader is missing.
wine_env() {
  local arch=$1 prefix=$2
  if [ -z "$prefix" ] || [ "$prefix" = "${HOME:-/root}/.wine" ]; then
    echo "wine: refusing the prefix '$prefix' (a private one is needed)" >&2
    return 2
  fi
  if [ "$arch" = win32 ]; then loader=/usr/lib/wine/wine; else loader=/usr/lib/wine/wine64; fi
  if [ ! -x "$loader" ]; then
    echo "wine: $loader is missing (Debian package ${arch/win64/wine64}${arch/win32/wine32:i386})" >&2
    return 1
  fi
  export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

# `wine_new_prefix TEMPLATE`: makes $WINEPREFIX afresh, a copy of TEMPLATE
# when that is a made prefix (a copy takes a second, making one ten), else
# by wineboot. Call after wine_env.
wine_new_prefix() {
  local template=$1
  rm -rf "$WINEPREFIX"
  if [ -n "$template" ] && [ -f "$template/system.reg" ]; then
    cp -a "$template" "$WINEPREFIX"
  else
    "$loader" wineboot -i >/dev/null 2>&1
    # wineboot returns before the prefix's server has written the registry.
    /usr/lib/wine/wineserver -w
  fi
}
