"""Reading names out of mDNS datagrams, for the Python peers and benchmarks."""


def read_name(data, at):
    """The name at an offset, following compression pointers (at most 20);
    returns its dotted text and the offset just after it."""
    labels, end, jumps = [], None, 0
    while at < len(data) and jumps < 20:
        n = data[at]
        if n == 0:
            at += 1
            break
        if n & 0xC0 == 0xC0:
            if end is None:
                end = at + 2
            at = ((n & 0x3F) << 8) | data[at + 1]
            jumps += 1
            continue
        labels.append(data[at + 1:at + 1 + n].decode("utf-8", "replace"))
        at += 1 + n
    return ".".join(labels), (end if end is not None else at)
