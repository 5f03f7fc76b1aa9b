#!/usr/bin/env python3
"""Writes a reproducible tree of files for the benchmark.

The same arguments give the same folders, names, sizes, contents and last-write times."""

import argparse
import os
import random

BASE_TIME = 1577836800  # 2020-01-01 00:00:00 UTC


def size_value(text):
    units = {"k": 1024, "m": 1024 * 1024}
    text = text.lower().removesuffix("ib").removesuffix("b")
    if text and text[-1] in units:
        return int(text[:-1]) * units[text[-1]]
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root")
    parser.add_argument("--files", type=int, required=True)
    parser.add_argument("--folders", type=int, default=1, help="folders, the root included")
    parser.add_argument("--depth", type=int, default=5, help="deepest level below the root")
    parser.add_argument("--min-size", type=size_value, default=1024)
    parser.add_argument("--max-size", type=size_value, default=8192)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    folders = [("", 0)]
    while len(folders) < args.folders:
        parent, depth = rng.choice(folders)
        if depth >= args.depth:
            continue
        name = os.path.join(parent, f"d{len(folders):05d}")
        folders.append((name, depth + 1))
    for name, _ in folders:
        os.makedirs(os.path.join(args.root, name), exist_ok=True)

    # One block of pseudo-random bytes, varied per file, keeps large trees quick to write.
    block = rng.randbytes(1 << 20)
    for index in range(args.files):
        folder, _ = folders[index % len(folders)] if index < len(folders) else rng.choice(folders)
        size = rng.randint(args.min_size, args.max_size)
        path = os.path.join(args.root, folder, f"f{index:06d}.bin")
        with open(path, "wb") as out:
            out.write(index.to_bytes(8, "little")[:size])
            remaining = size - 8
            while remaining > 0:
                out.write(block[: min(remaining, len(block))])
                remaining -= len(block)
        stamp = BASE_TIME + index
        os.utime(path, (stamp, stamp))


if __name__ == "__main__":
    main()
