"""What check-pkg and check-pkg-install read of an installer package: the
product archive expanded by bsdtar, its Distribution's choices, and each
component's odc cpio archives and Bom."""
import gzip
import pathlib
import plistlib
import struct
import subprocess
import xml.etree.ElementTree as ElementTree


def expand(pkg, folder):
    """The product archive PKG expanded into FOLDER, as bsdtar reads xar."""
    subprocess.run(["bsdtar", "-xf", str(pkg), "-C", str(folder)], check=True)
    return pathlib.Path(folder)


def cpio_files(data):
    """{path: (mode, uid, gid, bytes)} of a gzipped odc cpio archive."""
    data, entries, at = gzip.decompress(data), {}, 0
    while True:
        head = data[at:at + 76].decode()
        if head[:6] != "070707":
            raise ValueError("not an odc cpio archive at byte %d" % at)
        mode, uid, gid = (int(head[i:i + 6], 8) for i in (18, 24, 30))
        namesize, size = int(head[59:65], 8), int(head[65:76], 8)
        name = data[at + 76:at + 76 + namesize - 1].decode()
        body = data[at + 76 + namesize:at + 76 + namesize + size]
        at += 76 + namesize + size
        if name == "TRAILER!!!":
            return entries
        entries[name.lstrip(".").lstrip("/")] = (mode, uid, gid, body)


def cksum(data):
    """POSIX cksum, the checksum a Bom keeps of each file."""
    crc = 0
    for byte in data + len(data).to_bytes(8, "little").rstrip(b"\0"):
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF


def bom_files(data):
    """{path: (mode, uid, gid, size, checksum)} of a Bom's Paths tree."""
    if data[:8] != b"BOMStore":
        raise ValueError("no BOMStore")
    index_offset, _, vars_offset = struct.unpack_from(">III", data, 16)

    def block(index):
        address, length = struct.unpack_from(">II", data, index_offset + 4 + 8 * index)
        return data[address:address + length]

    count, at, variables = struct.unpack_from(">I", data, vars_offset)[0], vars_offset + 4, {}
    for _ in range(count):
        index, length = struct.unpack_from(">IB", data, at)
        variables[data[at + 5:at + 5 + length].decode()] = index
        at += 5 + length
    child, names, infos = struct.unpack_from(">I", block(variables["Paths"]), 8)[0], {}, {}
    while child:
        paths = block(child)
        is_leaf, count, forward = struct.unpack_from(">HHI", paths)
        if not is_leaf:
            child = struct.unpack_from(">I", paths, 12)[0]
            continue
        for i in range(count):
            info_index, file_index = struct.unpack_from(">II", paths, 12 + 8 * i)
            file, info1 = block(file_index), block(info_index)
            path_id = struct.unpack_from(">I", info1)[0]
            names[path_id] = (struct.unpack_from(">I", file)[0], file[4:].split(b"\0")[0].decode())
            _, _, _, mode, uid, gid, _, size, _, checksum = struct.unpack_from(
                ">BBHHIIIIBI", block(struct.unpack_from(">I", info1, 4)[0]))
            infos[path_id] = (mode, uid, gid, size, checksum)
        child = forward

    def full(path_id):
        parent, name = names[path_id]
        return name if parent == 0 else full(parent) + "/" + name

    return {full(i).lstrip(".").lstrip("/"): infos[i] for i in names}


def distribution(flat):
    """The Distribution's root element."""
    return ElementTree.parse(flat / "Distribution").getroot()


def chosen(flat, changes=None):
    """The component folders an install runs, in order: the choices of the
    outline that are selected, after installer -applyChoiceChangesXML's
    CHANGES (its plist's bytes), as Installer would take them."""
    root = distribution(flat)
    choices = {choice.get("id"): choice for choice in root.iter("choice")}
    selected = {name: choice.get("selected", choice.get("start_selected", "true")) == "true"
                for name, choice in choices.items()}
    for change in plistlib.loads(changes) if changes else []:
        name = change["choiceIdentifier"]
        if change["choiceAttribute"] == "selected" and choices[name].get("enabled") != "false":
            selected[name] = bool(change["attributeSetting"])
    hrefs = {ref.get("id"): ref.text for ref in root.iter("pkg-ref") if ref.text}
    return [flat / hrefs[ref.get("id")].lstrip("#") for line in root.iter("line") if selected[line.get("choice")]
            for ref in choices[line.get("choice")].iter("pkg-ref")]
