#!/usr/bin/env python3
"""Writes toolbar/<name>-disabled.svg for every toolbar picture: the same
drawing in greys, so a disabled button keeps its shape but loses its colour.
Run it again after changing a toolbar picture."""
import pathlib
import re

# Palette colour -> its grey. White stays white (paper and the marks on badges).
GREYS = {
    "#3D86DB": "#C4CAD2",  # blue
    "#245FA8": "#A1AAB5",  # blue edge
    "#D3E6FA": "#E6E9ED",  # light blue
    "#3FA452": "#C4CAD2",  # green
    "#2A7A3A": "#A1AAB5",  # green edge
    "#F5BE36": "#D5D9DF",  # yellow
    "#B9860F": "#A1AAB5",  # yellow edge
    "#56667A": "#A1AAB5",  # slate
    "#9AA7B6": "#C4CAD2",  # slate lines
}

folder = pathlib.Path(__file__).resolve().parent / "toolbar"
for source in sorted(folder.glob("*.svg")):
    if source.stem.endswith("-disabled"):
        continue
    text = source.read_text(encoding="utf-8")
    text = re.sub("#[0-9A-Fa-f]{6}", lambda m: GREYS.get(m.group(0).upper(), m.group(0)), text)
    text = text.replace("<!-- ", "<!-- disabled: ", 1)
    (folder / f"{source.stem}-disabled.svg").write_text(text, encoding="utf-8")
