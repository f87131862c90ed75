#!/usr/bin/env python3
"""Turns the results of bench/run_all.sh (Google Benchmark and hyperfine JSON) into the Markdown
tables of bench/README.md: every figure with its ratio to the limit and to each peer."""
import json
import os
import re
import sys

out = sys.argv[1] if len(sys.argv) > 1 else "/tmp/quillmarsh-bench/results"


def load_gbench(name):
    path = os.path.join(out, name + ".json")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        key = re.sub(r"/(iterations:\d+|real_time|repeats:\d+)", "", b.get("run_name", b["name"]))
        rows[key] = b
    return rows


def ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b["real_time"] * scale


def ratio(a, b):
    return "n/a" if not a or not b else f"{a / b:.2f}x"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in r) + " |" for r in rows]
    return "\n".join(lines)


print("## Results\n")
machine = os.path.join(out, "machine.txt")
if os.path.exists(machine):
    print("```")
    print(open(machine).read().rstrip())
    print("```\n")

# --- packing, in-process ---
pack = load_gbench("pack")
if pack:
    mbs = {k: v.get("bytes_per_second", 0) / 1e6 for k, v in pack.items()}
    limit = mbs.get("BM_Pack_Limit_Zstd3/threads:1")
    limit2 = mbs.get("BM_Pack_Limit_Zstd3/threads:2")
    libzip = mbs.get("BM_Pack_Libzip/zstd:0")
    labels = [
        ("BM_Pack_Limit_Zstd3/threads:1", "limit: zstd -3 in memory, nothing written"),
        ("BM_Pack_Limit_Zstd3/threads:2", "the same limit on 2 threads"),
        ("BM_Pack_Qma/workers:0/buffer_KiB:0", "QmaStreamWriter (defaults: 1 thread, a write per add)"),
        ("BM_Pack_Qma/workers:0/buffer_KiB:1024", "QmaStreamWriter, 1 thread, 1 MiB write buffer"),
        ("BM_Pack_Qma/workers:1/buffer_KiB:1024", "QmaStreamWriter, 1 worker, 1 MiB write buffer"),
        ("BM_Pack_Qma/workers:2/buffer_KiB:1024", "QmaStreamWriter, 2 workers, 1 MiB write buffer"),
        ("BM_Pack_Qma/workers:2/buffer_KiB:0", "QmaStreamWriter, 2 workers, a write per entry"),
        ("BM_Pack_Libzip/zstd:0", "libzip, deflate (default level)"),
        ("BM_Pack_Libzip/zstd:1", "libzip, zstd level 3"),
    ]
    rows = []
    for key, label in labels:
        if key in mbs:
            out_mb = pack[key].get("output_MB", 0)
            rows.append([label, f"{mbs[key]:.1f}", f"{out_mb:.1f}", ratio(mbs[key], limit), ratio(mbs[key], limit2),
                         ratio(mbs[key], libzip)])
    files = next(iter(pack.values())).get("files", 0)
    input_mb = next(iter(pack.values())).get("input_MB", 0)
    print(f"### Packing in-process ({files:.0f} files, {input_mb:.1f} MB)\n")
    print(table(["writer", "MB/s of input", "output MB", "x limit", "x 2-thread limit", "x libzip deflate"], rows))
    print()

# --- packing, whole process ---
hf_path = os.path.join(out, "hyperfine_pack.json")
if os.path.exists(hf_path):
    with open(hf_path) as f:
        hf = {r["command"]: r for r in json.load(f)["results"]}
    corpus_bytes = 0
    info = os.path.join(out, "corpus.txt")
    if os.path.exists(info):
        m = re.search(r"(\d+) bytes", open(info).read())
        corpus_bytes = int(m.group(1)) if m else 0
    speed = {c: corpus_bytes / 1e6 / r["median"] for c, r in hf.items()}
    limit = (pack.get("BM_Pack_Limit_Zstd3/threads:1", {}).get("bytes_per_second", 0) / 1e6) if pack else 0
    rows = []
    for c, r in hf.items():
        rows.append([c, f"{r['median']:.2f}", f"{speed[c]:.1f}", ratio(speed[c], limit),
                     ratio(speed[c], speed.get("zip -r")), ratio(speed[c], speed.get("tar --zstd"))])
    print(f"### Packing the corpus tree, whole process (hyperfine, median)\n")
    print(table(["command", "seconds", "MB/s of input", "x limit", "x zip -r", "x tar --zstd"], rows))
    sizes = os.path.join(out, "hyperfine_pack_sizes.txt")
    if os.path.exists(sizes):
        print("\nOutput sizes (bytes): " + "; ".join(
            f"{l.split()[-1].rsplit('/', 1)[-1]} {l.split()[4]}" for l in open(sizes).read().splitlines() if l))
    print()

# --- random reads ---
lookup = load_gbench("lookup")
if lookup:
    ips = {k: v.get("items_per_second", 0) for k, v in lookup.items()}
    limit = ips.get("BM_Lookup_Limit")
    libzip = ips.get("BM_Lookup_Libzip")
    labels = [
        ("BM_Lookup_Limit", "limit: in-memory offset map + pread + decompress"),
        ("BM_Lookup_Qma_File", "QmaReader::open (plain file)"),
        ("BM_Lookup_Qma_Mapped", "QmaReader::open_mapped"),
        ("BM_Lookup_Libzip", "libzip: zip_stat by name + zip_fopen_index + zip_fread"),
    ]
    rows = [[label, f"{ips[k]:,.0f}", f"{1e6 / ips[k]:.2f}", ratio(ips[k], limit), ratio(ips[k], libzip)]
            for k, label in labels if ips.get(k)]
    print("### Random lookups with reads (10,000 random files of the corpus per iteration)\n")
    print(table(["reader", "lookups/s", "us/lookup", "x limit", "x libzip"], rows))
    print()

# --- growth ---
growth = load_gbench("growth")
if growth:
    sizes = [1000, 10000, 100000, 1000000]
    kinds = [("BM_Growth_Find_File", "find, file"), ("BM_Growth_Find_Mapped", "find, mapped"),
             ("BM_Growth_Get_File", "find+read, file"), ("BM_Growth_Get_Mapped", "find+read, mapped"),
             ("BM_Growth_Open_File", "open, file"), ("BM_Growth_Open_Mapped", "open, mapped")]
    rows = []
    for prefix, label in kinds:
        vals = [growth.get(f"{prefix}/{n}") for n in sizes]
        cells = [f"{ns(v):,.0f}" if v else "-" for v in vals]
        rows.append([label + " (ns)"] + cells + [ratio(ns(vals[-1]), ns(vals[0])) if vals[0] and vals[-1] else "n/a"])
    heap = [growth.get(f"BM_Growth_Open_File/{n}", {}).get("reader_heap_B") for n in sizes]
    rows.append(["reader heap after open (B)"] + [f"{h:.0f}" if h is not None else "-" for h in heap] +
                [ratio(heap[-1], heap[0]) if heap[0] else "n/a"])
    for mode in ("File", "Mapped"):
        after = [growth.get(f"BM_Growth_Open_{mode}/{n}", {}).get("reader_heap_after_lookups_B") for n in sizes]
        if any(a is not None for a in after):
            rows.append([f"reader heap after 4,096 lookups, {mode.lower()} (B)"] +
                        [f"{a:,.0f}" if a is not None else "-" for a in after] +
                        [ratio(after[-1], after[0]) if after[0] else "n/a"])
    wmem = [growth.get(f"BM_Growth_Write/{n}", {}).get("writer_heap_B_per_entry") for n in sizes]
    rows.append(["writer heap per entry (B)"] + [f"{w:.0f}" if w is not None else "-" for w in wmem] +
                [ratio(wmem[-1], wmem[0]) if wmem[0] else "n/a"])
    print("### Growth with the entry count (one namespace, 8-byte entries)\n")
    print(table(["", "1 K", "10 K", "100 K", "1 M", "1 M / 1 K"], rows))
    print()

# --- tools ---
tools = load_gbench("tools")
if tools:
    rows = []
    groups = [("BM_Tool_Kinematics", "tables", "kinematics derivation + encoding", "table (25 animations)"),
              ("BM_Tool_BootShardPlan", "files", "boot-shard plan", "bundle file"),
              ("BM_Tool_SpellExport", "spells", "spell export (records)", "spell"),
              ("BM_Tool_SpellExportJson", "spells", "spell export + JSON text", "spell")]
    for prefix, arg, label, unit in groups:
        runs = sorted(((int(k.split(":")[-1]), v) for k, v in tools.items()
                       if k.startswith(prefix + "/" + arg + ":")), key=lambda t: t[0])
        if not runs:
            continue
        base = None
        for n, b in runs:
            items = b.get("bundle_files", n) if prefix == "BM_Tool_BootShardPlan" else n
            per = ns(b) / items
            base = base or per
            rows.append([label, f"{items:,.0f}", f"{ns(b) / 1e6:.2f}", f"{per:,.0f} ns per {unit}", ratio(per, base)])
    print("### Tools against input size (cost per input item; flat means linear)\n")
    print(table(["tool", "input items", "ms", "cost per item", "per item vs smallest"], rows))
    print()
