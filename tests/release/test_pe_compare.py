"""pe_compare.py names the first part in which two PE files differ, on small PE32 images made
here: a header, three sections (one with a long name from the string table), a symbol table and,
optionally, a certificate table."""

import struct

import pytest

import pe_compare

RAW = 0x200  # every section's raw size and the headers' size


def make_pe(stamp=0x5F5E1000, checksum=0x1234, sections=None, certificate=None, tail=b""):
    """A PE32 image: .text, .rdata and .eh_frame (named through the string table), each RAW
    bytes, then one symbol and the string table, then the certificate table if given."""
    contents = {".text": b"\xc3" * RAW, ".rdata": b"r" * RAW, ".eh_frame": b"e" * RAW}
    contents.update(sections or {})
    names = [b".text", b".rdata", b"/4"]
    symbols_at = RAW * (1 + len(names))
    strings = b".eh_frame\0"
    end = symbols_at + 18 + 4 + len(strings)
    dos = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40)
    coff = struct.pack("<HHIIIHH", 0x14C, len(names), stamp, symbols_at, 1, 224, 0x102)
    optional = struct.pack("<HBBIIIIII", 0x10B, 2, 40, RAW, 2 * RAW, 0, 0x1000, 0x1000, 0x2000)
    optional += struct.pack("<IIIHHHHHHIIIIHHIIIIII", 0x400000, 0x1000, RAW, 4, 0, 0, 0, 4, 0, 0,
                            0x4000, RAW, checksum, 2, 0x140, 0x100000, 0x1000, 0x100000, 0x1000,
                            0, 16)
    directories = [(0, 0)] * 16
    if certificate is not None:
        directories[4] = (end + len(tail), len(certificate))
    optional += b"".join(struct.pack("<II", *entry) for entry in directories)
    table = b""
    for index, name in enumerate(names):
        table += name.ljust(8, b"\0") + struct.pack(
            "<IIIIIIHHI", RAW, 0x1000 * (index + 1), RAW, RAW * (index + 1), 0, 0, 0, 0,
            0x40000040)
    headers = (dos + b"PE\0\0" + coff + optional + table).ljust(RAW, b"\0")
    body = b"".join(contents[name] for name in (".text", ".rdata", ".eh_frame"))
    symbol = b".file\0\0\0" + struct.pack("<IhHBB", 0, -2, 0, 0x67, 0)
    image = headers + body + symbol + struct.pack("<I", 4 + len(strings)) + strings + tail
    return image + (certificate or b"")


BASE = make_pe()
# A WIN_CERTIFICATE of 16 bytes: its length, revision 2.0, type PKCS#7, then the signature.
CERTIFICATE = b"\x10\x00\x00\x00\x00\x02\x02\x00"
SIGNED = make_pe(certificate=CERTIFICATE + b"A" * 8)

# (case, first image, second image, first difference, first differing section)
CASES = [
    ("time stamp", BASE, make_pe(stamp=0x5F5E1001),
     "COFF header field TimeDateStamp: 0x5f5e1000 and 0x5f5e1001", "none, the sections match"),
    ("a byte of .rdata", BASE,
     make_pe(sections={".rdata": b"r" * 100 + b"R" + b"r" * (RAW - 101)}),
     "section .rdata: first at byte 0x64 of the part",
     "section .rdata: first at byte 0x64 of the part"),
    ("checksum and code", BASE, make_pe(checksum=0x9999, sections={".text": b"\x90" * RAW}),
     "optional header field CheckSum: 0x1234 and 0x9999",
     "section .text: first at byte 0x0 of the part"),
    ("a long-named section", BASE, make_pe(sections={".eh_frame": b"E" + b"e" * (RAW - 1)}),
     "section .eh_frame: first at byte 0x0 of the part",
     "section .eh_frame: first at byte 0x0 of the part"),
    ("signed and unsigned", BASE, SIGNED,
     "data directory certificate table: address 0x0 size 0x0 and address 0x820 size 0x10",
     "none, the sections match"),
    ("two signatures", SIGNED, make_pe(certificate=CERTIFICATE + b"B" * 8),
     "certificate table (signature): first at byte 0x8 of the part", "none, the sections match"),
    ("bytes behind everything", BASE, make_pe(tail=b"\0" * 8),
     "file length: 2080 and 2088 bytes", "none, the sections match"),
]


@pytest.mark.parametrize("case, first_image, second_image, first, section", CASES,
                         ids=[case[0] for case in CASES])
def test_names_the_first_difference(case, first_image, second_image, first, section, tmp_path,
                                    capsys):
    one = tmp_path / "one.exe"
    two = tmp_path / "two.exe"
    one.write_bytes(first_image)
    two.write_bytes(second_image)
    assert pe_compare.main(["pe_compare.py", str(one), str(two)]) == 1
    lines = capsys.readouterr().out.splitlines()
    assert lines[1] == f"first difference: {first}"
    assert lines[2] == f"first differing section: {section}"


def test_a_section_header_field_is_named(tmp_path, capsys):
    # The section table starts after the 24 bytes of signature and COFF header and the 224 of
    # the optional header; .rdata's SizeOfRawData is 16 bytes into its 40-byte entry.
    image = bytearray(make_pe())
    struct.pack_into("<I", image, 0x40 + 24 + 224 + 40 + 16, RAW - 0x10)
    (tmp_path / "one.exe").write_bytes(make_pe())
    (tmp_path / "two.exe").write_bytes(bytes(image))
    assert pe_compare.main(["pe_compare.py", str(tmp_path / "one.exe"),
                            str(tmp_path / "two.exe")]) == 1
    lines = capsys.readouterr().out.splitlines()
    assert lines[1] == ("first difference: section header .rdata field SizeOfRawData: 0x200 "
                        "and 0x1f0")
    assert lines[2] == "first differing section: section .rdata: 512 and 496 bytes"


def test_identical_files_pass(tmp_path, capsys):
    for name in ("one.exe", "two.exe"):
        (tmp_path / name).write_bytes(make_pe(certificate=b"\x10" + bytes(15)))
    assert pe_compare.main(["pe_compare.py", str(tmp_path / "one.exe"),
                            str(tmp_path / "two.exe")]) == 0
    assert capsys.readouterr().out.startswith("identical: ")


@pytest.mark.parametrize("second", [b"not a program", make_pe()[:0x60]],
                         ids=["no MZ header", "cut inside the PE header"])
def test_what_is_not_a_pe_file_is_an_error(second, tmp_path, capsys):
    (tmp_path / "one.exe").write_bytes(make_pe())
    (tmp_path / "two.exe").write_bytes(second)
    assert pe_compare.main(["pe_compare.py", str(tmp_path / "one.exe"),
                            str(tmp_path / "two.exe")]) == 2
    assert "not a PE file" in capsys.readouterr().err
