#!/usr/bin/env python3
"""Prints the words a reader sees on an HTML page, one per line.

Uses the standard library's own HTML parser, so that the gateway's tokenizer
is checked against an implementation nobody here wrote. The page is read as
Latin-1 so that its bytes reach the parser unchanged. Only ASCII words of at
least four letters or digits are printed: they survive any difference in how
references outside Latin-1 are rendered.
"""
import html.parser
import re
import sys


class Visible(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.hidden = 0
        self.words = set()

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style"):
            self.hidden += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style") and self.hidden:
            self.hidden -= 1

    def handle_data(self, data):
        if not self.hidden:
            self.words.update(re.findall(r"[A-Za-z0-9]{4,}", data))


def main():
    with open(sys.argv[1], encoding="latin-1") as f:
        page = f.read()
    parser = Visible()
    parser.feed(page)
    parser.close()
    for word in sorted(parser.words):
        print(word)


main()
