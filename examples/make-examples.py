#!/usr/bin/python3
"""Builds the sample documents that `make demo` compacts.

Each document holds photographic pictures at camera-like resolution shown
at a few inches, as people paste them; one holds no picture at all. The
pictures are drawn here (seeded, so every run gives the same files), so
nothing of anybody else's is shipped.

Needs Debian's python3-docx and python3-pil: run with /usr/bin/python3.
"""
import io
import random
import sys
from pathlib import Path

from docx import Document
from docx.shared import Inches
from PIL import Image, ImageDraw, ImageFilter


def landscape(width, height, seed):
    """A photo-like picture: sky gradient, hills, texture and grain."""
    rnd = random.Random(seed)
    img = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(img)
    top = (rnd.randint(40, 90), rnd.randint(90, 140), rnd.randint(170, 230))
    bottom = (rnd.randint(200, 250), rnd.randint(180, 220), rnd.randint(150, 200))
    for y in range(height):
        t = y / height
        draw.line([(0, y), (width, y)],
                  fill=tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)))
    for layer in range(4):
        base = height * (0.45 + 0.12 * layer)
        colour = (rnd.randint(20, 90), rnd.randint(70, 140), rnd.randint(20, 70))
        points = [(0, height)]
        x = 0
        while x <= width:
            points.append((x, base + rnd.uniform(-0.08, 0.08) * height))
            x += width // 12
        points.append((width, height))
        draw.polygon(points, fill=colour)
    for _ in range(60):
        cx, cy = rnd.randint(0, width), rnd.randint(height // 2, height)
        r = rnd.randint(width // 200, width // 60)
        draw.ellipse([cx - r, cy - r, cx + r, cy + r],
                     fill=(rnd.randint(30, 120), rnd.randint(80, 160), rnd.randint(30, 90)))
    img = img.filter(ImageFilter.GaussianBlur(2))
    noise = Image.effect_noise((width, height), 18).convert("RGB")
    return Image.blend(img, noise, 0.12)


def screenshot(width, height, seed):
    """A screenshot-like picture: flat panels and lines of text blocks."""
    rnd = random.Random(seed)
    img = Image.new("RGB", (width, height), (246, 246, 246))
    draw = ImageDraw.Draw(img)
    draw.rectangle([0, 0, width, 60], fill=(52, 101, 164))
    draw.rectangle([0, 60, 260, height], fill=(225, 228, 232))
    for row in range(90, height - 30, 34):
        length = rnd.randint(width // 4, width - 320)
        draw.rectangle([300, row, 300 + length, row + 14], fill=(90, 90, 90))
    return img


def encoded(img, fmt, **kw):
    buf = io.BytesIO()
    img.save(buf, fmt, **kw)
    buf.seek(0)
    return buf


def main(out):
    out.mkdir(parents=True, exist_ok=True)

    doc = Document()
    doc.add_heading("Field trip report", 1)
    doc.add_paragraph("Pictures from the survey of the northern slopes, as taken by the camera.")
    for seed in (1, 2):
        doc.add_picture(encoded(landscape(2400, 1600, seed), "JPEG", quality=92, dpi=(72, 72)),
                        width=Inches(4))
        doc.add_paragraph("Slope %d seen from the road." % seed)
    doc.save(out / "trip-report.docx")

    doc = Document()
    doc.add_heading("Office newsletter", 1)
    doc.add_paragraph("The new shared drive is ready; here is how it looks.")
    doc.add_picture(encoded(screenshot(1600, 1000, 3), "PNG"), width=Inches(3.5))
    doc.add_paragraph("And the view from the new office:")
    doc.add_picture(encoded(landscape(2000, 1500, 4), "JPEG", quality=92, dpi=(72, 72)),
                    width=Inches(3))
    doc.save(out / "newsletter.docx")

    doc = Document()
    doc.add_heading("Letter", 1)
    doc.add_paragraph("A document without pictures keeps its own bytes.")
    doc.save(out / "plain-letter.docx")


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "documents")
