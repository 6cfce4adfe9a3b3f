#!/usr/bin/env python3
"""check-record.py SCHEMA FILE...

Checks that every line of each FILE is a version 2 tolvane-cli session record: ended by '\\n',
one JSON object, valid against SCHEMA. Prints FILE:LINE: ERROR for each bad line.
Exit 0 when every line is valid, 1 otherwise, 2 on a usage error or an unusable SCHEMA.
"""

import json
import sys

from jsonschema import Draft202012Validator
from jsonschema.exceptions import SchemaError, best_match


def no_duplicate_keys(pairs):
    # json would keep the last of two equal keys; a reader of the file might take the first.
    keys = [key for key, _ in pairs]
    for key in keys:
        if keys.count(key) > 1:
            raise ValueError(f"key {key!r} appears twice")
    return dict(pairs)


def no_constant(name):
    raise ValueError(f"{name} is not JSON")


def line_error(validator, raw):
    """What is wrong with one line (its '\\n' removed), or None."""
    if raw.endswith(b"\r"):
        return "carriage return before the line break"
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        return f"not UTF-8: {e}"
    try:
        record = json.loads(text, object_pairs_hook=no_duplicate_keys, parse_constant=no_constant)
    except ValueError as e:
        return f"not JSON: {e}"
    errors = list(validator.iter_errors(record))
    if not errors:
        return None
    error = best_match(errors)
    where = "/" + "/".join(str(part) for part in error.absolute_path)
    more = f" (and {len(errors) - 1} more)" if len(errors) > 1 else ""
    return f"{where}: {error.message}{more}"


def file_errors(validator, path):
    """(line number, error) for each bad line of the file at path."""
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n")
    tail = lines.pop()  # empty when the last line was ended
    errors = []
    for number, raw in enumerate(lines, 1):
        error = line_error(validator, raw)
        if error:
            errors.append((number, error))
    if tail:
        errors.append((len(lines) + 1, "last line not ended by a line break (a write cut short)"))
    return errors


def main(argv):
    if len(argv) < 3:
        print("usage: check-record.py SCHEMA FILE...", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            schema = json.load(f)
        Draft202012Validator.check_schema(schema)
    except (OSError, ValueError, SchemaError) as e:
        print(f"{argv[1]}: unusable schema: {e}", file=sys.stderr)
        return 2
    validator = Draft202012Validator(schema)
    bad = False
    for path in argv[2:]:
        try:
            errors = file_errors(validator, path)
        except OSError as e:
            print(f"{path}: {e.strerror}")
            bad = True
            continue
        for number, error in errors:
            print(f"{path}:{number}: {error}")
        bad = bad or bool(errors)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
