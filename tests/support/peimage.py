"""What a built pelnor.exe must be, read from its bytes without running it:
a Windows GUI image for its architecture (i386 or AMD64), importing only
system DLLs, carrying the menu, accelerators, icon and manifest in Japanese
(1041). Used by image_check.py on the build's program and by
package_check.py on the programs in the download."""
import struct

MACHINES = {"x86": (0x14C, 0x10B), "x64": (0x8664, 0x20B)}  # machine, optional-header magic
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
               "winmm.dll", "msvcrt.dll"}
RESOURCES = {(4, "MENU"), (9, "ACCEL"), (14, "ICON"), (24, 1)}  # (type, name), language 1041


def check_image(image, arch, check, where=""):
    """Runs each check on the image's bytes through check(what, ok, detail);
    where names the image in each line."""
    def report(what, ok, detail=""):
        check(f"{where}{what}", ok, detail)

    pe = struct.unpack_from("<I", image, 0x3C)[0]
    report("PE signature", image[:2] == b"MZ" and image[pe:pe + 4] == b"PE\0\0")
    machine, nsections, _, _, _, optsize = struct.unpack_from("<HHIIIH", image, pe + 4)
    opt = pe + 24
    magic, subsystem = struct.unpack_from("<H", image, opt)[0], struct.unpack_from("<H", image, opt + 68)[0]
    report(f"{arch} image", (machine, magic) == MACHINES[arch], f"(machine {machine:#x}, magic {magic:#x})")
    report("Windows GUI subsystem", subsystem == 2, f"({subsystem})")
    directories = opt + (96 if magic == 0x10B else 112)
    sections = [struct.unpack_from("<IIII", image, pe + 24 + optsize + 40 * i + 8) for i in range(nsections)]

    def at(rva):
        for vsize, va, rawsize, raw in sections:
            if va <= rva < va + max(vsize, rawsize):
                return raw + rva - va
        raise SystemExit(f"{where}RVA {rva:#x} is in no section")

    def text(offset):
        return image[offset:image.index(b"\0", offset)].decode("ascii")

    imports, entry = [], at(struct.unpack_from("<I", image, directories + 8)[0])
    while struct.unpack_from("<I", image, entry + 12)[0]:
        imports.append(text(at(struct.unpack_from("<I", image, entry + 12)[0])).lower())
        entry += 20
    report("imports only system DLLs", imports and set(imports) <= SYSTEM_DLLS, f"({', '.join(imports)})")

    base = at(struct.unpack_from("<I", image, directories + 16)[0])

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", image, offset + 12)
        for i in range(named + numbered):
            key, target = struct.unpack_from("<II", image, offset + 16 + 8 * i)
            if key & 0x80000000:
                length = struct.unpack_from("<H", image, base + (key & 0x7FFFFFFF))[0]
                at_name = base + (key & 0x7FFFFFFF) + 2
                key = image[at_name:at_name + 2 * length].decode("utf-16-le")
            yield key, target

    found = {}
    for kind, types in entries(base):
        for name, names in entries(base + (types & 0x7FFFFFFF)):
            for language, leaf in entries(base + (names & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", image, base + leaf)
                found[(kind, name)] = (language, image[at(rva):at(rva) + size])
    for resource in sorted(RESOURCES, key=str):
        language = found.get(resource, (None,))[0]
        report(f"resource {resource}", language == 1041, f"(language {language})")
    manifest = found.get((24, 1), (0, b""))[1]
    report("manifest asks for the UTF-8 code page", b"<activeCodePage" in manifest and b">UTF-8<" in manifest)
