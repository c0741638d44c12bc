#!/usr/bin/env python3
"""Medians of the Google Benchmark JSON files from bench/run.sh, our figures against giflib's from
the same run, and the targets: LZW at least 3x giflib's throughput, popularity reduction of the
1920x1080 frame at least 250 Mpixel/s."""
import json
import sys

LZW_RATIO_TARGET = 3.0
REDUCE_TARGET_MPX = 250.0


def medians(path):
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b
    return out


def verdict(ok):
    return "ok" if ok else "MISSED"


def main(lzw_json, reduce_json):
    lzw = medians(lzw_json)
    print("LZW, MB/s of 8-bit indices in (medians):")
    for name in sorted(lzw):
        if not name.startswith("lzw_ours/"):
            continue
        data_set = name.split("/", 1)[1]
        ours = lzw[name]["bytes_per_second"] / 1e6
        peer = lzw.get("lzw_giflib/" + data_set)
        if peer is None:
            continue
        peer_rate = peer["bytes_per_second"] / 1e6
        ratio = ours / peer_rate
        line = f"  {data_set:20s} ours {ours:7.1f}  giflib {peer_rate:7.1f}  ratio {ratio:5.2f}"
        if data_set == "seq720_popularity":
            line += f"  (target >= {LZW_RATIO_TARGET:.0f}x: {verdict(ratio >= LZW_RATIO_TARGET)})"
        print(line)

    reduce = medians(reduce_json)
    print("Colour reduction, Mpixel/s (medians):")
    for name in sorted(reduce):
        rate = reduce[name]["items_per_second"] / 1e6
        line = f"  {name:32s} {rate:7.1f}"
        if name == "popularity/desktop1080":
            line += f"  (target >= {REDUCE_TARGET_MPX:.0f}: {verdict(rate >= REDUCE_TARGET_MPX)})"
        print(line)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: summarize.py LZW_BENCH.json REDUCE_BENCH.json")
    main(sys.argv[1], sys.argv[2])
