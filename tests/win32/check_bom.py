#!/usr/bin/python3
"""Checks the Windows package's bill of materials.

    check_bom.py TITLE.cdx.json TITLE.unsigned.exe FIRMWARE_IMAGE SCHEMA_DIR

- valid against the CycloneDX 1.5 JSON schema in SCHEMA_DIR (the copies
  committed under cmake/cyclonedx, with the spdx and jsf schemas it refers
  to, resolved locally: nothing is fetched);
- the package's SHA-256 is the unsigned executable's, the firmware image's the
  image file's, and the image's revision is the one the title ends with;
- it names the runtimes linked in and the JSON library, each with a version.
Exits 1 when any check fails. Run with Debian's python3 (python3-jsonschema).
"""
import hashlib
import json
import os
import sys

import jsonschema

SCHEMAS = ("bom-1.5", "spdx", "jsf-0.82")
# The bom schema refers to the others by their file names relative to its
# own $id; each schema also declares an $id of its own.
BASE = "http://cyclonedx.org/schema/"


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main(bom_path, unsigned, image, schema_dir):
    failures = []

    def check(name, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + name + (": " + detail if detail else ""))
        if not ok:
            failures.append(name)

    store = {}
    for name in SCHEMAS:
        with open(os.path.join(schema_dir, name + ".SNAPSHOT.schema.json"), encoding="utf-8") as f:
            schema = json.load(f)
        store[schema["$id"]] = schema
        store[BASE + name + ".SNAPSHOT.schema.json"] = schema
    root = store[BASE + "bom-1.5.SNAPSHOT.schema.json"]
    resolver = jsonschema.RefResolver(BASE + "bom-1.5.SNAPSHOT.schema.json", root, store=store)
    validator = jsonschema.Draft7Validator(root, resolver=resolver)

    with open(bom_path, encoding="utf-8") as f:
        bom = json.load(f)
    errors = sorted(validator.iter_errors(bom), key=lambda e: list(e.absolute_path))
    check("valid CycloneDX 1.5 (schema " + os.path.join(schema_dir, "bom-1.5.SNAPSHOT.schema.json")
          + ")", not errors, "; ".join(
              "/".join(map(str, e.absolute_path)) + ": " + e.message for e in errors[:5]))

    def digest_of(component):
        return {h["alg"]: h["content"] for h in component.get("hashes", [])}.get("SHA-256")

    package = bom.get("metadata", {}).get("component", {})
    title = os.path.basename(unsigned).removesuffix(".unsigned.exe")
    check("package " + title, package.get("name") == title and package.get("type") == "application",
          str(package.get("name")))
    check("package SHA-256 is the unsigned executable's",
          digest_of(package) == sha256(unsigned), str(digest_of(package)))

    components = {c.get("bom-ref"): c for c in bom.get("components", [])}
    firmware = components.get("firmware-image", {})
    check("firmware image SHA-256 is the image file's",
          firmware.get("type") == "firmware" and digest_of(firmware) == sha256(image),
          str(digest_of(firmware)))
    check("firmware image revision is the title's", title.endswith("_" + str(firmware.get("version"))),
          str(firmware.get("version")))
    for ref in ("libgcc", "libstdc++", "mingw-w64-crt", "winpthreads", "nlohmann-json"):
        version = components.get(ref, {}).get("version", "")
        check("component " + ref, bool(version), version or "missing")

    if failures:
        print(f"{len(failures)} check(s) of {bom_path} failed")
        return 1
    print(f"all checks of {os.path.basename(bom_path)} passed")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
