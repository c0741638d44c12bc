#!/usr/bin/env python3
"""Medians of the Google Benchmark JSON files from bench/run.sh, our figures against giflib's from
the same run, and the targets: LZW at least 3x giflib's throughput, popularity reduction of the
1920x1080 frame at least 250 Mpixel/s, decoding every frame of the 60-frame animation at least
1.5x giflib's pixel throughput, and indexing the ~50 MB animation in under 5% of giflib's time."""
import json
import sys

LZW_RATIO_TARGET = 3.0
REDUCE_TARGET_MPX = 250.0
DECODE_RATIO_TARGET = 1.5
INDEX_SHARE_TARGET = 0.05


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


def reader(reader_json):
    r = medians(reader_json)
    ours = r["decode_ours"]["items_per_second"] / 1e6
    peer = r["decode_giflib"]["items_per_second"] / 1e6
    ratio = ours / peer
    print("Reader, decoding all 60 frames of seq720 (GetGifData against DGifSlurp), Mpixel/s (medians):")
    print(f"  ours {ours:7.1f}  giflib {peer:7.1f}  ratio {ratio:5.2f}"
          f"  (target >= {DECODE_RATIO_TARGET}x: {verdict(ratio >= DECODE_RATIO_TARGET)})")
    first = r["index_ours/cold"]
    print(f"Reader, LoadGif of {first['gif_bytes'] / 1e6:.1f} MB ({first['frames']:.0f} frames) against DGifSlurp,"
          f" {first['time_unit']} (medians; cold: every page fresh from the system, warm: memory reused):")
    for memory in ("cold", "warm"):
        ours = r[f"index_ours/{memory}"]["real_time"]
        peer = r[f"index_giflib/{memory}"]["real_time"]
        share = ours / peer
        print(f"  {memory}  LoadGif {ours:8.1f}  giflib {peer:8.1f}  share {100 * share:5.1f}%"
              f"  (target < {100 * INDEX_SHARE_TARGET:.0f}%: {verdict(share < INDEX_SHARE_TARGET)})")
    print(f"  of which the walk over the blocks {r['index_walk']['real_time']:8.1f},"
          f" the copy of the bytes {r['copy/cold']['real_time']:.1f} cold, {r['copy/warm']['real_time']:.1f} warm")


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: summarize.py LZW_BENCH.json REDUCE_BENCH.json [READER_BENCH.json]")
    main(sys.argv[1], sys.argv[2])
    if len(sys.argv) == 4:
        reader(sys.argv[3])
