# Sourced by the scripts and tests that need an X server.
#
# xvfb_start FOLDER: starts Xvfb on a display it picks itself (it writes the
# number into FOLDER/display once ready), sets xvfb to its process and
# display to ":N". Fails when the server did not come up within 30 s.
xvfb_start() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 300); do
    [ -s "$1/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$1/display" ] || return 1
  display=:$(head -n 1 "$1/display")
}
