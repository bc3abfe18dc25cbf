# shellcheck shell=bash
# Sourced by scripts/demo.sh and scripts/check-install.sh.
#
# start_emulator BINARY WORK_DIR
#   Starts BINARY (ocs-emulator) on loopback, on free ports, with one pool and
#   its data directory under WORK_DIR; waits for its endpoints line and
#   exports the ocs settings for it: OCS_ADDRESS, OCS_UPLOAD_PORT,
#   OCS_DOWNLOAD_PORT, OCS_PIC_UPLOAD_PORT, OCS_PIC_DOWNLOAD_PORT, OCS_POOL,
#   OCS_ACCESS_KEY and OCS_SECRET_KEY.
# stop_emulator
#   Stops it (SIGTERM) and waits for it. Call it from an EXIT trap.

EMULATOR_PID=""

# The number after "NAME": in the endpoints line $1.
endpoint_port() {
  sed -n "s/.*\"$2\":\([0-9][0-9]*\).*/\1/p" <<<"$1"
}

start_emulator() {
  local binary=$1 work=$2 line=""
  export OCS_POOL=demo OCS_ACCESS_KEY=demo-access-key OCS_SECRET_KEY=demo-secret-key
  "$binary" --listen 127.0.0.1 --data-dir "$work/emulator-data" \
    --pool "$OCS_POOL:$OCS_ACCESS_KEY:$OCS_SECRET_KEY" \
    >"$work/emulator.out" 2>"$work/emulator.err" &
  EMULATOR_PID=$!
  for _ in $(seq 200); do
    line=$(grep -m1 '^OCS-EMULATOR ' "$work/emulator.out" || true)
    if [ -n "$line" ]; then break; fi
    if ! kill -0 "$EMULATOR_PID" 2>/dev/null; then
      echo "ocs-emulator did not start:" >&2
      cat "$work/emulator.err" >&2
      return 1
    fi
    sleep 0.05
  done
  if [ -z "$line" ]; then
    echo "ocs-emulator printed no endpoints line" >&2
    return 1
  fi
  export OCS_ADDRESS=127.0.0.1
  OCS_UPLOAD_PORT=$(endpoint_port "$line" upload)
  OCS_DOWNLOAD_PORT=$(endpoint_port "$line" download)
  OCS_PIC_UPLOAD_PORT=$(endpoint_port "$line" gateway)
  OCS_PIC_DOWNLOAD_PORT=$(endpoint_port "$line" gateway_download)
  export OCS_UPLOAD_PORT OCS_DOWNLOAD_PORT OCS_PIC_UPLOAD_PORT OCS_PIC_DOWNLOAD_PORT
}

stop_emulator() {
  if [ -n "$EMULATOR_PID" ]; then
    kill -TERM "$EMULATOR_PID" 2>/dev/null || true
    wait "$EMULATOR_PID" 2>/dev/null || true
    EMULATOR_PID=""
  fi
}
