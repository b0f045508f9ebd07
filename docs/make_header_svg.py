#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the 512-byte image header as an SVG: one lane per kind of image, each field a bar
placed at its offset. Writes header-layout.svg beside this script.

    python3 docs/make_header_svg.py
"""
import os

SCALE = 2            # pixels per byte
LEFT = 150           # room for the lane names
BAR = 18             # height of a field's bar
LINE = 13            # height of a label line

# (lane name, [(first byte, end byte, label, colour)])
LANES = [
    ("layout A", [(48, 50, "boot_tag", "#f4a261"), (50, 52, "header_checksum", "#e76f51"),
                  (56, 60, "count + version", "#2a9d8f"), (64, 112, "dram_param_table...", "#8ab17d")]),
    ("layout B", [(64, 66, "boot_tag", "#f4a261"), (66, 68, "header_checksum", "#e76f51"),
                  (72, 76, "count + version", "#2a9d8f"), (80, 112, "dram_param_table...", "#8ab17d")]),
    ("wr-key", [(112, 128, "key_stamp (read)", "#bdbdbd"), (128, 144, "wrapped_key", "#9b5de5")]),
    ("secure", [(140, 142, "secure_marker", "#f15bb5"), (142, 144, "data_checksum", "#e76f51"),
                (448, 480, "aes_signature", "#00bbf9"), (480, 512, "image_digest", "#00f5d4")]),
    ("RSA-signed", [(192, 320, "rsa_modulus (LE)", "#fee440"), (320, 352, "rsa_exponent (LE)", "#fb8500"),
                    (352, 480, "rsa_signature (MSB first)", "#00bbf9"), (480, 512, "image_digest", "#00f5d4")]),
]
TICKS = [0, 48, 64, 112, 128, 144, 192, 320, 352, 448, 480, 512]


def main():
    width = LEFT + 512 * SCALE + 40
    lane_heights = [BAR + 12 + LINE * len(fields) for _, fields in LANES]
    height = 60 + sum(lane_heights) + 40
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'font-family="DejaVu Sans, sans-serif" font-size="11">',
           f'<rect width="{width}" height="{height}" fill="white"/>',
           f'<text x="{LEFT}" y="20" font-size="14" font-weight="bold">'
           'The 512-byte header, by offset; the payload follows at 512</text>']
    axis_y = 40
    out.append(f'<line x1="{LEFT}" y1="{axis_y}" x2="{LEFT + 512 * SCALE}" y2="{axis_y}" stroke="black"/>')
    for tick in TICKS:
        x = LEFT + tick * SCALE
        out.append(f'<line x1="{x}" y1="{axis_y - 4}" x2="{x}" y2="{height - 30}" stroke="#dddddd"/>')
        out.append(f'<text x="{x}" y="{axis_y - 8}" text-anchor="middle">{tick}</text>')
    top = 60
    for (name, fields), lane_height in zip(LANES, lane_heights):
        out.append(f'<text x="10" y="{top + 14}" font-weight="bold">{name}</text>')
        for number, (first, end, label, colour) in enumerate(fields):
            x = LEFT + first * SCALE
            w = (end - first) * SCALE
            out.append(f'<rect x="{x}" y="{top}" width="{w}" height="{BAR}" fill="{colour}" stroke="black"/>')
            # One label line per field, so that narrow neighbours do not collide; labels of
            # fields near the end are right-aligned to the field's end.
            label_y = top + BAR + 12 + number * LINE
            if first >= 384:
                anchor, lx = "end", x + w
            else:
                anchor, lx = "start", x
            out.append(f'<line x1="{lx}" y1="{top + BAR}" x2="{lx}" y2="{label_y - 9}" stroke="#888888"/>')
            out.append(f'<text x="{lx}" y="{label_y}" text-anchor="{anchor}">{label} {first}..{end - 1}</text>')
        top += lane_height
    out.append(f'<text x="{LEFT}" y="{height - 10}">Overlaps: wrapped_key covers secure_marker and '
               'data_checksum; aes_signature is the last 32 bytes of rsa_signature.</text>')
    out.append('</svg>')
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "header-layout.svg")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
