#!/usr/bin/env python3
# pelto-pack's JSON Schema is a valid schema, the examples validate against it, and it refuses
# what check refuses wherever a schema can say so.
import json, os, subprocess, sys, tempfile, tomllib
import jsonschema

pack, examples = sys.argv[1], sys.argv[2]
schema = json.loads(subprocess.run([pack, "schema"], check=True, capture_output=True, text=True).stdout)
jsonschema.Draft7Validator.check_schema(schema)
for name in ("hello-service.toml", "every-key.toml"):
    with open(f"{examples}/{name}", "rb") as f:
        jsonschema.validate(tomllib.load(f), schema)

BASE = '[service]\nname = "S"\n[application]\nmain-class = "a.B"\n'
# Each row: the configuration, and whether check and the schema both accept it.
ROWS = [
    (BASE, True),
    (BASE + '[service.log]\nfile = "logs/service.log"\n[java]\nsearch = []\n', True),
    ('[service]\nnmae = "x"\n', False),
    ('[service]\nname = "S"\n', False),
    ('[application]\nmain-class = "a.B"\n', False),
    ('[service]\nname = "a/b"\n[application]\nmain-class = "a.B"\n', False),
    ('[service]\nname = "' + "x" * 257 + '"\n[application]\nmain-class = "a.B"\n', False),
    (BASE + '[service.recovery]\nrestart-after = []\n', False),
    (BASE + '[service.recovery]\nreset-after = "500ms"\n', False),
    (BASE + '[service.log]\nfile = "logs/"\n', False),
    (BASE.replace('"a.B"', '"a.B"\ndirectory = "C:/app"'), False),
    (BASE.replace('"a.B"', '"a.B"\ndirectory = "/app"'), False),
    (BASE.replace('"a.B"', '"a.B"\nclasspath = ["lib/\u00c4rger.jar"]'), False),
    (BASE + '[jvm]\noptions = ["Xmx512m"]\n', False),
    (BASE + '[java]\nmin-version = 11\n', False),
]
validator = jsonschema.Draft7Validator(schema)
failures = []
with tempfile.TemporaryDirectory() as work:
    config = os.path.join(work, "c.toml")
    for text, valid in ROWS:
        with open(config, "w", encoding="utf-8") as f:
            f.write(text)
        checked = subprocess.run([pack, "check", config], capture_output=True).returncode == 0
        schema_ok = validator.is_valid(tomllib.loads(text))
        if checked != valid or schema_ok != valid:
            failures.append(f"check {checked}, schema {schema_ok}, expected {valid}:\n{text}")
if failures:
    sys.exit("\n".join(failures))
