# Sourced by the benchmarks that measure over a limited link (nginx_bench.sh,
# block_update_bench.sh). The link is loopback in a network namespace of the
# script's own (root), shaped with tc; the servers and clients of the run meet
# nothing outside it.
#
#   link_private_namespace SCRIPT ARGS...
#       outside the namespace: re-runs SCRIPT with ARGS in a new one (exec,
#       with KORVAL_BENCH_NETNS=1); inside it: returns
#   link_shape RATE DELAY_MS PORT...
#       loopback up with an Ethernet MTU and limited to RATE (tc's units:
#       100mbit). With DELAY_MS 0 all of loopback is the link. Otherwise only
#       what leaves the PORTs (the delaying proxies' answers to the clients)
#       crosses it: each proxy's own leg to its server is the server's side
#   link_delay PORT TARGET DELAY_MS
#       a delaying proxy on PORT (127.0.0.1 and ::1) in front of a server on
#       127.0.0.1:TARGET; returns once it listens
#   link_stop
#       stops the proxies
#   link_rate_bits RATE
#       prints RATE in bits per second
#
# The proxy passes every block it reads on DELAY_MS later, in each
# direction: requests, answers and handshakes, so each round trip costs
# 2 x DELAY_MS. TCP's own acknowledgements are not delayed: it prices round
# trips, not window growth.

LINK_PROXY_PIDS=""

link_private_namespace() {
  [ "${KORVAL_BENCH_NETNS:-}" = 1 ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (a private network namespace)" >&2; exit 1; }
  command -v tc >/dev/null || apt-get install -y -qq iproute2 >/dev/null
  export KORVAL_BENCH_NETNS=1
  exec unshare -n bash "$@"
}

link_shape() {
  local rate="$1" delay_ms="$2" p
  shift 2
  # Loopback's 64 KiB MTU lets tbf pass segments far larger than its burst,
  # which it then drops: an Ethernet MTU makes the shaping behave like a link.
  ip link set lo mtu 1500
  ip link set lo up
  tc qdisc del dev lo root 2>/dev/null || true
  if [ "$delay_ms" = 0 ]; then
    tc qdisc add dev lo root tbf rate "$rate" burst 32kbit latency 400ms
    return 0
  fi
  # (htb only sorts: both classes are far faster than the link; this kernel
  # has no prio qdisc.)
  tc qdisc add dev lo root handle 1: htb default 20
  tc class add dev lo parent 1: classid 1:10 htb rate 10gbit quantum 60000
  tc class add dev lo parent 1: classid 1:20 htb rate 10gbit quantum 60000
  tc qdisc add dev lo parent 1:10 handle 10: tbf rate "$rate" burst 32kbit latency 400ms
  for p in "$@"; do
    tc filter add dev lo parent 1: protocol ip u32 match ip sport "$p" 0xffff flowid 1:10
    tc filter add dev lo parent 1: protocol ipv6 u32 match ip6 sport "$p" 0xffff flowid 1:10
  done
}

link_delay() {
  local listen="$1" target="$2" delay_ms="$3"
  python3 - "$listen" "$target" "$delay_ms" <<'PY' &
import asyncio, sys, time
port, target, delay = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000

async def carry(reader, writer):
    # A bounded queue: what waits out its delay is the link's content, and a
    # full link holds the sender back as a real one would.
    queue = asyncio.Queue(256)

    async def take():
        while True:
            block = await reader.read(65536)
            await queue.put((time.monotonic() + delay, block))
            if not block:
                return

    async def give():
        while True:
            due, block = await queue.get()
            if due > time.monotonic():
                await asyncio.sleep(due - time.monotonic())
            if not block:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(block)
            await writer.drain()
    try:
        await asyncio.gather(take(), give())
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()

async def client(reader, writer):
    try:
        up_reader, up_writer = await asyncio.open_connection("127.0.0.1", target)
    except OSError:
        writer.close()
        return
    await asyncio.gather(carry(reader, up_writer), carry(up_reader, writer))

async def main():
    server = await asyncio.start_server(client, host=["127.0.0.1", "::1"], port=port)
    async with server:
        await server.serve_forever()

asyncio.run(main())
PY
  LINK_PROXY_PIDS+=" $!"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$listen") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: the delaying proxy on port $listen did not start" >&2
  return 1
}

link_stop() {
  local pid
  for pid in $LINK_PROXY_PIDS; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  LINK_PROXY_PIDS=""
}

link_rate_bits() {
  python3 -c '
import re, sys
n, unit = re.match(r"([0-9.]+)([a-z]*)", sys.argv[1].lower()).groups()
print("%.0f" % (float(n) * {"": 1, "bit": 1, "kbit": 1e3, "mbit": 1e6, "gbit": 1e9}[unit]))' "$1"
}
