#!/usr/bin/env python3
"""Holds what the tool wrote to what it read, through a real XML parser.

    python3 xml_equivalence.py [--export] INPUT OUTPUT [INPUT OUTPUT ...]

For each pair, INPUT must be well-formed XML, and OUTPUT must be too and
read the same, with Python's expat, but for what the tool changes:

- the first swf element's version 6, 7 or 8 becomes 10;
- the first FileAttributes element, when it has no allowABC, gets
  allowABC="1" as its last attribute;
- OUTPUT begins with the line <?xml version="1.0" encoding="E"?>, E being
  the encoding INPUT's own declaration names, UTF-8 when it names none;
- character data beside other content may differ in white space at its
  ends (the layout); the text of an element that holds nothing else (or
  white space and one CDATA section) must be the same, but for the
  leading spaces, CRs and LFs that reading drops;
- a processing instruction's data is compared as the pairs the tool reads
  it as, a bare word being a name with an empty value.

With --export, OUTPUT is the library's export of INPUT: neither rule
applies, and its XML declaration, if any, must say what INPUT's says.

Elements, attributes (names, values, order), comments, processing
instructions, CDATA sections, the document type and what its internal
subset declares must be the same. Prints one line for each pair that is
not, naming INPUT and the first difference. Exit status: 0 when every
pair holds, 1 when one does not, 2 on a usage error.
"""
import sys
import xml.parsers.expat as expat

WHITE_SPACE = " \t\r\n"
DROPPED = " \r\n"  # what reading drops in front of character data


class NotWellFormed(Exception):
    pass


def instruction_pairs(data):
    """A processing instruction's data read as the tool reads attributes."""
    pairs, i, n = [], 0, len(data)
    while True:
        while i < n and data[i] in WHITE_SPACE:
            i += 1
        if i == n:
            return pairs
        start = i
        while i < n and data[i] not in WHITE_SPACE and data[i] != "=":
            i += 1
        name, value = data[start:i], ""
        while i < n and data[i] in WHITE_SPACE:
            i += 1
        if i < n and data[i] == "=":
            i += 1
            while i < n and data[i] in WHITE_SPACE:
                i += 1
            if i < n and data[i] in "\"'":
                end = data.find(data[i], i + 1)
                end = n if end < 0 else end
                value, i = data[i + 1:end], min(end + 1, n)
            else:
                start = i
                while i < n and data[i] not in WHITE_SPACE:
                    i += 1
                value = data[start:i]
        if name or value:
            pairs.append((name, value))


def read(path):
    """What expat reads from the file: its declaration and its events."""
    with open(path, "rb") as f:
        data = f.read()
    events, text, declaration = [], [], {}
    in_section = [False]

    def flush():
        chunk = "".join(text)
        text.clear()
        if chunk:
            events.append(("text" if in_section[0] else "chars", chunk))

    def event(*item):
        flush()
        events.append(item)

    def start_section():
        event("cdata")
        in_section[0] = True

    def end_section():
        flush()
        in_section[0] = False
        events.append(("/cdata",))

    parser = expat.ParserCreate()
    parser.ordered_attributes = True
    parser.specified_attributes = True
    parser.buffer_text = True
    parser.XmlDeclHandler = lambda version, encoding, standalone: declaration.update(
        version=version, encoding=encoding, standalone=standalone)
    parser.StartElementHandler = lambda name, attributes: event(
        "element", name, tuple(zip(attributes[0::2], attributes[1::2])))
    parser.EndElementHandler = lambda name: event("/element", name)
    parser.CharacterDataHandler = text.append
    parser.CommentHandler = lambda data: event("comment", data)
    parser.ProcessingInstructionHandler = lambda target, data: event(
        "instruction", target, tuple(instruction_pairs(data)))
    parser.StartCdataSectionHandler = start_section
    parser.EndCdataSectionHandler = end_section
    parser.StartDoctypeDeclHandler = lambda name, system, public, subset: event(
        "doctype", name, system, public, bool(subset))
    parser.EndDoctypeDeclHandler = lambda: event("/doctype")
    parser.EntityDeclHandler = lambda *entity: event("entity", entity)
    parser.ElementDeclHandler = lambda name, model: event("element declaration", name, repr(model))
    parser.AttlistDeclHandler = lambda *attribute: event("attribute declaration", attribute)
    parser.NotationDeclHandler = lambda *notation: event("notation", notation)
    try:
        parser.Parse(data, True)
    except expat.ExpatError as error:
        raise NotWellFormed(str(error)) from None
    flush()
    return data, declaration, events


def text_only_elements(events):
    """Ordinals of the elements that hold one piece of character data, or
    nothing, once the white space that reading drops is gone: the text of
    these is written as it is."""
    whole, stack, ordinal = set(), [], -1
    for item in events:
        if item[0] == "element":
            ordinal += 1
            if stack:
                stack[-1][1].append("element")
            stack.append((ordinal, []))
        elif item[0] == "/element":
            number, content = stack.pop()
            if content in ([], ["chars"], ["cdata", "/cdata"], ["cdata", "text", "/cdata"]):
                whole.add(number)
        elif stack and not (item[0] == "chars" and not item[1].strip(DROPPED)):
            stack[-1][1].append(item[0])
    return whole


def laid_out(events, whole, source):
    """Character data as compared: whole in the elements numbered in whole
    (less what reading drops, in the source), else without white space at
    its ends, and gone when nothing else is left."""
    out, stack, ordinal = [], [], -1
    for item in events:
        if item[0] == "element":
            ordinal += 1
            stack.append(ordinal in whole)
        elif item[0] == "/element":
            stack.pop()
        if item[0] != "chars":
            out.append(item)
            continue
        chunk = item[1]
        if stack and stack[-1]:
            chunk = chunk.lstrip(DROPPED) if source else chunk
        else:
            chunk = chunk.strip(WHITE_SPACE)
        if chunk:
            out.append(("text", chunk))
    return out


def upgraded(events):
    """The input's events as the tool's two rules leave them."""
    out, swf_seen, file_attributes_seen = [], False, False
    for item in events:
        if item[0] == "element" and item[1] == "swf" and not swf_seen:
            swf_seen = True
            attributes = list(item[2])
            for k, (name, value) in enumerate(attributes):
                if name == "version":
                    if value in ("6", "7", "8"):
                        attributes[k] = (name, "10")
                    break
            item = ("element", item[1], tuple(attributes))
        elif item[0] == "element" and item[1] == "FileAttributes" and not file_attributes_seen:
            file_attributes_seen = True
            if all(name != "allowABC" for name, _ in item[2]):
                item = ("element", item[1], item[2] + (("allowABC", "1"),))
        out.append(item)
    return out


def compare(input_path, output_path, exported=False):
    """The first difference between the pair, or None."""
    try:
        _, declared, expected = read(input_path)
    except NotWellFormed as error:
        return "the input itself is not well-formed: %s" % error
    try:
        written, declared_out, actual = read(output_path)
    except NotWellFormed as error:
        return "not well-formed: %s" % error
    if exported:
        if declared_out != declared:
            return "declares %r, not %r" % (declared_out, declared)
    else:
        encoding = declared.get("encoding") or "UTF-8"
        if encoding.upper() in ("UTF-8", "UTF8"):
            encoding = "UTF-8"
        line = ('<?xml version="1.0" encoding="%s"?>\n' % encoding).encode("ascii")
        if not written.startswith(line):
            return "does not begin with %r but %r" % (line, written[:len(line)])
    whole = text_only_elements(expected)
    expected = laid_out(expected, whole, True)
    actual = laid_out(actual, whole, False)
    if not exported:
        expected = upgraded(expected)
    for k, (want, got) in enumerate(zip(expected, actual)):
        if want != got:
            return "event %d is %r, not %r" % (k, got, want)
    if len(expected) != len(actual):
        return "%d events, not %d" % (len(actual), len(expected))
    return None


def main(arguments):
    exported = arguments[:1] == ["--export"]
    if exported:
        arguments = arguments[1:]
    if not arguments or len(arguments) % 2:
        print("usage: xml_equivalence.py [--export] INPUT OUTPUT [INPUT OUTPUT ...]")
        return 2
    failed = False
    for input_path, output_path in zip(arguments[0::2], arguments[1::2]):
        difference = compare(input_path, output_path, exported)
        if difference:
            failed = True
            print("%s: %s" % (input_path, difference))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
