"""The release step of a release build: signed with a throw-away key, checked as a publisher and
Windows would check it, and on record.

Needs a configured release build (QERV_RELEASE_BUILD, as tests/release/reproducible_build.sh
leaves one) and the host's qerv-pack (QERV_HOST_BUILD, the host-release build). Each case signs
(or not) by building the target "release" with a key made here, outside the build folder."""

import hashlib
import os
import re
import secrets
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from time_stamp_server import TimeStampServer

ROOT = Path(__file__).resolve().parents[2]
SUBJECT = "CN=Qerv Release Test Publisher, O=Qerv Test, C=XX"
SIGN_ENVIRONMENT = ("QERV_SIGN_PKCS12", "QERV_SIGN_KEY", "QERV_SIGN_CERT", "QERV_SIGN_PASSWORD",
                    "QERV_SIGN_TIMESTAMP", "QERV_SIGN_DESCRIPTION", "QERV_SIGN_URL")


def _build_folder(variable, hint):
    value = os.environ.get(variable)
    if not value or not Path(value).is_dir():
        pytest.fail(f"{variable} must name {hint}")
    return Path(value).resolve()


@pytest.fixture(scope="module")
def release_build():
    return _build_folder("QERV_RELEASE_BUILD", "a configured windows-release build folder")


@pytest.fixture(scope="module")
def qerv_pack():
    return _build_folder("QERV_HOST_BUILD", "the host-release build") / "tools/qerv-pack/qerv-pack"


@pytest.fixture(scope="module")
def outside():
    """A folder outside the build folder for the keys and the copies, removed at the end."""
    folder = Path(tempfile.mkdtemp(prefix="qerv-release-test-"))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def _openssl(*arguments, stdin=None):
    return subprocess.run(["openssl", *map(str, arguments)], input=stdin, check=True,
                          capture_output=True).stdout


class Key:
    """A throw-away code-signing key and certificate, as PEM files and as a PKCS#12 file."""

    def __init__(self, folder):
        self.folder = folder
        self.key = folder / "publisher.key"
        self.cert = folder / "publisher.crt"
        self.pkcs12 = folder / "publisher.p12"
        self.password = secrets.token_urlsafe(18)
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                 "-subj", "/C=XX/O=Qerv Test/CN=Qerv Release Test Publisher",
                 "-keyout", self.key, "-out", self.cert,
                 "-addext", "keyUsage=critical,digitalSignature",
                 "-addext", "extendedKeyUsage=codeSigning")
        _openssl("pkcs12", "-export", "-inkey", self.key, "-in", self.cert, "-out", self.pkcs12,
                 "-passout", f"pass:{self.password}")
        public = _openssl("x509", "-in", self.cert, "-noout", "-pubkey")
        self.pin = hashlib.sha256(_openssl("pkey", "-pubin", "-outform", "DER",
                                           stdin=public)).hexdigest()

    def secrets(self):
        """Byte strings that only the key's holder has: the password, the private key's PEM
        lines and pieces of its DER form and of the PKCS#12 file."""
        found = [self.password.encode(), self.password.encode("utf-16-le")]
        found += [line.encode() for line in self.key.read_text().splitlines()
                  if not line.startswith("-----")]
        private = _openssl("pkey", "-in", self.key, "-outform", "DER")
        # The end of the DER form is the private CRT coefficient; the modulus in front of it is
        # public and is in every signature.
        found.append(private[-48:])
        pkcs12 = self.pkcs12.read_bytes()
        found.append(pkcs12[len(pkcs12) // 2:len(pkcs12) // 2 + 48])
        return found


@pytest.fixture(scope="module")
def key(outside):
    folder = outside / "key"
    folder.mkdir()
    return Key(folder)


class Release:
    """What one build of the target "release" printed and left in <build>/release, copied."""

    def __init__(self, build, copy, environment):
        clean = {name: value for name, value in os.environ.items()
                 if name not in SIGN_ENVIRONMENT}
        done = subprocess.run(["cmake", "--build", str(build), "--target", "release"],
                              env={**clean, **environment}, capture_output=True, text=True)
        self.log = done.stdout + done.stderr
        self.returncode = done.returncode
        shutil.copytree(build / "release", copy)
        self.folder = copy
        self.signed = copy / "QervSetupOnline.exe"
        self.unsigned = copy / "QervSetupOnline-unsigned.exe"
        self.record = copy / "QervSetupOnline-release.txt"

    def fields(self):
        """The record's fields: name to value, continuation lines joined by newlines."""
        fields = {}
        name = None
        for line in self.record.read_text().splitlines()[2:]:
            match = re.match(r"^([a-zA-Z+ -]+):\s+(.*)$", line)
            if match and not line.startswith(" "):
                name = match.group(1)
                fields[name] = match.group(2)
            elif name and line.strip():
                fields[name] += "\n" + line.strip()
        return fields


def _release(release_build, outside, name, environment):
    release = Release(release_build, outside / name, environment)
    assert release.returncode == 0, release.log
    return release


@pytest.fixture(scope="module")
def pkcs12_release(release_build, outside, key):
    return _release(release_build, outside, "pkcs12", {
        "QERV_SIGN_PKCS12": str(key.pkcs12), "QERV_SIGN_PASSWORD": key.password})


NAME = "Qerv Release Test Setup"
ADDRESS = "https://www.example.com/qerv"


@pytest.fixture(scope="module")
def pem_release(release_build, outside, key):
    return _release(release_build, outside, "pem", {
        "QERV_SIGN_KEY": str(key.key), "QERV_SIGN_CERT": str(key.cert),
        "QERV_SIGN_DESCRIPTION": NAME, "QERV_SIGN_URL": ADDRESS})


@pytest.fixture(scope="module")
def stamped_release(release_build, outside, key):
    folder = outside / "time-stamps"
    folder.mkdir()
    with TimeStampServer(folder) as server:
        release = _release(release_build, outside, "stamped", {
            "QERV_SIGN_PKCS12": str(key.pkcs12), "QERV_SIGN_PASSWORD": key.password,
            "QERV_SIGN_TIMESTAMP": server.url})
        assert server.requests == 1
    release.authority = folder / "tsa.crt"
    release.url = server.url
    return release


@pytest.fixture(scope="module")
def unsigned_release(release_build, outside):
    return _release(release_build, outside, "unsigned", {})


def _sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def _osslsigncode(*arguments):
    return subprocess.run(["osslsigncode", *map(str, arguments)], capture_output=True, text=True)


@pytest.mark.parametrize("variant", ["pkcs12_release", "pem_release", "stamped_release"])
def test_signed_program_is_the_unsigned_one_plus_a_signature(variant, request, release_build,
                                                              key):
    release = request.getfixturevalue(variant)
    assert f"signed by {SUBJECT}" in release.log
    verify = ["verify", "-in", release.signed, "-CAfile", key.cert]
    if variant == "stamped_release":
        verify += ["-TSA-CAfile", release.authority]
    shown = _osslsigncode(*verify)
    assert shown.returncode == 0, shown.stdout + shown.stderr
    assert "/C=XX/O=Qerv Test/CN=Qerv Release Test Publisher" in shown.stdout
    assert "Message digest algorithm  : SHA256" in shown.stdout
    # osslsigncode 2.5 and 2.9 say it in their own words.
    stamped = re.search(r"Timestamp time:|The signature is timestamped:", shown.stdout)
    assert bool(stamped) == (variant == "stamped_release")
    removed = release.folder.parent / f"{variant}-removed.exe"
    assert _osslsigncode("remove-signature", "-in", release.signed,
                         "-out", removed).returncode == 0
    linked = release_build / "src/app/QervSetupOnline.exe"
    assert removed.read_bytes() == release.unsigned.read_bytes() == linked.read_bytes()


def test_signature_carries_the_name_and_address_given(pem_release, pkcs12_release):
    shown = _osslsigncode("verify", "-in", pem_release.signed).stdout
    assert f"URL description: {ADDRESS}" in shown
    # osslsigncode 2.5 does not show the name; the signature holds it as ASCII text.
    assert NAME.encode() in pem_release.signed.read_bytes()
    assert NAME.encode() not in pkcs12_release.signed.read_bytes()


def test_qerv_pack_shows_the_setups_own_signer_and_pin(pkcs12_release, qerv_pack, key):
    signed = subprocess.run([qerv_pack, "inspect", pkcs12_release.signed], capture_output=True,
                            text=True, check=True).stdout
    assert f"signer: {SUBJECT}\n" in signed
    assert f"signer pin: {key.pin}\n" in signed
    unsigned = subprocess.run([qerv_pack, "inspect", pkcs12_release.unsigned],
                              capture_output=True, text=True, check=True).stdout
    assert "signer: none" in unsigned


def test_record_names_what_went_into_the_release(pkcs12_release, stamped_release, release_build,
                                                 key):
    fields = pkcs12_release.fields()
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True,
                            text=True, check=True).stdout.strip()
    assert fields["commit"].startswith(commit)
    epoch = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                           capture_output=True, text=True, check=True).stdout.strip()
    if "SOURCE_DATE_EPOCH" not in os.environ:
        assert fields["PE time stamp"].startswith(f"{epoch} (")
    cache = (release_build / "CMakeCache.txt").read_text()
    server = re.search(r"^QERV_UPDATE_SERVER:STRING=(.*)$", cache, re.M).group(1)
    pins = re.search(r"^QERV_INSTALLER_SIGNERS:STRING=(.*)$", cache, re.M).group(1)
    deps = Path(re.search(r"^QERV_DEPS_DIR:PATH=(.*)$", cache, re.M).group(1))
    assert fields["update server"] == server
    assert fields["installer signers"].split("\n") == pins.split(";")
    minimum = re.search(r"^QERV_MIN_INSTALLER_VERSION:STRING=(.*)$", cache, re.M).group(1)
    assert fields["lowest installer"] == (minimum or "none: any version")
    (dsc,) = (deps / "curl-src").glob("curl_*.dsc")
    revision = dsc.name[len("curl_"):-len(".dsc")]
    assert fields["libcurl"].startswith(f"{revision.split('-')[0]}, from Debian's source "
                                        f"package curl {revision}")
    (applied,) = deps.glob(f"curl-{revision}-*-mapped/applied-patches")
    patches = applied.read_text().split()
    first, *listed = fields["libcurl patches"].split("\n")
    assert first.startswith(f"{len(patches)} of Debian's") and listed == patches
    for name, program in [("C compiler", "i686-w64-mingw32-gcc-posix"),
                          ("C++ compiler", "i686-w64-mingw32-g++-posix"),
                          ("linker", "i686-w64-mingw32-ld"),
                          ("resource compiler", "i686-w64-mingw32-windres")]:
        version = subprocess.run([program, "--version"], capture_output=True, text=True,
                                 check=True).stdout.splitlines()[0]
        assert fields[name] == version
    assert "gcc-mingw-w64-i686-posix " in fields["Debian packages"]
    assert "binutils-mingw-w64-i686 " in fields["Debian packages"]
    unsigned = pkcs12_release.unsigned
    assert fields["unsigned program"] == (f"QervSetupOnline-unsigned.exe, "
                                          f"{unsigned.stat().st_size} bytes\n"
                                          f"SHA-256 {_sha256(unsigned)}")
    signed = pkcs12_release.signed
    assert fields["signed program"] == (f"QervSetupOnline.exe, {signed.stat().st_size} bytes\n"
                                        f"SHA-256 {_sha256(signed)}")
    assert fields["signer"] == SUBJECT
    assert fields["signer pin"] == key.pin
    assert re.fullmatch(r"osslsigncode [0-9.]+, SHA-256 digest, no time stamp",
                        fields["signed with"])
    assert stamped_release.fields()["signed with"].endswith(
        f"time-stamped by {stamped_release.url}")


def test_without_a_key_the_release_says_it_is_unsigned(unsigned_release):
    assert "QervSetupOnline.exe is NOT SIGNED: no signing key was given" in unsigned_release.log
    assert not unsigned_release.signed.exists()
    fields = unsigned_release.fields()
    assert fields["signed program"].startswith("none: no signing key was given")
    assert "signer" not in fields
    assert fields["unsigned program"].endswith(f"SHA-256 {_sha256(unsigned_release.unsigned)}")


def test_half_a_key_is_refused(release_build, outside, key):
    release = Release(release_build, outside / "half", {"QERV_SIGN_KEY": str(key.key)})
    assert release.returncode != 0
    assert "QERV_SIGN_KEY and QERV_SIGN_CERT go together" in release.log
    assert not release.signed.exists()


def test_no_key_material_in_the_build_folder_the_record_or_the_logs(
        pkcs12_release, pem_release, stamped_release, release_build, key):
    needles = key.secrets()
    places = [("log of " + name, release.log.encode())
              for name, release in [("pkcs12", pkcs12_release), ("pem", pem_release),
                                    ("stamped", stamped_release)]]
    deps = release_build.parent / "deps"
    for folder in [release_build, deps] + [r.folder for r in (pkcs12_release, pem_release)]:
        for path in folder.rglob("*"):
            if path.is_file() and not path.is_symlink():
                places.append((str(path), path.read_bytes()))
    leaks = [(place, needle[:12]) for place, data in places for needle in needles
             if needle in data]
    assert not leaks


@pytest.fixture(scope="module")
def win_verify_trust(outside):
    """Runs the helper win_verify_trust.exe under Wine in a prefix of its own."""
    bits = subprocess.run([ROOT / "scripts/wine-arch.sh"], capture_output=True, text=True,
                          check=True).stdout.strip()
    triple = "i686-w64-mingw32" if bits == "32" else "x86_64-w64-mingw32"
    program = outside / "win_verify_trust.exe"
    subprocess.run([f"{triple}-g++-posix", "-O2", "-Wall", "-Wextra", "-municode", "-static",
                    "-o", program, Path(__file__).with_name("win_verify_trust.cpp"),
                    "-lwintrust"], check=True)
    prefix = outside / "wineprefix"
    environment = {**os.environ, "QERV_WINEPREFIX": str(prefix)}

    def run(path):
        return subprocess.run([ROOT / "scripts/wine-run.sh", program, f"Z:{path}"],
                              env=environment, capture_output=True, text=True, timeout=300)

    yield run
    subprocess.run(["wineserver", "-k"], env={**os.environ, "WINEPREFIX": str(prefix)})


# What WinVerifyTrust says of the signed setup, of the unsigned one, and of the signed one
# changed after signing.
@pytest.mark.parametrize("which, result", [
    ("signed", "0x00000000"),
    ("unsigned", "0x800B0100"),
    ("changed", "0x80096010"),
])
def test_windows_accepts_the_signed_setup(which, result, pkcs12_release, win_verify_trust):
    path = {"signed": pkcs12_release.signed, "unsigned": pkcs12_release.unsigned}.get(which)
    if which == "changed":
        path = pkcs12_release.folder / "QervSetupOnline-changed.exe"
        data = bytearray(pkcs12_release.signed.read_bytes())
        data[0x2000] ^= 0x01  # a byte of the code
        path.write_bytes(data)
    done = win_verify_trust(path)
    assert f"WinVerifyTrust {result}" in done.stdout, done.stdout + done.stderr
    assert done.returncode == (0 if which == "signed" else 1)


def test_release_program_keeps_its_shape(unsigned_release):
    """Linked stripped, the program still imports only what it should and keeps its late-import
    stubs (tests/pe/pe_shape.py)."""
    done = subprocess.run(["/usr/bin/python3", ROOT / "tests/pe/pe_shape.py",
                           unsigned_release.unsigned, "x86", ROOT / "tests/pe/vista_functions.txt"],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
