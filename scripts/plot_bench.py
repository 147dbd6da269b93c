#!/usr/bin/env python3
"""Plots the installation benchmark: time of one installation against the
number of soft-font entries written (F x P), log-log, one line per port
count, with the floor (reading the kit, writing the result once) dashed
beside each, and the Windows build under Wine where it was measured.

Reads the JSON that install_bench writes (--pfm-json) and writes an SVG by
hand, so that it needs nothing beyond Python itself.

    plot_bench.py build/bench/results.json build/bench/performance.svg
"""
import json
import math
import sys

WIDTH, HEIGHT = 760, 500
LEFT, RIGHT, TOP, BOTTOM = 80, 190, 50, 60
COLOURS = {1: "#1f77b4", 8: "#d62728", 64: "#2ca02c"}


def log_ticks(low, high):
    first = math.floor(math.log10(low))
    last = math.ceil(math.log10(high))
    return [10.0 ** e for e in range(first, last + 1)]


def tick_text(value, unit):
    if unit == "ms":
        if value >= 1000:
            return "%g s" % (value / 1000)
        if value < 1:
            return "%g ms" % value
        return "%g ms" % value
    if value >= 1e6:
        return "%gM" % (value / 1e6)
    if value >= 1e3:
        return "%gk" % (value / 1e3)
    return "%g" % value


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1]) as f:
        data = json.load(f)

    grid = [s for s in data["scenarios"] if s["group"] == "grid" and s["time_s"] > 0]
    if not grid:
        sys.stderr.write("plot_bench.py: no grid scenarios in %s\n" % argv[1])
        return 1
    wine = data.get("wine")

    points = []
    for s in grid:
        points.append((s["fonts"] * s["ports"], s["time_s"] * 1e3))
        points.append((s["fonts"] * s["ports"], s["floor_s"] * 1e3))
    if wine:
        points.append((wine["fonts"] * wine["ports"], wine["wine_time_s"] * 1e3))
    xs = [p[0] for p in points if p[0] > 0]
    ys = [p[1] for p in points if p[1] > 0]
    x_ticks = log_ticks(min(xs), max(xs))
    y_ticks = log_ticks(min(ys), max(ys))
    x_lo, x_hi = math.log10(x_ticks[0]), math.log10(x_ticks[-1])
    y_lo, y_hi = math.log10(y_ticks[0]), math.log10(y_ticks[-1])
    plot_w = WIDTH - LEFT - RIGHT
    plot_h = HEIGHT - TOP - BOTTOM

    def px(x):
        return LEFT + (math.log10(x) - x_lo) / (x_hi - x_lo) * plot_w

    def py(y):
        return TOP + plot_h - (math.log10(y) - y_lo) / (y_hi - y_lo) * plot_h

    out = []
    out.append('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
               'viewBox="0 0 %d %d" font-family="sans-serif" font-size="12">' % (WIDTH, HEIGHT, WIDTH, HEIGHT))
    out.append('<rect width="100%" height="100%" fill="white"/>')
    out.append('<text x="%d" y="24" font-size="15" font-weight="bold">'
               'One installation on the host: time against soft-font entries written (F x P)</text>' % LEFT)

    for t in x_ticks:
        x = px(t)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (x, TOP, x, TOP + plot_h))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x, TOP + plot_h + 18, tick_text(t, "")))
    for t in y_ticks:
        y = py(t)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>' % (LEFT, y, LEFT + plot_w, y))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (LEFT - 6, y + 4, tick_text(t, "ms")))
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#333"/>' % (LEFT, TOP, plot_w, plot_h))
    out.append('<text x="%.1f" y="%d" text-anchor="middle">F x P (soft fonts x matching ports)</text>'
               % (LEFT + plot_w / 2, HEIGHT - 16))
    out.append('<text x="18" y="%.1f" text-anchor="middle" transform="rotate(-90 18 %.1f)">'
               'time of one installation</text>' % (TOP + plot_h / 2, TOP + plot_h / 2))

    legend_y = TOP + 10
    for ports in sorted({s["ports"] for s in grid}):
        colour = COLOURS.get(ports, "#555")
        series = sorted((s for s in grid if s["ports"] == ports), key=lambda s: s["fonts"])
        run = " ".join("%.1f,%.1f" % (px(s["fonts"] * ports), py(s["time_s"] * 1e3)) for s in series)
        floor = " ".join("%.1f,%.1f" % (px(s["fonts"] * ports), py(s["floor_s"] * 1e3)) for s in series)
        out.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="2"/>' % (run, colour))
        out.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="1.2" stroke-dasharray="5,4"/>'
                   % (floor, colour))
        for s in series:
            out.append('<circle cx="%.1f" cy="%.1f" r="3.5" fill="%s"><title>F=%d P=%d: %.2f ms, %.1f x floor'
                       '</title></circle>' % (px(s["fonts"] * ports), py(s["time_s"] * 1e3), colour, s["fonts"],
                                              ports, s["time_s"] * 1e3, s["ratio"]))
        lx = LEFT + plot_w + 16
        out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"/>'
                   % (lx, legend_y, lx + 24, legend_y, colour))
        out.append('<text x="%d" y="%d">P = %d</text>' % (lx + 30, legend_y + 4, ports))
        legend_y += 18
        out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-dasharray="5,4"/>'
                   % (lx, legend_y, lx + 24, legend_y, colour))
        out.append('<text x="%d" y="%d">floor, P = %d</text>' % (lx + 30, legend_y + 4, ports))
        legend_y += 24

    if wine:
        x = px(wine["fonts"] * wine["ports"])
        y = py(wine["wine_time_s"] * 1e3)
        out.append('<path d="M %.1f %.1f l 6 6 l -6 6 l -6 -6 z" fill="#9467bd"><title>Windows build under Wine, '
                   'F=%d P=%d: %.0f ms</title></path>' % (x, y - 6, wine["fonts"], wine["ports"],
                                                          wine["wine_time_s"] * 1e3))
        lx = LEFT + plot_w + 16
        out.append('<path d="M %d %d l 5 5 l -5 5 l -5 -5 z" fill="#9467bd"/>' % (lx + 12, legend_y - 5))
        out.append('<text x="%d" y="%d">Wine, F=%d P=%d</text>' % (lx + 30, legend_y + 4, wine["fonts"],
                                                                    wine["ports"]))
        legend_y += 18
        out.append('<text x="%d" y="%d">(%.0f x the host)</text>' % (lx + 30, legend_y + 4, wine["ratio"]))
        legend_y += 24

    machine = data.get("machine", "")
    out.append('<text x="%d" y="%d" font-size="10" fill="#555">%s</text>'
               % (LEFT, TOP - 8, machine.replace("&", "&amp;").replace("<", "&lt;")))
    out.append("</svg>")
    with open(argv[2], "w") as f:
        f.write("\n".join(out) + "\n")
    print("plot: %s" % argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
