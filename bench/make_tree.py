#!/usr/bin/env python3
"""Builds a benchmark source tree: FILES files spread over FOLDERS folders
(nested up to three levels), sizes from empty to 64 KiB (or to MAXSIZE
bytes, when given), a mix of ten extensions, some hidden entries and
Japanese names.
    make_tree.py ROOT FILES FOLDERS [MAXSIZE]"""
import os
import random
import sys

def main():
    root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(20261209)
    exts = ["txt", "c", "h", "jpg", "png", "md", "html", "json", "py", "dat"]
    os.makedirs(root, exist_ok=True)
    dirs = [root]
    for i in range(folders - 1):
        parent = rng.choice(dirs) if len(dirs) < 20 or rng.random() < 0.5 else dirs[rng.randrange(max(1, len(dirs) // 4))]
        if parent.count(os.sep) - root.count(os.sep) >= 3:
            parent = root
        name = f"dir{i:04d}" if i % 17 else f"フォルダ{i:04d}"
        path = os.path.join(parent, name)
        os.makedirs(path, exist_ok=True)
        dirs.append(path)
    sizes = [0, 10, 200, 1000, 3000, 8000, 20000, 65536]
    if len(sys.argv) > 4:
        sizes = [s for s in sizes if s <= int(sys.argv[4])]
    payload = os.urandom(65536)
    for i in range(files):
        d = dirs[i % len(dirs)]
        ext = exts[i % len(exts)]
        name = f"file{i:06d}.{ext}" if i % 13 else f"文書{i:06d}.{ext}"
        if i % 101 == 0:
            name = "." + name
        with open(os.path.join(d, name), "wb") as f:
            f.write(payload[: rng.choice(sizes)])

if __name__ == "__main__":
    main()
