# Sourced by ./run.sh --demo and tests/gui/screenshots.sh: publishes a simulated instrument
# with an earlier firmware (241003) as the serial port /dev/TARVEX6-SIM, which sorts first in
# the port list.  The simulator and the link go when the calling script exits.
#
#   publish_demo_sim <tarvex6-sim> [its options...]    sets DEMO_SIM_PTY
DEMO_SIM_LINK=/dev/TARVEX6-SIM

publish_demo_sim() {
    DEMO_SIM_SUDO=""
    [ -w /dev ] || DEMO_SIM_SUDO=sudo
    coproc SIM { exec "$@" --version 241003; }
    DEMO_SIM_PID=$SIM_PID
    trap 'kill "$DEMO_SIM_PID" 2>/dev/null || true; $DEMO_SIM_SUDO rm -f "$DEMO_SIM_LINK"' EXIT
    local ready
    read -r ready DEMO_SIM_PTY <&"${SIM[0]}"
    [ "$ready" = READY ] || { echo "the simulator did not start" >&2; exit 1; }
    $DEMO_SIM_SUDO ln -sfn "$DEMO_SIM_PTY" "$DEMO_SIM_LINK"
}
