#!/usr/bin/env bash
# Builds the comparison benchmarks, runs them and prints one line per comparison:
#   name: ours X, peer Y, ratio Z
# (ratio = ours / peer; for requests per second peer / ours, so that above 1 always
# means ours is slower). The layout lines "A vs B" of the concurrent pair give B's
# workflows per second over A's instead. What each pair measures: docs/benchmarks.md.
#
# BUILD_DIR (default build) is configured first when it has no build.ninja yet.
# QADJ_BENCH_REPETITIONS (default 5) repetitions of each single-client pair and
# QADJ_BENCH_ROUNDS (default 3) rounds of QADJ_BENCH_SECONDS (default 3) seconds per
# side and layout of the concurrent pair, in random order, reported as the median.
# Raw results (JSON) and the benchmarks' own output go to $BUILD_DIR/bench-results/.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
REPS=${QADJ_BENCH_REPETITIONS:-5}
ROUNDS=${QADJ_BENCH_ROUNDS:-3}
export QADJ_BENCH_SECONDS=${QADJ_BENCH_SECONDS:-3}
export QT_QPA_PLATFORM=offscreen
targets=(bench_window_vs_sqlite bench_grid_vs_qtsql bench_grid_reload bench_appserver_vs_libpq)

out="$BUILD_DIR/bench-results"
mkdir -p "$out"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-} \
    >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}" >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log"; exit 1; }

run() {  # run NAME [benchmark options...]
  local name=$1
  shift
  "$BUILD_DIR/bench/$name" --benchmark_out="$out/$name.json" --benchmark_out_format=json "$@" \
    >"$out/$name.log" 2>&1 || { tail -n 20 "$out/$name.log"; exit 1; }
}
single=(--benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true
        --benchmark_min_time=0.3)
run bench_window_vs_sqlite --benchmark_filter='_(Ours|Peer)(/|$)' "${single[@]}"
run bench_grid_vs_qtsql "${single[@]}"
run bench_grid_reload --benchmark_filter='_(Ours|Peer)$' "${single[@]}"
run bench_appserver_vs_libpq --benchmark_filter='_(Ours|Peer)(/|$)' --benchmark_repetitions="$ROUNDS" \
  --benchmark_enable_random_interleaving=true

python3 - "$out" <<'EOF'
import json, os, sys

out = sys.argv[1]
runs = {}
for name in ("bench_window_vs_sqlite", "bench_grid_vs_qtsql", "bench_grid_reload",
             "bench_appserver_vs_libpq"):
    with open(os.path.join(out, name + ".json")) as f:
        for b in json.load(f)["benchmarks"]:
            key = b["run_name"]
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    runs[key] = b
            elif key not in runs:
                runs[key] = b

def find(prefix):
    for key, b in runs.items():
        if key == prefix or key.startswith(prefix + "/"):
            return b
    return None

def value(b, measure):
    if b is None or b.get("error_occurred"):
        return None
    if measure in ("real_time", "cpu_time"):
        return b[measure], b["time_unit"]
    return b.get(measure), None

def line(label, base, measure, unit_name=None, higher_is_better=False, fmt="{:.3g}",
         ours_args="", peer_args=""):
    ours, peer = find(base + "_Ours" + ours_args), find(base + "_Peer" + peer_args)
    compare(label, ("ours", ours), ("peer", peer), measure, unit_name, higher_is_better, fmt)

def compare(label, first, second, measure, unit_name=None, higher_is_better=False,
            fmt="{:.3g}"):
    (first_name, a), (second_name, b) = first, second
    o, p = value(a, measure), value(b, measure)
    if o is None or p is None or o[0] is None or p[0] is None:
        why = next((r.get("error_message", "") for r in (a, b)
                    if r and r.get("error_occurred")), "no result")
        print(f"{label}: not measured ({why})")
        return
    unit = unit_name or o[1]
    ratio = p[0] / o[0] if higher_is_better else o[0] / p[0]
    print(f"{label}: {first_name} {fmt.format(o[0])} {unit}, {second_name} {fmt.format(p[0])} "
          f"{unit}, ratio {ratio:.2f}")

line("detail_query_10k", "BM_DetailQuery10k", "cpu_time")
line("detail_query_10k_grpc", "BM_DetailQuery10kGrpc", "real_time")
line("product_grid_paint_scroll", "BM_ProductGridPaintScroll", "cpu_time")
line("save_50_increments", "BM_Save50Increments", "real_time")
line("detail_edit_10k", "BM_DetailEdit10k", "cpu_time")

# The concurrent pairs: clients, daemons and layout in the run names.
def ours(clients, daemons=1, one_product=0):
    return f"/clients:{clients}/daemons:{daemons}/one_product:{one_product}"

def peer(clients, one_product=0):
    return f"/clients:{clients}/one_product:{one_product}"

label = next((b.get("label") for k, b in runs.items() if k.startswith("BM_ConcurrentPg")), None)
print(f"concurrent pairs: PostgreSQL with {label or 'unknown durability'}")
for clients in (8, 32):
    for daemons in (1, 2):
        name = f"concurrent_{clients}_clients_pg" + ("" if daemons == 1 else "_2_daemons")
        line(f"{name} p99", "BM_ConcurrentPg", "p99_ms", "ms",
             ours_args=ours(clients, daemons), peer_args=peer(clients))
        line(f"{name} requests/s", "BM_ConcurrentPg", "workflows_per_s", "workflows/s",
             higher_is_better=True, fmt="{:.1f}", ours_args=ours(clients, daemons),
             peer_args=peer(clients))
# CPU per workflow of each party (the processes' own accounting): the ratio that does
# not depend on how many cores the machine has.
def cpu_text(b, parties):
    return ", ".join(f"{name} {b[key]:.2f}" for name, key in parties)
for clients in (8, 32):
    for daemons in (1, 2):
        o = find("BM_ConcurrentPg_Ours" + ours(clients, daemons))
        p = find("BM_ConcurrentPg_Peer" + peer(clients))
        name = f"concurrent_{clients}_clients_pg" + ("" if daemons == 1 else "_2_daemons")
        if any(value(b, "cpu_ms") in (None, (None, None)) for b in (o, p)):
            print(f"{name} CPU per workflow: not measured")
            continue
        print(f"{name} CPU per workflow: ours {o['cpu_ms']:.2f} ms ("
              + cpu_text(o, [("PostgreSQL", "cpu_pg_ms"), ("daemon", "cpu_daemon_ms"),
                             ("clients", "cpu_client_ms")])
              + f"), peer {p['cpu_ms']:.2f} ms ("
              + cpu_text(p, [("PostgreSQL", "cpu_pg_ms"), ("clients", "cpu_client_ms")])
              + f"), ratio {o['cpu_ms'] / p['cpu_ms']:.2f}")
per_s = dict(measure="workflows_per_s", unit_name="workflows/s", higher_is_better=True,
             fmt="{:.1f}")
# Above 1: the second layout gives more; the targets are >= 2 and >= 1.
compare("concurrent_8_clients_pg 8 products vs 1 product, ours",
        ("1 product", find("BM_ConcurrentPg_Ours" + ours(8, 1, 1))),
        ("8 products", find("BM_ConcurrentPg_Ours" + ours(8))), **per_s)
compare("concurrent_8_clients_pg 8 products vs 1 product, peer",
        ("1 product", find("BM_ConcurrentPg_Peer" + peer(8, 1))),
        ("8 products", find("BM_ConcurrentPg_Peer" + peer(8))), **per_s)
for clients in (8, 32):
    compare(f"concurrent_{clients}_clients_pg 2 daemons vs 1",
            ("1 daemon", find("BM_ConcurrentPg_Ours" + ours(clients, 1))),
            ("2 daemons", find("BM_ConcurrentPg_Ours" + ours(clients, 2))), **per_s)
EOF
