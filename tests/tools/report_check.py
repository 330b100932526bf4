#!/usr/bin/env python3
"""Reads the run report page and its screenshots for the tests.

  report_check.py html FILE   checks that the page is well formed (every
                              element closed, in order) and self-contained
                              (no scripts, nothing loaded from elsewhere),
                              then prints what it shows, one item a line:
                                title<TAB>text
                                summary<TAB>text
                                attention<TAB>text          (each item)
                                row<TAB>TABLE<TAB>cell...   (each body row)
                                link<TAB>TABLE<TAB>ROW<TAB>href
                                class<TAB>TABLE<TAB>ROW<TAB>class of the row
                                bars<TAB>CLASS<TAB>count    (rects of the chart)
  report_check.py png FILE    decodes the PNG and prints
                                size<TAB>WIDTH<TAB>HEIGHT
                                colours<TAB>N   (distinct colours, at most 1000)

Texts are whitespace-normalised UTF-8. Exit status 1, with the reason on
standard error, for a page or picture that cannot be read.
"""
import html.parser
import struct
import sys
import zlib

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "source", "track", "wbr"}
# Inside the SVG chart these stand alone when written "<... />".
SELF_CLOSING_OK = {"line", "rect", "path", "circle"}


class Bad(Exception):
    pass


def squeeze(text):
    return " ".join(text.split())


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.out = []
        self.text = None  # collecting for the element at this depth
        self.capture = []  # (tag, depth, kind, extra)
        self.table = None
        self.row = None
        self.row_index = -1
        self.in_body_rows = False
        self.cell = None
        self.bars = {}
        self.charset = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.check_self_contained(tag, a)
        if tag == "meta" and "charset" in a:
            self.charset = a["charset"].lower()
        if tag in VOID:
            return
        self.stack.append(tag)
        kind = None
        if tag == "title" and "head" in self.stack:
            kind = "title"
        elif a.get("id") == "summary":
            kind = "summary"
        elif tag == "li" and self.in_list():
            kind = "attention"
        if kind:
            self.capture.append([tag, len(self.stack), kind, []])
        if tag == "table":
            self.table = a.get("id", "")
            self.row_index = -1
        if tag == "tbody":
            self.in_body_rows = True
        if tag == "tr" and self.in_body_rows:
            self.row_index += 1
            self.row = []
            if "class" in a:
                self.out.append("class\t%s\t%d\t%s" % (self.table, self.row_index, a["class"]))
        if tag in ("td", "th") and self.row is not None:
            self.cell = []
        if tag == "a" and self.row is not None and "href" in a:
            self.out.append("link\t%s\t%d\t%s" % (self.table, self.row_index, a["href"]))
        if tag == "rect":
            cls = a.get("class", "")
            self.bars[cls] = self.bars.get(cls, 0) + 1

    def handle_startendtag(self, tag, attrs):
        if tag not in VOID and tag not in SELF_CLOSING_OK:
            raise Bad("<%s/> written as an empty element" % tag)
        self.check_self_contained(tag, dict(attrs))

    def handle_endtag(self, tag):
        if tag in VOID:
            raise Bad("end tag of the void element %s" % tag)
        if not self.stack or self.stack[-1] != tag:
            raise Bad("</%s> closes <%s>" % (tag, self.stack[-1] if self.stack else "nothing"))
        depth = len(self.stack)
        if self.capture and self.capture[-1][1] == depth:
            _, _, kind, parts = self.capture.pop()
            self.out.append("%s\t%s" % (kind, squeeze("".join(parts))))
        if tag in ("td", "th") and self.cell is not None and self.row is not None:
            self.row.append(squeeze("".join(self.cell)))
            self.cell = None
        if tag == "tr" and self.row is not None:
            self.out.append("row\t%s\t%s" % (self.table, "\t".join(self.row)))
            self.row = None
        if tag == "tbody":
            self.in_body_rows = False
        if tag == "table":
            self.table = None
        self.stack.pop()

    def handle_data(self, data):
        for c in self.capture:
            c[3].append(data)
        if self.cell is not None:
            self.cell.append(data)

    def in_list(self):
        return len(self.stack) >= 2 and self.stack[-2] == "ul"

    def check_self_contained(self, tag, a):
        if tag in ("script", "iframe", "object", "embed"):
            raise Bad("the page holds a <%s>" % tag)
        for name in ("src", "href", "data", "action"):
            url = a.get(name, "") or ""
            if url.startswith(("http:", "https:", "//", "ftp:")):
                raise Bad("%s=%s reaches outside the page" % (name, url))
        if tag == "link":
            raise Bad("the page links a file of its own")


def check_html(path):
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-8")  # the page declares UTF-8; anything else is a fault
    if "@import" in text or "url(" in text:
        raise Bad("the style loads something from elsewhere")
    page = Page()
    page.feed(text)
    page.close()
    if page.stack:
        raise Bad("unclosed elements at the end: %s" % " ".join(page.stack))
    if page.charset != "utf-8":
        raise Bad("the page does not declare its coding as UTF-8")
    lines = page.out + ["bars\t%s\t%d" % (k, v) for k, v in sorted(page.bars.items())]
    sys.stdout.write("\n".join(lines) + "\n")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def check_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Bad("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if header is None:
        raise Bad("no IHDR chunk")
    width, height, depth, colour_type, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour_type)
    if depth != 8 or channels is None or interlace != 0:
        raise Bad("only 8-bit, non-indexed, non-interlaced pictures are read here")
    raw = zlib.decompress(idat)
    stride = width * channels
    previous = bytearray(stride)
    colours = set()
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = line[x - channels] if x >= channels else 0
            up = previous[x]
            up_left = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + left) & 255
            elif kind == 2:
                line[x] = (line[x] + up) & 255
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 255
            elif kind == 4:
                line[x] = (line[x] + paeth(left, up, up_left)) & 255
        if len(colours) < 1000:
            for x in range(0, stride, channels):
                colours.add(bytes(line[x:x + channels]))
        previous = line
    print("size\t%d\t%d" % (width, height))
    print("colours\t%d" % min(len(colours), 1000))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("html", "png"):
        sys.stderr.write(__doc__)
        return 2
    try:
        (check_html if sys.argv[1] == "html" else check_png)(sys.argv[2])
    except (Bad, UnicodeDecodeError, zlib.error, OSError) as e:
        sys.stderr.write("%s: %s\n" % (sys.argv[2], e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
