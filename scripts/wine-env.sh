# Wine test platform: sourced by the other scripts.
#
# Each build tree owns its prefix. A prefix is created once and reused; the
# wine server, Wine's own services and Xvfb are started detached from the
# terminal (a daemon that inherits CI's stdout makes CI hang) and stopped by
# PID when the script ends.

glint_wine_prepare() {
  local prefix=$1
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$prefix/.glint-ready" ]; then
    echo "wine: creating prefix $prefix"
    mkdir -p "$prefix"
    # No menu entries under $HOME while the prefix is made.
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" wineboot --init >/dev/null 2>&1 </dev/null
    wineserver -w
    # Version checks see Windows 10 (for programs that declare support).
    wine winecfg -v win10 >/dev/null 2>&1 </dev/null
    wineserver -w
    glint_wine_keep_home "$prefix"
    wineserver -w
    touch "$prefix/.glint-ready"
  fi
  # A prefix made before the rule: no waiting here, a persistent server may
  # be running for it (its setting reaches that server all the same).
  glint_wine_keep_home "$prefix"
}

# Nothing a test writes into the prefix may reach the Linux user's home: the
# user folders a fresh prefix links to $HOME become real folders, the
# shell's menu builder (run for each link saved under the Start menu) is off,
# and so is the audio driver (the sound server's client writes its cookie
# under $HOME as soon as a program asks for the audio devices).
glint_wine_keep_home() {
  local prefix=$1 users folder
  [ -f "$prefix/.glint-home-kept-2" ] && return 0
  for users in "$prefix"/drive_c/users/*; do
    for folder in Desktop Documents Downloads Music Pictures Videos; do
      if [ -L "$users/$folder" ]; then
        rm -f "$users/$folder" && mkdir -p "$users/$folder"
      fi
    done
  done
  (cd / && wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f \
    >/dev/null 2>&1 </dev/null)
  (cd / && wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f \
    >/dev/null 2>&1 </dev/null)
  touch "$prefix/.glint-home-kept-2"
}

GLINT_WINESERVER_PID=""
GLINT_XVFB_PID=""

glint_wine_start() {
  local prefix=$1
  glint_wine_prepare "$prefix"
  setsid wineserver -f -p >/dev/null 2>&1 </dev/null &
  GLINT_WINESERVER_PID=$!
  # Wine's own services (services.exe, rpcss, winedevice) start here, not
  # inside a test whose output they would hold open.
  setsid wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

glint_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 </dev/null || true
  fi
  if [ -n "$GLINT_WINESERVER_PID" ]; then
    kill "$GLINT_WINESERVER_PID" >/dev/null 2>&1 || true
    wait "$GLINT_WINESERVER_PID" 2>/dev/null || true
    GLINT_WINESERVER_PID=""
  fi
}

glint_xvfb_start() {
  # Xvfb picks a free display itself and writes its number once it is up;
  # it passes over displays whose lock belongs to a live server and clears
  # stale locks, which a fixed range of numbers left by killed servers
  # would not.
  local number
  number=$(mktemp)
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 \
    </dev/null &
  GLINT_XVFB_PID=$!
  for _ in $(seq 100); do
    if [ -s "$number" ]; then
      export DISPLAY=":$(tr -dc 0-9 <"$number")"
      rm -f "$number"
      return 0
    fi
    sleep 0.1
  done
  rm -f "$number"
  echo "xvfb: no display came up" >&2
  return 1
}

glint_xvfb_stop() {
  if [ -n "$GLINT_XVFB_PID" ]; then
    kill "$GLINT_XVFB_PID" >/dev/null 2>&1 || true
    wait "$GLINT_XVFB_PID" 2>/dev/null || true
    GLINT_XVFB_PID=""
  fi
}

glint_platform_stop() {
  glint_wine_stop
  glint_xvfb_stop
}
