#!/usr/bin/python3
"""Draws bench/run.sh's report as a chart: for each input, bits per byte
against packing and unpacking speed, one marker per program (filled for
packing, open for unpacking, joined by a line).

usage: bench/plot.py [REPORT.md] [-o OUT.svg]
  REPORT.md  the markdown bench/run.sh prints (default $BENCH_DIR/report.md,
             BENCH_DIR defaulting to /tmp/vorb-bench)
  -o OUT     the chart to write (default doc/benchmark.svg); its format
             follows the extension

Needs matplotlib (Debian: python3-matplotlib), only to redraw the chart.
"""

import argparse
import os
import re
import sys

# The columns read from each input's table, by their headings.
WANTED = ("program", "bits/byte", "pack MB/s", "unpack MB/s")
# Machine rows shown under the chart.
MACHINE_ROWS = ("CPU", "cores", "memory", "date", "load average at start", "vorb")


class ReportError(Exception):
    pass


def cells(line):
    """The cells of a markdown table row, or None when the line is not one."""
    line = line.strip()
    if not (line.startswith("|") and line.endswith("|")):
        return None
    return [c.strip() for c in line[1:-1].split("|")]


def parse_report(text):
    """Returns (machine, inputs): machine a dict of the machine table's rows,
    inputs a list of (name, [(program, bits, pack, unpack)]) in report order."""
    machine, inputs = {}, []
    section, heading, rows = None, None, None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("## "):
            section = line[3:].strip()
            heading = rows = None
            continue
        m = re.match(r"^### (\S+)", line)
        if m:
            rows = []
            inputs.append((m.group(1), rows))
            heading = None
            section = "input"
            continue
        row = cells(line)
        if row is None:
            continue
        if section == "Machine" and len(row) == 2 and row[0]:
            machine[row[0]] = row[1]
        elif section == "input" and rows is not None:
            if heading is None:
                missing = [w for w in WANTED if w not in row]
                if missing:
                    raise ReportError(f"line {number}: the table has no column {', '.join(missing)}")
                heading = [row.index(w) for w in WANTED]
            elif not set(row[0]) <= set("-:"):
                try:
                    program = row[heading[0]]
                    bits, pack, unpack = (float(row[i]) for i in heading[1:])
                except (IndexError, ValueError):
                    raise ReportError(f"line {number}: not a row of figures: {line.strip()}")
                rows.append((program, bits, pack, unpack))
    inputs = [(name, rows) for name, rows in inputs if rows]
    if not inputs:
        raise ReportError("no input tables found (is this the output of bench/run.sh?)")
    return machine, inputs


def draw(machine, inputs, out):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    # The same report gives the same file: no date, fixed ids.
    plt.rcParams["svg.hashsalt"] = "vorb-benchmark"
    plt.rcParams["svg.fonttype"] = "none"

    programs = []
    for _, rows in inputs:
        for program, *_ in rows:
            if program not in programs:
                programs.append(program)
    markers = "o s ^ v D P X * h <".split()
    colours = plt.get_cmap("tab10").colors
    style = {p: (markers[i % len(markers)], colours[i % len(colours)]) for i, p in enumerate(programs)}

    columns = 3 if len(inputs) > 4 else 2 if len(inputs) > 1 else 1
    lines = (len(inputs) + columns - 1) // columns
    fig, axes = plt.subplots(lines, columns, figsize=(4.2 * columns, 3.3 * lines + 0.9), squeeze=False)
    for ax in axes.flat[len(inputs):]:
        ax.set_visible(False)
    for ax, (name, rows) in zip(axes.flat, inputs):
        for program, bits, pack, unpack in rows:
            marker, colour = style[program]
            ax.plot([pack, unpack], [bits, bits], color=colour, linewidth=0.8, alpha=0.5)
            ax.plot(pack, bits, marker=marker, color=colour, markersize=7, linestyle="none")
            ax.plot(unpack, bits, marker=marker, markerfacecolor="white", markeredgecolor=colour,
                    markersize=7, linestyle="none")
        ax.set_xscale("log")
        ax.set_title(name, fontsize=10)
        ax.set_xlabel("MB/s (log scale)", fontsize=8)
        ax.set_ylabel("bits per byte", fontsize=8)
        ax.tick_params(labelsize=7)
        ax.grid(True, which="both", linewidth=0.3, alpha=0.5)

    handles = [plt.Line2D([], [], marker=style[p][0], color=style[p][1], linestyle="none", label=p)
               for p in programs]
    handles += [plt.Line2D([], [], marker="o", color="grey", linestyle="none", label="pack"),
                plt.Line2D([], [], marker="o", markerfacecolor="white", markeredgecolor="grey",
                           linestyle="none", label="unpack")]
    ncol = min(len(handles), 5)
    fig.legend(handles=handles, loc="upper center", ncol=ncol, fontsize=8, frameon=False)
    note = "; ".join(f"{k}: {machine[k]}" for k in MACHINE_ROWS if k in machine)
    if note:
        fig.text(0.5, 0.005, note, ha="center", va="bottom", fontsize=7, wrap=True)
    # Room in inches: a legend row is about a fifth of an inch, the note two lines.
    height = fig.get_figheight()
    top = (0.2 * ((len(handles) + ncol - 1) // ncol) + 0.1) / height
    fig.tight_layout(rect=(0, (0.35 if note else 0.05) / height, 1, 1 - top))
    fig.savefig(out, metadata={"Date": None})


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    default = os.path.join(os.environ.get("BENCH_DIR", "/tmp/vorb-bench"), "report.md")
    parser.add_argument("report", nargs="?", default=default)
    parser.add_argument("-o", dest="out", default=os.path.join(os.path.dirname(__file__), "..", "doc", "benchmark.svg"))
    args = parser.parse_args()
    try:
        with open(args.report, encoding="utf-8") as f:
            machine, inputs = parse_report(f.read())
    except OSError as e:
        sys.exit(f"plot: {args.report}: {e.strerror}")
    except ReportError as e:
        sys.exit(f"plot: {args.report}: {e}")
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        sys.exit("plot: matplotlib is missing (Debian: apt-get install python3-matplotlib; run with /usr/bin/python3)")
    draw(machine, inputs, args.out)
    print(f"plot: {args.out}: {len(inputs)} inputs", file=sys.stderr)


if __name__ == "__main__":
    main()
