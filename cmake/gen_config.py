#!/usr/bin/env python3
"""Turns the JSON configuration into C++ source in which no value is stored as plain text.

Every value is kept as bytes XOR-ed with a key stream (splitmix64) whose seed is derived from
the configuration file and the value's name, and is rebuilt at run time by config_values.cpp.
The file is validated here, so a bad configuration fails the build instead of the player.

usage: gen_config.py CONFIG.json OUTPUT.cpp
"""
import hashlib
import json
import sys

# name in the file -> (accessor, kind, check)
NARROW, WIDE, WIDE_LIST, NARROW_LIST = "narrow", "wide", "wide_list", "narrow_list"


def need_len(n):
    return lambda v: len(v) == n or f"must have {n} entries/characters, has {len(v)}"


def nonempty(v):
    return len(v) > 0 or "must not be empty"


def https_url(v):
    return v.startswith("https://") or v.startswith("http://") or "must be an http(s) address"


SCHEMA = {
    "platform_base_url": ("PlatformBaseUrl", WIDE, https_url),
    "pin_list_url": ("PinListUrl", WIDE, https_url),
    "version_url": ("VersionUrl", WIDE, https_url),
    "version_path": ("VersionPath", WIDE, nonempty),
    "content_path": ("ContentPath", WIDE, nonempty),
    "page_script_url_prefix": ("PageScriptUrlPrefix", NARROW, https_url),
    "form_token_field": ("FormTokenField", NARROW, nonempty),
    "form_content_link_field": ("FormContentLinkField", NARROW, nonempty),
    "constant_header_name": ("ConstantHeaderName", WIDE, nonempty),
    "constant_header_value": ("ConstantHeaderValue", WIDE, nonempty),
    "x_secret": ("XSecret", WIDE, nonempty),
    "content_wrapper_key": ("ContentWrapperKey", NARROW, nonempty),
    "content_type_key": ("ContentTypeKey", NARROW, nonempty),
    "content_url_key": ("ContentUrlKey", NARROW, nonempty),
    "content_video_url_key": ("ContentVideoUrlKey", NARROW, nonempty),
    "content_watermark_key": ("ContentWatermarkKey", NARROW, nonempty),
    "content_script_id_key": ("ContentScriptIdKey", NARROW, nonempty),
    "client_user_agent": ("ClientUserAgent", WIDE, nonempty),
    "primary_domain": ("PrimaryDomain", WIDE, nonempty),
    "allowed_domains": ("AllowedDomains", WIDE_LIST, need_len(39)),
    "cdn_family_a": ("CdnFamilyA", WIDE_LIST, need_len(2)),
    "cdn_family_b": ("CdnFamilyB", WIDE_LIST, need_len(2)),
    "identification_header_name": ("IdentificationHeaderName", WIDE, nonempty),
    "identification_header_value": ("IdentificationHeaderValue", WIDE, nonempty),
    "identification_url_patterns": ("IdentificationUrlPatterns", WIDE_LIST, need_len(3)),
    "init_start_url": ("InitStartUrl", WIDE, https_url),
    "init_home_url": ("InitHomeUrl", WIDE, https_url),
    "init_header_names": ("InitHeaderNames", WIDE_LIST, need_len(2)),
    "init_header_value": ("InitHeaderValue", WIDE, nonempty),
    "youtube_domain": ("YouTubeDomain", WIDE, nonempty),
    "youtube_short_domain": ("YouTubeShortDomain", WIDE, nonempty),
    "youtube_embed_prefix": ("YouTubeEmbedPrefix", WIDE, https_url),
    "zoom_domain": ("ZoomDomain", WIDE, nonempty),
    "fallback_download_url": ("FallbackDownloadUrl", WIDE, https_url),
    "download_hosts": ("DownloadHosts", WIDE_LIST, lambda v: all(h == h.lower() and "/" not in h for h in v)
                       or "must be lower-case host names"),
    "runtime_installer_url": ("RuntimeInstallerUrl", WIDE, https_url),
}
SPECIAL = {"link_key_hex", "diagnostic_key", "builtin_pins", "known_inspectors"}


class Fail(Exception):
    pass


def check_rule(result, what):
    """A rule answers True or the text of what is wrong."""
    if result is not True:
        raise Fail(f"{what}: {result}")


def require(ok, what, why):
    if not ok:
        raise Fail(f"{what}: {why}")


class Emitter:
    def __init__(self, digest):
        self.digest = digest
        self.blobs = []  # lines of C++ data
        self.count = 0

    def blob(self, name, data: bytes):
        """Stores data obfuscated; returns the C++ expression that reveals it as std::string."""
        seed = int.from_bytes(hashlib.sha256(self.digest + name.encode()).digest()[:8], "little")
        out = bytearray()
        state = seed
        stream = b""
        for b in data:
            if not stream:
                state, word = splitmix(state)
                stream = word.to_bytes(8, "little")
            out.append(b ^ stream[0])
            stream = stream[1:]
        ident = f"kBlob{self.count}"
        self.count += 1
        body = ", ".join(f"0x{b:02x}" for b in out) if out else "0"
        self.blobs.append(f"const unsigned char {ident}[] = {{{body}}};")
        return f"Reveal({ident}, {len(out)}, 0x{seed:016x}ULL)"


def splitmix(state):
    state = (state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
    z = state
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
    return state, z ^ (z >> 31)


def generate(cfg, raw):
    em = Emitter(hashlib.sha256(raw).digest())
    fns = []

    def string_value(key):
        v = cfg.get(key)
        require(isinstance(v, str), key, "must be a string")
        return v

    def string_list(key):
        v = cfg.get(key)
        require(isinstance(v, list) and all(isinstance(x, str) and x for x in v), key, "must be a list of non-empty strings")
        return v

    for key, (fn, kind, rule) in SCHEMA.items():
        if key not in cfg:
            raise Fail(f"{key}: missing")
        if kind in (NARROW, WIDE):
            v = string_value(key)
            check_rule(rule(v), key)
            expr = em.blob(key, v.encode())
            if kind == NARROW:
                fns.append(f"std::string {fn}() {{ return {expr}; }}")
            else:
                fns.append(f"std::wstring {fn}() {{ return Widen({expr}); }}")
        else:
            v = string_list(key)
            check_rule(rule(v), key)
            items = ", ".join(em.blob(f"{key}[{i}]", s.encode()) for i, s in enumerate(v))
            if kind == WIDE_LIST:
                fns.append(f"std::vector<std::wstring> {fn}() {{ return WidenAll({{{items}}}); }}")
            else:
                fns.append(f"std::vector<std::string> {fn}() {{ return {{{items}}}; }}")

    key_hex = string_value("link_key_hex")
    try:
        key = bytes.fromhex(key_hex)
    except ValueError:
        raise Fail("link_key_hex: not hexadecimal")
    require(len(key) == 32, "link_key_hex", "must be 32 bytes (64 hex digits)")
    fns.append(f"SecretBytes LinkKey() {{ return SecretBytes({em.blob('link_key', key)}); }}")

    diag = string_value("diagnostic_key").encode()
    require(len(diag) == 16, "diagnostic_key", "must be 16 bytes")
    fns.append(f"SecretBytes DiagnosticKey() {{ return SecretBytes({em.blob('diagnostic_key', diag)}); }}")

    pins = cfg.get("builtin_pins")
    require(isinstance(pins, dict), "builtin_pins", "must be an object")
    scope = pins.get("scope")
    require(isinstance(scope, str) and scope, "builtin_pins", "scope must be a non-empty string")
    plist = pins.get("pins")
    require(isinstance(plist, list) and len(plist) == 4, "builtin_pins.pins", "must hold 4 pins")
    for p in plist:
        require(isinstance(p, str) and len(p) == 44, "builtin_pins.pins", "each pin is 44 Base64 characters")
    fns.append(f"std::wstring BuiltinPinScope() {{ return Widen({em.blob('pin_scope', scope.encode())}); }}")
    items = ", ".join(em.blob(f"pin[{i}]", p.encode()) for i, p in enumerate(plist))
    fns.append(f"std::vector<std::string> BuiltinPins() {{ return {{{items}}}; }}")

    table = cfg.get("known_inspectors")
    require(isinstance(table, list) and len(table) == 21, "known_inspectors", "must hold 21 entries")
    rows = []
    for i, e in enumerate(table):
        where = f"known_inspectors[{i}]"
        require(isinstance(e, dict), where, "must be an object")
        issuer, procs, signer = e.get("issuer"), e.get("processes"), e.get("signer")
        require(isinstance(issuer, str) and isinstance(signer, str), where, "issuer and signer are strings")
        require(isinstance(procs, list) and procs and all(isinstance(p, str) and p for p in procs), where, "processes is a non-empty list of strings")
        for text in [issuer, signer, *procs]:
            require(text == text.lower(), where, "texts are lower case")
        names = ", ".join(f"Widen({em.blob(f'{where}.p{j}', p.encode())})" for j, p in enumerate(procs))
        rows.append(f"  out.push_back({{Widen({em.blob(where + '.issuer', issuer.encode())}), {{{names}}}, "
                    f"Widen({em.blob(where + '.signer', signer.encode())})}});")
    fns.append("std::vector<InspectorEntry> KnownInspectors() {\n  std::vector<InspectorEntry> out;\n"
               "  out.reserve(21);\n" + "\n".join(rows) + "\n  return out;\n}")

    unknown = set(cfg) - set(SCHEMA) - SPECIAL
    unknown = {k for k in unknown if not k.startswith("_")}
    if unknown:
        raise Fail(f"unknown keys: {', '.join(sorted(unknown))}")

    return "\n".join([
        "// Generated by cmake/gen_config.py from the build's configuration file. Do not edit.",
        '#include "config/config.h"',
        '#include "config/reveal.h"',
        "",
        "namespace config {",
        "namespace {",
        *em.blobs,
        "}  // namespace",
        "",
        *fns,
        "",
        "}  // namespace config",
        "",
    ])


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    raw = open(sys.argv[1], "rb").read()
    try:
        cfg = json.loads(raw)
        if not isinstance(cfg, dict):
            raise Fail("top level must be an object")
        text = generate(cfg, raw)
    except (Fail, json.JSONDecodeError) as e:
        print(f"{sys.argv[1]}: configuration error: {e}", file=sys.stderr)
        return 1
    try:
        if open(sys.argv[2], encoding="utf-8").read() == text:
            return 0
    except FileNotFoundError:
        pass
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
