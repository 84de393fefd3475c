#!/usr/bin/env python3
"""Writes the small committed seeds of fuzz_helperwire, fuzz_reply,
fuzz_receipt and fuzz_bookmark into fuzz/corpus/<name>: the frames a client
sends (each request type, with refused items, several frames in one stream,
broken frames), the frames the tool answers with, receipts (modern and
legacy, XML and binary) as fuzz_receipt reads them, and the bookmark data of
Finder alias files. Files saved from findings ("regress-")
are left alone.

    python3 fuzz/make_seeds.py
"""
import json
import pathlib
import plistlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"
# fuzz_receipt's separator between the receipt and the bundle's Info.plist.
INFO_SEPARATOR = b"\n#Contents/Info.plist#\n"


def frame(message):
    payload = struct.pack(">I", len(message))
    for key, value in message.items():
        for text in (key, value):
            data = text.encode()
            payload += struct.pack(">I", len(data)) + data
    return struct.pack(">I", len(payload)) + payload


def compact(value):
    return json.dumps(value, separators=(",", ":"))


def request(kind, argument, packages=("com.example.pkg.Foo",)):
    if not isinstance(argument, str):
        argument = compact(argument)
    if not isinstance(packages, str):
        packages = compact(list(packages))
    return frame({"type": kind, "request": argument, "packages": packages})


def outcomes(*items, text=None):
    """A typed reply: items as (item, outcome[, reason[, errno]])."""
    letters = {"removed": "r", "gone": "g", "refused": "x", "failed": "f"}
    failures = []
    for item in items:
        if letters[item[1]] in "xf":
            failure = {"item": item[0], "reason": item[2] if len(item) > 2 else ""}
            if len(item) > 3:
                failure["errno"] = item[3]
            failures.append(failure)
    reply = {"outcomes": "".join(letters[item[1]] for item in items), "failures": failures}
    if text:
        reply["text"] = text
    return frame({"reply": compact(reply)})


def write(name, seeds):
    folder = CORPUS / name
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("seed-*"):
        old.unlink()
    for file_name, data in seeds.items():
        (folder / ("seed-" + file_name)).write_bytes(data)


def helperwire_seeds():
    delete = request("delete", ["/Applications/Foo.app", "/Library/Application Support/Foo/Icon\r",
                                "/private/tmp/foo", "/etc/foo.conf"])
    return {
        "delete": delete,
        "delete-refused": request("delete", ["/", "/System", "relative", "/Users/demo", "/Users/demo/Library",
                                             "/a/../b", "/a//b", "/top", "/private/etc", "/tmp", "/x/\u0000"]),
        "kill": request("kill", ["4242", "99"]),
        "kill-refused": request("kill", ["0", "1", "007", "-5", "4194305", "12a", ""]),
        "forget": request("forget", "com.example.pkg.Foo"),
        "forget-refused": request("forget", "../etc"),
        "empty-folder": request("deleteEmptyFolder", ["/Library/Foo", "/Library/Foo/Sub"]),
        "packages-missing": frame({"type": "kill", "request": "[]"}),
        "packages-not-an-array": request("kill", [], packages="com.example.pkg.Foo"),
        "packages-refused": request("kill", [], packages=["", "../x", "a/b"]),
        "not-an-array": request("delete", '{"a":1}'),
        "unknown-type": request("format", "/"),
        "four-keys": frame({"type": "kill", "request": "[]", "packages": "[\"a\"]", "extra": ""}),
        "two-frames": request("kill", ["4242"]) + request("forget", "a.b"),
        "cut-short": delete[:-3],
        "length-over-the-cap": struct.pack(">I", 64 * 1024 * 1024 + 1),
        "count-too-large": struct.pack(">II", 4, 1000),
        "bytes-after-last-entry": struct.pack(">II", 5, 0) + b"x",
        "not-utf8": struct.pack(">IIIB", 13, 1, 1, 0xFF) + struct.pack(">I", 0),
    }


def reply_seeds():
    receipt = "/private/var/db/receipts/com.example.pkg.Foo"
    return {
        "all-went": outcomes(("/Applications/Foo.app", "removed"), ("/Library/Foo", "gone")),
        "delete-failed": outcomes(("/Applications/Foo.app", "failed", "Operation not permitted", 1)),
        "delete-refused": outcomes(("/usr/lib/x", "refused", "no package being uninstalled lists it")),
        "kill-gone": outcomes(("4242", "gone")),
        "kill-failed": outcomes(("4242", "failed", "kill 4242: Operation not permitted", 1)),
        "forgot": outcomes((receipt + ".plist", "removed"), (receipt + ".bom", "removed"),
                           text="Forgot package 'com.example.pkg.Foo' on '/'."),
        "forget-refused": outcomes(("com.example.pkg.Foo", "refused", "it is an essential system package")),
        "forget-nothing": frame({"reply": compact({"outcomes": "", "failures": []})}),
        "old-form": frame({"reply": "{}"}),
        "not-json": frame({"reply": "[1,2"}),
        "no-reply-key": frame({"answer": "{}"}),
        "two-frames": outcomes(("/a", "removed")) + frame({"reply": "Forgot package x"}),
        "cut-short": outcomes(("/a", "removed"))[:-1],
        "nothing": b"",
    }


def receipt_seeds():
    modern = {"PackageIdentifier": "com.example.pkg.Foo", "PackageVersion": "1.0",
              "InstallPrefixPath": "Applications", "InstallProcessName": "installer",
              "PackageFileName": "Foo.pkg"}
    info = {"CFBundleIdentifier": "com.example.Legacy", "CFBundleShortVersionString": "2.1",
            "IFPkgRelocatedPath": "../../Users/Shared", "IFPkgFlagDefaultLocation": "/"}
    xml = plistlib.dumps(modern)
    return {
        "modern-and-legacy": xml + INFO_SEPARATOR + plistlib.dumps(info),
        "binary": plistlib.dumps(modern, fmt=plistlib.FMT_BINARY) + INFO_SEPARATOR
        + plistlib.dumps(info, fmt=plistlib.FMT_BINARY),
        "prefix-climbs": plistlib.dumps(dict(modern, InstallPrefixPath="../../../..//./etc")),
        "prefix-home": plistlib.dumps(dict(modern, InstallPrefixPath="~/Library")),
        "prefix-not-text": plistlib.dumps(dict(modern, InstallPrefixPath=[1, 2])),
        "array": plistlib.dumps(["a", 1]),
        "legacy-by-name": plistlib.dumps({"CFBundleName": "Legacy", "IFPkgFlagDefaultLocation": "/Library"}),
        "not-a-plist": b"<plist><dict><key>a</key>" + INFO_SEPARATOR + b"bplist00",
    }


def bookmark(components, volume=b"/"):
    """Bookmark data as a Finder alias file holds it: the header, the items,
    then one table of contents with the path's components and the volume."""
    def le(value):
        return struct.pack("<I", value)
    body = bytearray(4)

    def item(kind, data):
        at = len(body)
        body.extend(le(len(data)) + le(kind) + data + b"\0" * (-len(data) % 4))
        return at
    offsets = b"".join(le(item(0x0101, name.encode())) for name in components)
    path, mounted = item(0x0601, offsets), item(0x0101, volume)
    table = len(body)
    body.extend(le(36) + le(0xFFFFFFFE) + le(1) + le(0) + le(2)
                + le(0x1004) + le(path) + le(0) + le(0x2002) + le(mounted) + le(0))
    body[0:4] = le(table)
    return b"book" + le(48 + len(body)) + le(0x10040000) + le(48) + bytes(32) + bytes(body)


def bookmark_seeds():
    return {
        "application": bookmark(["Applications", "Foo.app"]),
        "other-disk": bookmark(["Users", "x", "notes.txt"], b"/Volumes/Other"),
        "climbing": bookmark(["..", "etc"]),
        "cut-short": bookmark(["Applications", "Foo.app"])[:70],
    }


if __name__ == "__main__":
    write("helperwire", helperwire_seeds())
    write("reply", reply_seeds())
    write("receipt", receipt_seeds())
    write("bookmark", bookmark_seeds())
