#!/usr/bin/env python3
"""The session record's schema, the examples of docs/record.md, and tests/tools/check-record.py."""

import copy
import json
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from jsonschema import Draft202012Validator

ROOT = Path(__file__).resolve().parents[2]
SCHEMA_PATH = ROOT / "docs" / "record.schema.json"
DOC = (ROOT / "docs" / "record.md").read_text(encoding="utf-8")
CHECK = Path(__file__).resolve().parent / "check-record.py"
SCHEMA = json.loads(SCHEMA_PATH.read_text(encoding="utf-8"))
EXAMPLES = [line for block in re.findall(r"```json\n(.*?)```", DOC, re.S) for line in block.splitlines() if line]
# The doc's first example: an ok session with an upload and a serial write.
GOOD = json.loads(EXAMPLES[0])


def setting(path, value):
    """A mutation that sets the key at path (keys separated by '.')."""

    def mutate(record):
        *parents, last = path.split(".")
        for key in parents:
            record = record[key]
        record[last] = value

    return mutate


def removing(path):
    def mutate(record):
        *parents, last = path.split(".")
        for key in parents:
            record = record[key]
        del record[last]

    return mutate


def both(*mutations):
    def mutate(record):
        for m in mutations:
            m(record)

    return mutate


def failed(reason):
    return both(setting("result", "failed"), setting("reason", reason))


# Faults a writer could make; each must be refused.
REFUSED = {
    "missing top-level key": removing("host"),
    "missing nested key": removing("device.location"),
    "missing key of file": removing("file.items"),
    "extra top-level key": setting("time", "2026-12-09T13:10:23.456Z"),
    "extra key in device": setting("device.serial", "x"),
    "extra key in items": setting("file.items.date", "x"),
    "schema 1": setting("schema", 1),
    "schema as a string": setting("schema", "2"),
    "other tool name": setting("tool.name", "tolvane"),
    "ok with a reason": setting("reason", "timeout"),
    "failed without a reason": setting("result", "failed"),
    "reason not in the list": failed("removed"),
    "result neither ok nor failed": setting("result", "OK"),
    "time without milliseconds": setting("started", "2026-12-09T13:10:23Z"),
    "time with an offset instead of Z": setting("ended", "2026-12-09T14:10:23.456+01:00"),
    "local time with a space": setting("ended", "2026-12-09 13:10:23.456"),
    "time with a trailing line break": setting("started", "2026-12-09T13:10:23.456Z\n"),
    "vendorId upper case": setting("device.vendorId", "120A"),
    "vendorId as a number": setting("device.vendorId", 4617),
    "productId not padded": setting("device.productId", "43"),
    "productId with 0x": setting("device.productId", "0x0043"),
    "serialWritten true with written null": setting("written", None),
    "durationMs negative": setting("durationMs", -1),
    "durationMs fractional": setting("durationMs", 1.5),
    "firmwareType 3": setting("firmwareType", 3),
    "firmwareType as a string": setting("firmwareType", "2"),
    "firmwareType true": setting("firmwareType", True),
    "serial block column null": setting("serialBlock.ser", None),
    "written as the command's text": setting("written", "P2301A000417 B2210C000388 QM0000012345"),
    "file size over 32 bits": setting("file.size", 2**31),
    "file size below 32 bits": setting("file.size", -(2**31) - 1),
    "verified as text": setting("file.verified", "yes"),
    "serialWritten as 1": setting("serialWritten", 1),
    "slot as a number": setting("slot", 2),
    "file as an empty object": setting("file", {}),
}

# Legitimate records; each must be accepted.
ACCEPTED = {
    "no slot, no location": both(setting("slot", None), setting("device.location", None)),
    "no upload": both(setting("file", None), setting("written", None), setting("serialWritten", False),
                      failed("serial-not-written")),
    "items with null members": both(setting("file.items.bat", None), setting("file.items.ser", None),
                                    setting("written", None), setting("serialWritten", False),
                                    failed("serial-write-failed")),
    "file not parsed, no time stamp": both(setting("file.items", None), setting("file.timeStamp", None),
                                           setting("file.verified", False), setting("written", None),
                                           setting("serialWritten", False), failed("verify-ng")),
    "nothing read": both(setting("firmware", None), setting("firmwareType", None), setting("serialBlock", None),
                         setting("file", None), setting("written", None), setting("serialWritten", False),
                         failed("identity-not-read")),
    "written refused": both(setting("serialWritten", False), failed("serial-write-refused")),
    "negative announced size": setting("file.size", -(2**31)),
    "zero duration, type-0 firmware": both(setting("durationMs", 0), setting("firmwareType", 0)),
    "values with spaces and non-ASCII": setting("written.ser", "QM 0000 ｸｲﾙ"),
}


def errors(record):
    return list(Draft202012Validator(SCHEMA).iter_errors(record))


class RecordSchema(unittest.TestCase):
    def test_schema_is_a_valid_2020_12_schema(self):
        Draft202012Validator.check_schema(SCHEMA)

    def test_examples_of_the_doc_are_valid(self):
        self.assertGreaterEqual(len(EXAMPLES), 2)
        for number, line in enumerate(EXAMPLES, 1):
            with self.subTest(example=number):
                self.assertEqual(errors(json.loads(line)), [])

    def test_reasons_of_the_doc_are_those_of_the_schema(self):
        documented = re.findall(r"^\| `([a-z-]+)` \|", DOC.split("## Reasons")[1].split("##")[0], re.M)
        self.assertEqual(sorted(documented), sorted(r for r in SCHEMA["properties"]["reason"]["enum"] if r))

    def test_faults_are_refused(self):
        for name, mutate in REFUSED.items():
            with self.subTest(name):
                record = copy.deepcopy(GOOD)
                mutate(record)
                self.assertNotEqual(errors(record), [], "accepted")

    def test_legitimate_variants_are_accepted(self):
        for name, mutate in ACCEPTED.items():
            with self.subTest(name):
                record = copy.deepcopy(GOOD)
                mutate(record)
                self.assertEqual([e.message for e in errors(record)], [])


V1 = (b'{"time":"2026-12-09T13:10:23.456Z","product":"Quillmark","firmware":"1.0.05","firmwareType":2,'
      b'"pcb":"P2301A000417","bat":"B2210C000388","ser":"QM0000012345","fileVerified":true,'
      b'"serialWritten":true,"result":"ok","reason":null}')


class CheckRecord(unittest.TestCase):
    def run_check(self, content):
        with tempfile.NamedTemporaryFile(suffix=".jsonl") as f:
            f.write(content)
            f.flush()
            run = subprocess.run([sys.executable, str(CHECK), str(SCHEMA_PATH), f.name], capture_output=True,
                                 text=True, timeout=30)
        return run.returncode, [int(line.split(":")[1]) for line in run.stdout.splitlines()], run.stderr

    def test_files(self):
        good = [line.encode() for line in EXAMPLES]
        bad = json.dumps({**GOOD, "result": "failed"}).encode()
        cases = {
            # name: content, exit code, bad line numbers
            "good lines": (b"\n".join(good) + b"\n", 0, []),
            "empty file": (b"", 0, []),
            "a bad line among good ones": (good[0] + b"\n" + bad + b"\n" + good[1] + b"\n", 1, [2]),
            "unterminated last line": (good[0] + b"\n" + good[1], 1, [2]),
            "a version 1 line": (V1 + b"\n" + good[0] + b"\n", 1, [1]),
            "an empty line": (good[0] + b"\n\n", 1, [2]),
            "CRLF line end": (good[0] + b"\r\n", 1, [1]),
            "a key twice": (good[0][:-1] + b',"reason":null}\n', 1, [1]),
            "not UTF-8": (good[0].replace(b"Quillmark", b"Quill\x83mark") + b"\n", 1, [1]),
        }
        for name, (content, code, lines) in cases.items():
            with self.subTest(name):
                self.assertEqual(self.run_check(content)[:2], (code, lines))

    def test_usage_error(self):
        run = subprocess.run([sys.executable, str(CHECK), str(SCHEMA_PATH)], capture_output=True, timeout=30)
        self.assertEqual(run.returncode, 2)


if __name__ == "__main__":
    unittest.main()
