#!/usr/bin/env python3
"""Plots the answering pass time against the trial page size from quillory-bench's output.

Usage: bench/plot_pass_time.py BENCH_OUTPUT.txt OUTPUT.svg
Reads the rows "<size> KB page, nested <depth> deep   <time> ms" and draws one line per depth.
Plain SVG, no libraries needed.
"""
import re
import sys

ROW = re.compile(r"^\s*(\d+) KB page, nested (\d+) deep\s+([\d.]+) ms")
COLOURS = ["#d9480f", "#1864ab", "#2b8a3e", "#862e9c"]


def read_points(path):
    series = {}
    with open(path, encoding="utf-8") as bench_output:
        for line in bench_output:
            match = ROW.match(line)
            if match:
                size_kb, depth, ms = int(match[1]), int(match[2]), float(match[3])
                series.setdefault(depth, []).append((size_kb / 1024.0, ms))
    return {depth: sorted(points) for depth, points in sorted(series.items())}


def plot(series, path):
    width, height, left, right, top, bottom = 640, 400, 70, 30, 40, 60
    max_x = max(x for points in series.values() for x, _ in points) * 1.05
    max_y = max(y for points in series.values() for _, y in points) * 1.15
    sx = lambda x: left + (width - left - right) * x / max_x
    sy = lambda y: height - bottom - (height - top - bottom) * y / max_y
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height}" fill="white"/>',
           f'<text x="{width / 2}" y="22" text-anchor="middle" font-size="14">'
           'Answering pass: Alt+Z to the answer written, less the download</text>']
    for i in range(6):
        y = max_y * i / 5
        out.append(f'<line x1="{left}" x2="{width - right}" y1="{sy(y):.1f}" y2="{sy(y):.1f}" stroke="#ddd"/>')
        out.append(f'<text x="{left - 8}" y="{sy(y) + 4:.1f}" text-anchor="end">{y:.0f}</text>')
    for i in range(6):
        x = max_x * i / 5
        out.append(f'<text x="{sx(x):.1f}" y="{height - bottom + 18}" text-anchor="middle">{x:.1f}</text>')
    out.append(f'<text x="{width / 2}" y="{height - 18}" text-anchor="middle">trial page size (MiB)</text>')
    out.append(f'<text x="18" y="{height / 2}" transform="rotate(-90 18 {height / 2})" '
               'text-anchor="middle">ms (median of 5)</text>')
    out.append(f'<line x1="{left}" x2="{left}" y1="{top}" y2="{height - bottom}" stroke="black"/>')
    out.append(f'<line x1="{left}" x2="{width - right}" y1="{height - bottom}" y2="{height - bottom}" '
               'stroke="black"/>')
    for index, (depth, points) in enumerate(series.items()):
        colour = COLOURS[index % len(COLOURS)]
        path_points = " ".join(f"{sx(x):.1f},{sy(y):.1f}" for x, y in points)
        out.append(f'<polyline points="{path_points}" fill="none" stroke="{colour}" stroke-width="2"/>')
        for x, y in points:
            out.append(f'<circle cx="{sx(x):.1f}" cy="{sy(y):.1f}" r="3.5" fill="{colour}"/>')
        out.append(f'<text x="{left + 16}" y="{top + 16 + 16 * index}" fill="{colour}">'
                   f'nested {depth} deep</text>')
    out.append("</svg>")
    with open(path, "w", encoding="utf-8") as svg:
        svg.write("\n".join(out) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    plot(read_points(sys.argv[1]), sys.argv[2])
