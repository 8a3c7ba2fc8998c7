#!/usr/bin/python3
"""Writes the documents of the runner benchmark into a folder.

make-documents.py FOLDER COUNT [--no-pictures]: COUNT documents; half of
them hold two photos at camera resolution shown at 3 inches (all of them
text-only with --no-pictures). Needs Debian's python3-docx and python3-pil.
"""
import io
import random
import sys
from pathlib import Path

from docx import Document
from docx.shared import Inches
from PIL import Image, ImageFilter


def photo(seed, width=1600, height=1200):
    rnd = random.Random(seed)
    small = Image.new("RGB", (16, 12))
    small.putdata([(rnd.randint(0, 255), rnd.randint(0, 255), rnd.randint(0, 255)) for _ in range(16 * 12)])
    img = small.resize((width, height), Image.BICUBIC).filter(ImageFilter.GaussianBlur(3))
    noise = Image.effect_noise((width, height), 20).convert("RGB")
    buf = io.BytesIO()
    Image.blend(img, noise, 0.1).save(buf, "JPEG", quality=90, dpi=(72, 72))
    buf.seek(0)
    return buf


def main():
    out = Path(sys.argv[1])
    count = int(sys.argv[2])
    pictures = "--no-pictures" not in sys.argv
    out.mkdir(parents=True, exist_ok=True)
    photos = [photo(seed).getvalue() for seed in range(4)]
    for i in range(count):
        doc = Document()
        doc.add_heading("Document %d" % i, 1)
        for p in range(5):
            doc.add_paragraph("Paragraph %d of document %d. " % (p, i) * 8)
        if pictures and i % 2 == 0:
            for k in range(2):
                doc.add_picture(io.BytesIO(photos[(i + k) % len(photos)]), width=Inches(3))
        doc.save(out / ("doc%03d.docx" % i))


if __name__ == "__main__":
    main()
