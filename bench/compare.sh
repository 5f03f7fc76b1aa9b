#!/usr/bin/env bash
# Measures the copy pass against cp and rsync, side by side in one run, on reproducible trees:
#   initial copy of 50,000 small files (1-8 KiB in 2,500 folders up to 5 deep), also until its
#   data is on the disk (cp and tarnwick followed by sync -f, rsync --fsync), and of 20 files
#   of 50 MiB, an unchanged rescan (also with cold caches, as root), a rescan with 1 % of the
#   files changed, and the peak memory of an initial copy of 20,000 and of 200,000 files.
# "tarnwick" is the pass as it runs, "1 thread" the same pass on a single thread. Given the
# program too, the first copy and the unchanged rescan of the small files also run as
# `tarnwick --synchronize` with one group from the same source into the same destination.
# Times are medians of several runs (hyperfine). As root the trees live on a fresh ext4 file
# system in a loop-mounted image, removed again at the end.
#
#   bench/compare.sh [path of tarnwick-bench-pair [path of tarnwick]]
# Environment: RUNS (runs per timed case, default 5), BENCH_DIR (where the work folder goes,
# default /var/tmp).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
pair=${1:-$repo/build-b/bench/tarnwick-bench-pair}
runs=${RUNS:-5}
[[ -x $pair ]] || { echo "no benchmark driver at $pair (build tarnwick-bench-pair)" >&2; exit 1; }
for tool in hyperfine rsync cp python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
pair=$(realpath "$pair")
program=${2:+$(realpath "$2")}

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/tarnwick-bench.XXXXXX")
fs=$work/data
cleanup() {
    cd /
    if mountpoint -q "$fs" 2>/dev/null; then
        umount "$fs" || umount -l "$fs"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$fs"
if [[ $(id -u) == 0 ]]; then
    truncate -s 8G "$work/fs.img"
    mkfs.ext4 -q -N 600000 -E lazy_itable_init=0,lazy_journal_init=0 "$work/fs.img"
    mount -o loop "$work/fs.img" "$fs"
    echo "file system: fresh ext4 in a loop-mounted image"
else
    echo "file system: $(df --output=fstype "$fs" | tail -1) under $work (not root: no fresh file system)"
fi
echo "machine: $(nproc) cores, $(uname -r); runs per case: $runs"
echo

echo "generating trees ..."
python3 "$here/make_tree.py" "$fs/small" --files 50000 --folders 2500 --depth 5 \
    --min-size 1KiB --max-size 8KiB --seed 1
python3 "$here/make_tree.py" "$fs/big" --files 20 --folders 1 \
    --min-size 50MiB --max-size 50MiB --seed 2
python3 "$here/make_tree.py" "$fs/mem20k" --files 20000 --folders 200 --depth 3 \
    --min-size 0 --max-size 1KiB --seed 3
python3 "$here/make_tree.py" "$fs/mem200k" --files 200000 --folders 2000 --depth 3 \
    --min-size 0 --max-size 1KiB --seed 4
sync

# The program beside its settings: one group, the small tree into dst with its subfolders.
synchronize=()
if [[ -n $program ]]; then
    mkdir -p "$work/app"
    cp "$program" "$work/app/tarnwick"
    drive() { local p=${1//\//\\}; echo "C:$p"; }
    computer=$(uname -n | cut -d. -f1 | cut -c1-15 | tr a-z A-Z)
    printf '[1_%s]\n1_PATH=%s\n1_TYPE=3\n1_SERIAL=\n1_MERGE=0\n1_SUBDIR=1\n' \
        "$computer" "$(drive "$fs/small")" >"$work/app/tarnwick.INI"
    printf '2_PATH=%s\n2_TYPE=3\n2_SERIAL=\n2_MERGE=0\n2_SUBDIR=1\n' "$(drive "$fs/dst")" \
        >>"$work/app/tarnwick.INI"
    synchronize=("synchronize=$work/app/tarnwick --synchronize")
fi

# One comparison; NAME=COMMAND pairs after the case name, the prepare command and the number of
# warm-up rounds. The machine is shared, so the tools take turns: each round runs every command
# once (hyperfine, without a shell; a prepare step is a script), in an order that rotates from
# round to round, and the figure of a tool is the median over the rounds.
results=$work/results
mkdir -p "$results"
measure() {
    local case=$1 prepare=$2 warmup=$3
    shift 3
    local named=("$@") count=$#
    local prepareArgs=()
    [[ -n $prepare ]] && prepareArgs=(--prepare "$prepare")
    for ((round = 1 - warmup; round <= runs; round++)); do
        local args=()
        for ((i = 0; i < count; i++)); do
            local pick=${named[$(((i + round + warmup) % count))]}
            args+=(-n "${pick%%=*}" "${pick#*=}")
        done
        local export=/dev/null
        ((round >= 1)) && export=$results/$case.$round.json
        hyperfine -N --style none --runs 1 "${prepareArgs[@]}" --export-json "$export" \
            "${args[@]}" >/dev/null
    done
    echo "  $case done"
}

fresh() {  # folder -> a script that empties it
    local script=$work/fresh-$(basename "$1").sh
    printf 'rm -rf %q && mkdir %q && sync\n' "$1" "$1" >"$script"
    echo "bash $script"
}

echo "measuring (medians of $runs interleaved rounds) ..."
# Initial copies: each run starts from an empty destination.
measure initial-small "$(fresh "$fs/dst")" 0 \
    "tarnwick=$pair $fs/small $fs/dst --subfolders" \
    "single=$pair $fs/small $fs/dst --subfolders --workers 1" \
    "cp=cp -r --preserve=timestamps $fs/small/. $fs/dst/" \
    "rsync=rsync -rt $fs/small/ $fs/dst/" "${synchronize[@]}"
# The same first copy until its data is on the disk: tarnwick names a copy only once its data is
# there, cp and rsync promise that only with a flush of the volume afterwards (rsync --fsync,
# a flush per file, takes a minute or more here).
# sync -f flushes the whole file system of the trees, whichever destination a case uses.
printf '%q "$@" >/dev/null && sync -f %q\n' "$pair" "$fs" >"$work/tarnwick-sync.sh"
printf 'cp "$@" && sync -f %q\n' "$fs" >"$work/cp-sync.sh"
printf 'rsync "$@" && sync -f %q\n' "$fs" >"$work/rsync-sync.sh"
measure initial-durable "$(fresh "$fs/dst")" 0 \
    "tarnwick=bash $work/tarnwick-sync.sh $fs/small $fs/dst --subfolders" \
    "single=bash $work/tarnwick-sync.sh $fs/small $fs/dst --subfolders --workers 1" \
    "cp=bash $work/cp-sync.sh -r --preserve=timestamps $fs/small/. $fs/dst/" \
    "rsync=bash $work/rsync-sync.sh -rt $fs/small/ $fs/dst/"
measure initial-big "$(fresh "$fs/dstbig")" 0 \
    "tarnwick=$pair $fs/big $fs/dstbig --subfolders" \
    "single=$pair $fs/big $fs/dstbig --subfolders --workers 1" \
    "cp=cp -r --preserve=timestamps $fs/big/. $fs/dstbig/" \
    "rsync=rsync -rt $fs/big/ $fs/dstbig/"
measure initial-big-durable "$(fresh "$fs/dstbig")" 0 \
    "tarnwick=bash $work/tarnwick-sync.sh $fs/big $fs/dstbig --subfolders" \
    "single=bash $work/tarnwick-sync.sh $fs/big $fs/dstbig --subfolders --workers 1" \
    "cp=bash $work/cp-sync.sh -r --preserve=timestamps $fs/big/. $fs/dstbig/" \
    "rsync=bash $work/rsync-sync.sh -rt $fs/big/ $fs/dstbig/"
rm -rf "$fs/dstbig"

# Rescans of an up-to-date destination.
rm -rf "$fs/dst" && mkdir "$fs/dst" && "$pair" "$fs/small" "$fs/dst" --subfolders >/dev/null
measure rescan-unchanged "" 1 \
    "tarnwick=$pair $fs/small $fs/dst --subfolders" \
    "single=$pair $fs/small $fs/dst --subfolders --workers 1" \
    "rsync=rsync -rtu $fs/small/ $fs/dst/" \
    "cp=cp -ru --preserve=timestamps $fs/small/. $fs/dst/" "${synchronize[@]}"
# The same with nothing in the caches: every folder and inode is read from the disk.
cold=no
if [[ $(id -u) == 0 && -w /proc/sys/vm/drop_caches ]]; then
    cold=yes
    printf 'sync && echo 3 >/proc/sys/vm/drop_caches\n' >"$work/drop.sh"
    measure rescan-cold "bash $work/drop.sh" 0 \
        "tarnwick=$pair $fs/small $fs/dst --subfolders" \
        "single=$pair $fs/small $fs/dst --subfolders --workers 1" \
        "rsync=rsync -rtu $fs/small/ $fs/dst/" \
        "cp=cp -ru --preserve=timestamps $fs/small/. $fs/dst/"
fi

# 1 % of the files changed: before each run every hundredth destination file is made old, so
# that each tool copies those 500 files again.
(cd "$fs/dst" && find . -type f | sort | awk 'NR % 100 == 0' >"$work/changed.txt")
printf 'cd %q && xargs -d %q -a %q touch -m -d 2001-01-01\n' "$fs/dst" '\n' "$work/changed.txt" \
    >"$work/age.sh"
measure rescan-1pct "bash $work/age.sh" 0 \
    "tarnwick=$pair $fs/small $fs/dst --subfolders" \
    "single=$pair $fs/small $fs/dst --subfolders --workers 1" \
    "rsync=rsync -rtu $fs/small/ $fs/dst/" \
    "cp=cp -ru --preserve=timestamps $fs/small/. $fs/dst/"
[[ $("$pair" "$fs/small" "$fs/dst" --subfolders) == "copied 0" ]] ||
    { echo "the destination differs from the source after the rescans" >&2; exit 1; }
rm -rf "$fs/dst"

# Peak memory of an initial copy (KiB, one run each: the figure does not depend on the load).
peak() {  # tree tool
    local tree=$1 tool=$2 dst=$fs/dstmem
    rm -rf "$dst" && mkdir "$dst" && sync
    case $tool in
        tarnwick) /usr/bin/time -f %M -o "$work/rss" "$pair" "$fs/$tree" "$dst" --subfolders >/dev/null ;;
        cp) /usr/bin/time -f %M -o "$work/rss" cp -r --preserve=timestamps "$fs/$tree/." "$dst/" ;;
        rsync) /usr/bin/time -f %M -o "$work/rss" rsync -rt "$fs/$tree/" "$dst/" ;;
    esac
    echo "$tree $tool $(tail -1 "$work/rss")" >>"$results/memory.txt"
}
for tree in mem20k mem200k; do
    for tool in tarnwick cp rsync; do
        peak "$tree" "$tool"
    done
done
rm -rf "$fs/dstmem"
echo "  peak-memory done"
echo

python3 - "$results" "$cold" <<'EOF'
import json, os, statistics, sys

results = sys.argv[1]
cold = sys.argv[2] == "yes"

def medians(case):
    times = {}
    for name in os.listdir(results):
        if name.startswith(case + ".") and name.endswith(".json"):
            with open(os.path.join(results, name)) as f:
                for r in json.load(f)["results"]:
                    times.setdefault(r["command"], []).extend(r["times"])
    return {command: statistics.median(values) for command, values in times.items()}

rows = [
    ("initial copy, 50,000 small files", "initial-small", ["cp", "rsync"]),
    ("  the same until on disk (1)", "initial-durable", ["cp", "rsync"]),
    ("initial copy, 20 files of 50 MiB", "initial-big", ["cp", "rsync"]),
    ("  the same until on disk (1)", "initial-big-durable", ["cp", "rsync"]),
    ("unchanged rescan", "rescan-unchanged", ["rsync", "cp"]),
] + ([("unchanged rescan, cold caches", "rescan-cold", ["rsync", "cp"])] if cold else []) + [
    ("rescan, 1 % changed", "rescan-1pct", ["rsync", "cp"]),
]
print(f"{'case':34} {'tarnwick':>10} {'1 thread':>10} {'cp':>10} {'rsync':>10}   "
      "ratios (other / tarnwick)")
figures = {}
for title, case, others in rows:
    m = medians(case)
    figures[case] = m
    ratios = "  ".join(f"{o} {m[o] / m['tarnwick']:.2f}x" for o in ["single"] + others)
    print(f"{title:34} {m['tarnwick']:9.3f}s {m['single']:9.3f}s {m['cp']:9.3f}s "
          f"{m['rsync']:9.3f}s   {ratios}")

print("(1) each followed by sync -f DEST")

memory = {}
with open(os.path.join(results, "memory.txt")) as f:
    for line in f:
        tree, tool, kib = line.split()
        memory[(tree, tool)] = int(kib)
print()
print(f"{'peak memory (max RSS)':34} {'tarnwick':>10} {'cp':>10} {'rsync':>10}")
for tree, title in (("mem20k", "initial copy, 20,000 files"), ("mem200k", "initial copy, 200,000 files")):
    print(f"{title:34} " + " ".join(f"{memory[(tree, t)]:>7} KiB" for t in ("tarnwick", "cp", "rsync")))
growth = {t: memory[("mem200k", t)] - memory[("mem20k", t)] for t in ("tarnwick", "cp", "rsync")}
print(f"{'growth 20,000 -> 200,000':34} " + " ".join(f"{growth[t]:>7} KiB" for t in ("tarnwick", "cp", "rsync")))

def check(label, ok, detail):
    print(f"  [{'met' if ok else 'MISSED'}] {label}: {detail}")

print()
print("targets:")
r = figures["rescan-unchanged"]
check("unchanged rescan >= 3x faster than rsync -rtu", r["rsync"] / r["tarnwick"] >= 3,
      f"{r['rsync'] / r['tarnwick']:.2f}x")
if cold:
    c = figures["rescan-cold"]
    check("cold rescan >= 2x faster than rsync -rtu cold", c["rsync"] / c["tarnwick"] >= 2,
          f"{c['rsync'] / c['tarnwick']:.2f}x")
# The pass itself returns only when every copy is on the disk under its name.
s = figures["initial-small"]
check("initial copy of small files, durable, <= 0.8x plain cp", s["tarnwick"] <= 0.8 * s["cp"],
      f"{s['tarnwick'] / s['cp']:.2f} of cp's time")
d = figures["initial-durable"]
check("the same <= 0.6x cp + sync -f", s["tarnwick"] <= 0.6 * d["cp"],
      f"{s['tarnwick'] / d['cp']:.2f} of the time of cp + sync")
b = figures["initial-big"]
check("50 MiB files within 1.05x of cp", b["tarnwick"] <= 1.05 * b["cp"],
      f"{b['tarnwick'] / b['cp']:.2f} of cp's time")
# Each round of the plain case leaves the data of cp and rsync unflushed, and a flush of the
# volume (the pass's) pays for it: the rounds that end on the disk compare like with like.
bd = figures["initial-big-durable"]
check("50 MiB files until on disk within 1.05x of cp + sync -f",
      bd["tarnwick"] <= 1.05 * bd["cp"], f"{bd['tarnwick'] / bd['cp']:.2f} of the time of cp + sync")
check("peak memory at 200,000 files within 2 MiB of 20,000", growth["tarnwick"] <= 2048,
      f"{growth['tarnwick']} KiB more")
for case, title in (("initial-small", "first copy"), ("rescan-unchanged", "unchanged rescan")):
    m = figures[case]
    if "synchronize" in m:
        check(f"tarnwick --synchronize, {title}, within 1.05x of the pass",
              m["synchronize"] <= 1.05 * m["tarnwick"],
              f"{m['synchronize']:.3f}s against {m['tarnwick']:.3f}s, "
              f"{m['synchronize'] / m['tarnwick']:.3f}x")
EOF
