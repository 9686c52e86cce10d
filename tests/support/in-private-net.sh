#!/usr/bin/env bash
# Runs a command in a network namespace of its own (unshare), whose loopback carries multicast:
# the WS-Discovery group 239.255.255.250 is routed to lo with 127.0.0.1 as source, and lo also
# holds 127.0.0.2 (some ONVIF clients probe from every address but 127.0.0.1). Nothing the command
# sends can leave the namespace, and parallel tests do not meet on ports such as 3702.
#
# usage: in-private-net.sh COMMAND [ARG...]
set -euo pipefail
if [ -z "${TALLOW_PRIVATE_NET:-}" ]; then
  export TALLOW_PRIVATE_NET=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net "$0" "$@"
  fi
  # Without root, a user namespace maps us to root inside it.
  exec unshare --map-root-user --net "$0" "$@"
fi
ip link set lo up
ip link set lo multicast on
ip route add 239.0.0.0/8 dev lo src 127.0.0.1
ip addr add 127.0.0.2/8 dev lo
exec "$@"
