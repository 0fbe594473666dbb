#!/usr/bin/python3
"""Tables and the plot of the fault matrix, from the JSON lines bench/fault_matrix wrote.

    fault_matrix_report.py MATRIX.jsonl OUT_DIR

Writes OUT_DIR/matrix.md (markdown tables) and OUT_DIR/pictures_per_second.png (pictures per
second against loss rate, one and two parity packets, both families). The plot needs
python3-matplotlib; without it only the tables are written.
"""
import json
import os
import sys


def load(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def num(value, digits=1):
    if value is None:
        return "–"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def dist(d, digits=0, scale=1.0):
    """median / p90 (max) of a distribution record."""
    if not d or d.get("n", 0) == 0:
        return "–"
    med = d["median"] * scale
    p90 = d["p90"] * scale
    top = d["max"] * scale
    return f"{med:.{digits}f} / {p90:.{digits}f} ({top:.{digits}f})"


def leak(cell):
    b, a = cell.get("before"), cell.get("after")
    if not b or not a:
        return "–", "–"
    return (f"{b['threads']}→{a['threads']}", f"{b['descriptors']}→{a['descriptors']}")


def baseline(cells, family, parity):
    for c in cells:
        if c["family"] == family and c.get("loss_percent") == 0 and c.get("parity") == parity:
            return c.get("pictures_per_s")
    return None


def shown_share(cell):
    """Of the frames that reached the receiver (handed to the decoder, or given up with a
    key-frame request), the share the decoder turned into pictures. Unlike pictures per second
    it does not depend on how many frames a starved simulator managed to send, so cells that
    ran at different moments of a busy machine compare."""
    d, s = cell.get("decoder", {}), cell.get("stats", {})
    seen = d.get("access_units", 0) + s.get("key_frame_requests", 0)
    return 100.0 * d.get("pictures_decoded", 0) / seen if seen else None


def stream_table(cells):
    rows = ["| family | fault | pictures/s (% of loss-free) | received kbit/s | frames shown % "
            "| first picture s "
            "| direct | repairs | key-frame requests | lost frames | late packets | reference gaps "
            "| recovery ms median / p90 (max) | decoder errors | reconnects "
            "| kernel receive-buffer drops | threads | descriptors |",
            "|" + "---|" * 18]
    for c in cells:
        if c["kind"] != "stream" or c.get("replay_checked"):
            continue
        s, d = c.get("stats", {}), c.get("decoder", {})
        pps = c.get("pictures_per_s")
        base = baseline(cells, c["family"], c.get("parity", 2)) if "loss_percent" in c else \
            baseline(cells, c["family"], 2)
        share = f" ({100 * pps / base:.0f} %)" if pps is not None and base else ""
        threads, fds = leak(c)
        rows.append(
            f"| {c['family']} | {c['fault']} | {num(pps)}{share} "
            f"| {num(s.get('received_kbit_s'), 0)} | {num(shown_share(c), 0)} "
            f"| {num(c.get('first_picture_s'))} "
            f"| {s.get('direct', '–')} | {s.get('repairs', '–')} | {s.get('key_frame_requests', '–')} "
            f"| {s.get('lost_frames', '–')} | {s.get('late_packets', '–')} "
            f"| {d.get('reference_gaps', '–')} | {dist(d.get('recovery_ms'))} "
            f"| {d.get('decoder_errors', '–')} | {c.get('reconnects', '–')} "
            f"| {c.get('receive_buffer_drops', '–')} | {threads} | {fds} |"
            + (f" **{c['error']}**" if "error" in c else ""))
    return "\n".join(rows)


def connection_table(cells):
    rows = ["| family | fault | run s | pictures/s | reconnects | connect failures | outages "
            "| outage ms median / p90 (max) | first picture after the car's return s "
            "| key-frame requests | decoder errors | state at end | threads | descriptors |",
            "|" + "---|" * 14]
    for c in cells:
        if c["kind"] not in ("connection", "silent"):
            continue
        s, d = c.get("stats", {}), c.get("decoder", {})
        threads, fds = leak(c)
        outages = c.get("outages_ms", {}).get("n", "–") if c["kind"] == "connection" else "–"
        rows.append(
            f"| {c['family']} | {c['fault']} | {num(c.get('streaming_s'))} "
            f"| {num(c.get('pictures_per_s'))} | {c.get('reconnects', '–')} "
            f"| {c.get('connect_failures', 0) + c.get('create_failures', 0)} | {outages} "
            f"| {dist(c.get('outages_ms'))} | {num(c.get('recovered_after_return_s'), 2)} "
            f"| {s.get('key_frame_requests', '–')} | {d.get('decoder_errors', '–')} "
            f"| {c.get('state_at_end', '–')} | {threads} | {fds} |"
            + (f" **{c['error']}**" if "error" in c else ""))
    return "\n".join(rows)


def lifecycle_table(cells):
    rows = ["| family | what | repetitions | without picture / not in state | first picture s "
            "median / p90 (max) | destroy ms median / p90 (max) | threads | descriptors |",
            "|" + "---|" * 8]
    for c in cells:
        if c["kind"] not in ("cycles", "destroy"):
            continue
        threads, fds = leak(c)
        if c["kind"] == "cycles":
            reps, miss = c.get("cycles"), c.get("cycles_without_picture")
            first = dist(c.get("first_picture_s"), 2)
        else:
            reps = c.get("repetitions")
            miss = reps - c.get("destroyed_in_state", 0) if reps is not None else "–"
            first = "–"
        rows.append(f"| {c['family']} | {c['fault']} | {reps} | {miss} | {first} "
                    f"| {dist(c.get('destroy_ms'))} | {threads} | {fds} |"
                    + (f" **{c['error']}**" if "error" in c else ""))
    return "\n".join(rows)


def integrity_table(cells):
    rows = ["| family | fault (car replays a known stream) | access units checked | not as sent "
            "| decoder errors | pictures decoded | key-frame requests | repairs "
            "| kernel receive-buffer drops | threads | descriptors |",
            "|" + "---|" * 11]
    for c in cells:
        if not c.get("replay_checked"):
            continue
        s, d = c.get("stats", {}), c.get("decoder", {})
        threads, fds = leak(c)
        rows.append(f"| {c['family']} | {c['fault'].replace('replayed stream: ', '')} "
                    f"| {d.get('checked', '–')} | {d.get('mismatched', '–')} "
                    f"| {d.get('decoder_errors', '–')} | {d.get('pictures_decoded', '–')} "
                    f"| {s.get('key_frame_requests', '–')} | {s.get('repairs', '–')} "
                    f"| {c.get('receive_buffer_drops', '–')} | {threads} | {fds} |" + (f" **{c['error']}**" if "error" in c else ""))
    return "\n".join(rows)


def plot(cells, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("fault_matrix_report: no matplotlib, no plot", file=sys.stderr)
        return False
    fig, (ax, bx) = plt.subplots(1, 2, figsize=(11, 4.2), dpi=110)
    styles = {("sonix", 1): "o-", ("sonix", 2): "s-", ("zoderiv", 1): "o--",
              ("zoderiv", 2): "s--"}
    for (family, parity), style in styles.items():
        sweep = sorted((c for c in cells if c["family"] == family and c.get("parity") == parity
                        and "loss_percent" in c and c.get("pictures_per_s") is not None),
                       key=lambda c: c["loss_percent"])
        if sweep:
            label = f"{family}, {parity} parity packet{'s' if parity > 1 else ''}"
            ax.plot([c["loss_percent"] for c in sweep], [c["pictures_per_s"] for c in sweep],
                    style, label=label)
            bx.plot([c["loss_percent"] for c in sweep], [shown_share(c) for c in sweep], style,
                    label=label)
    for a in (ax, bx):
        a.set_xlabel("datagrams lost at random (%)")
        a.set_xticks([0, 5, 10, 20, 30])
        a.grid(True, alpha=0.3)
    ax.set_ylabel("pictures shown per second")
    ax.set_ylim(0, 32)
    ax.legend(loc="lower left", fontsize="small")
    ax.set_title("Pictures per second (car sends up to 30)", fontsize="medium")
    bx.set_ylabel("frames that reached the receiver shown (%)")
    bx.set_ylim(0, 105)
    bx.set_title("Share of the frames the car sent that were shown", fontsize="medium")
    fig.tight_layout()
    fig.savefig(path)
    return True


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    cells = load(sys.argv[1])
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    sections = [("Faults on the video datagrams", stream_table(cells)),
                ("Faults on the connection, and cars the source must not use",
                 connection_table(cells)),
                ("Creating and destroying sources", lifecycle_table(cells)),
                ("Every access unit checked against what the car sent", integrity_table(cells))]
    with open(os.path.join(out, "matrix.md"), "w") as f:
        for title, table in sections:
            f.write(f"### {title}\n\n{table}\n\n")
    plot(cells, os.path.join(out, "pictures_per_second.png"))
    print(f"fault_matrix_report: {len(cells)} cells, tables in {out}/matrix.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
