#!/usr/bin/env python3
"""Writes webview/webview2.h, the player's own WebView2 COM declarations, from the ABI facts.

The facts (webview/webview2_abi.md) list every interface with its IID, base and full slot table,
the enums with their values, the structs and the loader functions. MinGW ships no WebView2
header and the SDK's own header does not build with g++, so the declarations are generated from
those facts: one struct per interface declaring only the methods its table says it adds, in
slot order, pure virtual and STDMETHODCALLTYPE, with no destructor (a virtual destructor would
add two slots under g++ and shift every later method).

Usage:
  gen_webview2_header.py FACTS.md OUT.h     write the header
  gen_webview2_header.py --check FACTS.md H  exit 1 when H differs from what would be written
"""

import re
import sys

LINE_LIMIT = 110

# Parameter names for the generated declarations. Properties, events and handler Invoke methods
# are named by rule (see ParamNames); the rest are listed here. A method missing here keeps
# unnamed parameters, which is still a correct declaration.
PARAM_NAMES = {
    "CreateCoreWebView2Controller": ["parentWindow", "handler"],
    "CreateWebResourceResponse": ["content", "statusCode", "reasonPhrase", "headers", "response"],
    "CreateWebResourceRequest": ["uri", "method", "postData", "headers", "request"],
    "CreateCoreWebView2CompositionController": ["parentWindow", "handler"],
    "CreateCoreWebView2PointerInfo": ["pointerInfo"],
    "GetAutomationProviderForWindow": ["hwnd", "provider"],
    "CreatePrintSettings": ["printSettings"],
    "Navigate": ["uri"],
    "NavigateToString": ["htmlContent"],
    "AddScriptToExecuteOnDocumentCreated": ["javaScript", "handler"],
    "RemoveScriptToExecuteOnDocumentCreated": ["id"],
    "ExecuteScript": ["javaScript", "handler"],
    "CapturePreview": ["imageFormat", "imageStream", "handler"],
    "PostWebMessageAsJson": ["webMessageAsJson"],
    "PostWebMessageAsString": ["webMessageAsString"],
    "CallDevToolsProtocolMethod": ["methodName", "parametersAsJson", "handler"],
    "GetDevToolsProtocolEventReceiver": ["eventName", "receiver"],
    "AddHostObjectToScript": ["name", "object"],
    "RemoveHostObjectFromScript": ["name"],
    "AddWebResourceRequestedFilter": ["uri", "resourceContext"],
    "RemoveWebResourceRequestedFilter": ["uri", "resourceContext"],
    "NavigateWithWebResourceRequest": ["request"],
    "TrySuspend": ["handler"],
    "SetVirtualHostNameToFolderMapping": ["hostName", "folderPath", "accessKind"],
    "ClearVirtualHostNameToFolderMapping": ["hostName"],
    "PrintToPdf": ["resultFilePath", "printSettings", "handler"],
    "CallDevToolsProtocolMethodForSession": ["sessionId", "methodName", "parametersAsJson", "handler"],
    "ClearServerCertificateErrorActions": ["handler"],
    "GetFavicon": ["format", "completedHandler"],
    "Print": ["printSettings", "handler"],
    "ShowPrintUI": ["printDialogKind"],
    "PrintToPdfStream": ["printSettings", "handler"],
    "PostSharedBufferToScript": ["sharedBuffer", "access", "additionalDataAsJson"],
    "ExecuteScriptWithResult": ["javaScript", "handler"],
    "AddWebResourceRequestedFilterWithRequestSourceKinds": ["uri", "resourceContext", "requestSourceKinds"],
    "RemoveWebResourceRequestedFilterWithRequestSourceKinds": ["uri", "resourceContext",
                                                               "requestSourceKinds"],
    "SetBoundsAndZoomFactor": ["bounds", "zoomFactor"],
    "MoveFocus": ["reason"],
    "GetHeader": ["name", "value"],
    "GetHeaders": ["name", "iterator"],
    "Contains": ["name", "contains"],
    "SetHeader": ["name", "value"],
    "RemoveHeader": ["name"],
    "GetIterator": ["iterator"],
    "GetCurrentHeader": ["name", "value"],
    "MoveNext": ["hasNext"],
    "GetDeferral": ["deferral"],
    "TryGetWebMessageAsString": ["webMessageAsString"],
}

# Enums whose values are bit flags: they get | and & so that combinations keep the enum type.
FLAG_ENUMS = {"COREWEBVIEW2_PDF_TOOLBAR_ITEMS", "COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS"}

# Types the Windows headers already declare.
WINDOWS_TYPES = {
    "HRESULT", "ULONG", "BOOL", "BYTE", "INT32", "UINT32", "UINT64", "int", "double", "HWND",
    "RECT", "POINT", "LPCWSTR", "LPWSTR", "PCWSTR", "REFIID", "void", "IUnknown", "IStream",
    "VARIANT", "EventRegistrationToken",
}


class Interface:
    def __init__(self, name):
        self.name = name
        self.iid = None
        self.base = None
        self.slot_count = None
        self.rows = []  # (slot, method, declared_in, return, [params], abi)


def Fail(message):
    sys.exit("gen_webview2_header: " + message)


def SplitRow(line):
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def Unquote(cell):
    return cell.strip().strip("`").strip()


def ParseParams(cell):
    if cell.strip() == "(none)":
        return []
    return [Unquote(p) for p in re.findall(r"`[^`]*`", cell)]


def Parse(text):
    interfaces, enums, structs, loader = [], [], [], []
    section = None
    current = None
    for line in text.splitlines():
        if line.startswith("## "):
            section = line[3:].strip()
            current = None
            continue
        if line.startswith("### "):
            name = line[4:].strip()
            if section == "Interfaces":
                current = Interface(name)
                interfaces.append(current)
            elif section == "Enums":
                current = (name, [])
                enums.append(current)
            elif section == "Structs":
                current = (name, [])
                structs.append(current)
            continue
        if section == "Loader functions (exported by WebView2Loader.dll)":
            if line.startswith("| ") and not line.startswith("| function") and not line.startswith("|---"):
                cells = SplitRow(line)
                loader.append((cells[0], Unquote(cells[1]), ParseParams(cells[2]), cells[3]))
            continue
        if current is None:
            continue
        if section == "Interfaces":
            m = re.match(r"- IID: (\{[0-9a-fA-F-]+\})$", line)
            if m:
                current.iid = m.group(1).lower()
            m = re.match(r"- base: (\w+)$", line)
            if m:
                current.base = m.group(1)
            m = re.match(r"- slots: (\d+) ", line)
            if m:
                current.slot_count = int(m.group(1))
            if re.match(r"\|\s*\d+\s*\|", line):
                cells = SplitRow(line)
                current.rows.append((int(cells[0]), cells[1], cells[2], Unquote(cells[3]),
                                     ParseParams(cells[4]), cells[5]))
        elif section == "Enums":
            m = re.match(r"- (\w+) = (\S+)$", line)
            if m:
                current[1].append((m.group(1), m.group(2)))
        elif section == "Structs":
            if re.match(r"\|\s*\d+\s*\|", line):
                cells = SplitRow(line)
                current[1].append((int(cells[0]), cells[1], Unquote(cells[2])))
    return interfaces, enums, structs, loader


def Validate(interfaces):
    by_name = {i.name: i for i in interfaces}
    for itf in interfaces:
        if not itf.iid or not itf.base or itf.slot_count is None:
            Fail(itf.name + ": IID, base or slot count missing")
        slots = [row[0] for row in itf.rows]
        if slots != list(range(itf.slot_count)):
            Fail(itf.name + ": slot table is not 0..%d" % (itf.slot_count - 1))
        if itf.base == "IUnknown":
            inherited = 3
        elif itf.base in by_name:
            base = by_name[itf.base]
            inherited = base.slot_count
            if [r[:3] for r in itf.rows[:inherited]] != [r[:3] for r in base.rows]:
                Fail(itf.name + ": inherited slots differ from " + base.name)
        else:
            Fail(itf.name + ": unknown base " + itf.base)
        for row in itf.rows[inherited:]:
            if row[2] != itf.name:
                Fail("%s: slot %d is declared in %s" % (itf.name, row[0], row[2]))
    return by_name


def OrderByBase(interfaces, by_name):
    done, ordered = set(), []

    def Visit(itf):
        if itf.name in done:
            return
        if itf.base in by_name:
            Visit(by_name[itf.base])
        done.add(itf.name)
        ordered.append(itf)

    for itf in interfaces:
        Visit(itf)
    return ordered


def LowerFirst(name):
    return name[0].lower() + name[1:]


def ParamNames(method, params):
    if method in PARAM_NAMES and len(PARAM_NAMES[method]) == len(params):
        return PARAM_NAMES[method]
    if method.startswith("add_") and len(params) == 2:
        return ["eventHandler", "token"]
    if method.startswith("remove_") and len(params) == 1:
        return ["token"]
    if (method.startswith("get_") or method.startswith("put_")) and len(params) == 1:
        return [LowerFirst(method[4:])]
    if method == "Invoke" and len(params) == 2:
        if params[0] != "HRESULT":
            return ["sender", "args"]
        if params[1].startswith("COREWEBVIEW2_"):  # an enum: COREWEBVIEW2_PRINT_STATUS -> printStatus
            words = params[1][len("COREWEBVIEW2_"):].lower().split("_")
            return ["errorCode", words[0] + "".join(x.title() for x in words[1:])]
        return ["errorCode", "result"]
    if method == "Invoke" and len(params) == 1:
        return ["errorCode"] if params[0] == "HRESULT" else ["args"]
    return [""] * len(params)


def Param(ctype, name):
    ctype = ctype.replace("const ", "", 1) if ctype.startswith("const ") else ctype
    if not name:
        return ctype
    return ctype + " " + name


def Wrap(head, params, tail, indent, comment=""):
    """One line when it fits, else one parameter a line; comment ends the last line."""
    one = head + ", ".join(params) + tail + comment
    if len(one) <= LINE_LIMIT:
        return [one]
    lines = [head.rstrip()]
    pad = indent + "    "
    for i, p in enumerate(params):
        lines.append(pad + p + ("," if i + 1 < len(params) else tail + comment))
    return lines


def BaseName(ctype):
    t = ctype.replace("const ", "").replace("*", "").strip()
    return t


def Generate(text):
    interfaces, enums, structs, loader = Parse(text)
    by_name = Validate(interfaces)
    ordered = OrderByBase(interfaces, by_name)
    enum_names = {e[0] for e in enums}
    struct_names = {s[0] for s in structs}

    referenced = set()
    for itf in interfaces:
        for row in itf.rows:
            for t in row[4]:
                referenced.add(BaseName(t))
    for _, _, params, _ in loader:
        for t in params:
            referenced.add(BaseName(t))
    declared = set(by_name) | enum_names | struct_names | WINDOWS_TYPES
    opaque_enums = sorted(t for t in referenced - declared if t.startswith("COREWEBVIEW2_"))
    forward_interfaces = sorted(t for t in referenced - declared if t.startswith("ICoreWebView2"))
    unknown = referenced - declared - set(opaque_enums) - set(forward_interfaces)
    if unknown:
        Fail("types the header cannot declare: " + ", ".join(sorted(unknown)))

    out = []
    w = out.append
    w("// The player's own declarations of the Microsoft Edge WebView2 COM interfaces it uses: every")
    w("// interface of webview/webview2_abi.md (WebView2 SDK 1.0.3351.48) with its IID and its exact slot")
    w("// order, the enums and structs they take, and the two loader entry points as pointer types.")
    w("//")
    w("// Generated by tools/gen_webview2_header.py from webview/webview2_abi.md; change the generator or")
    w("// the facts and regenerate, do not edit by hand. webview2_abi_test checks every IID, slot,")
    w("// signature and enum value here against the facts under Wine.")
    w("//")
    w("// Rules that keep the layout right under MinGW g++ (Itanium C++ ABI): single inheritance, pure")
    w("// virtual STDMETHODCALLTYPE methods in slot order, no destructor (a virtual one would add two")
    w("// slots), no overloads; IIDs through __CRT_UUID_DECL so that __uuidof and ComPtr::As work;")
    w("// every enum 32 bits wide.")
    w("// The generator's layout is this file's format:")
    w("// clang-format off")
    w("#ifndef CORVEL_WEBVIEW_WEBVIEW2_H_")
    w("#define CORVEL_WEBVIEW_WEBVIEW2_H_")
    w("")
    w("#include <windows.h>")
    w("")
    w("#include <eventtoken.h>")
    w("#include <oaidl.h>")
    w("#include <objidl.h>")
    w("#include <unknwn.h>")
    w("")
    w("#include <cstdint>")
    w("")
    w("// ---- Enums ----")
    for name, values in enums:
        wide = any(int(v, 0) > 0x7FFFFFFF for _, v in values)
        w("")
        w("enum %s : %s {" % (name, "std::uint32_t" if wide else "int"))
        for vname, value in values:
            w("  %s = %s," % (vname, value))
        w("};")
        if name in FLAG_ENUMS:
            u = "std::uint32_t"
            for op in "|&":
                w("constexpr %s operator%s(" % (name, op))
                w("    %s a," % name)
                w("    %s b) {" % name)
                w("  return static_cast<%s>(" % name)
                w("      static_cast<%s>(a) %s static_cast<%s>(b));" % (u, op, u))
                w("}")
    w("")
    w("// Enums that declared methods take but the player never passes: 32 bits, values not needed.")
    for name in opaque_enums:
        w("enum %s : int;" % name)
    w("")
    w("// ---- Structs ----")
    for name, fields in structs:
        w("")
        w("struct %s {" % name)
        for _, fname, ftype in fields:
            w("  %s %s;" % (ftype, fname))
        w("};")
    w("")
    w("// ---- Interfaces ----")
    w("")
    for name in sorted(by_name):
        w("struct %s;" % name)
    w("")
    w("// Interfaces that declared methods mention but the player never uses.")
    for name in forward_interfaces:
        w("struct %s;" % name)
    w("")
    w("// Loader entry points, exported by WebView2Loader.dll and taken with GetProcAddress.")
    for fname, ret, params, _ in loader:
        head = "using PFN_%s = %s(STDAPICALLTYPE*)(" % (fname, ret)
        w("\n".join(Wrap(head, [Param(p, "") for p in params], ");", "")))
    for itf in ordered:
        base_slots = 3 if itf.base == "IUnknown" else by_name[itf.base].slot_count
        own = itf.rows[base_slots:]
        w("")
        if len(own) == 1:
            w("// %s; slot %d." % (itf.iid, own[0][0]))
        elif own:
            w("// %s; slots %d..%d." % (itf.iid, own[0][0], own[-1][0]))
        else:
            w("// %s; no slots of its own." % itf.iid)
        w("struct %s : public %s {" % (itf.name, itf.base))
        for slot, method, _, ret, params, _ in own:
            names = ParamNames(method, params)
            head = "  virtual %s STDMETHODCALLTYPE %s(" % (ret, method)
            lines = Wrap(head, [Param(t, n) for t, n in zip(params, names)], ") = 0;", "  ",
                         "  // %d" % slot)
            for line in lines:
                w(line)
        w("};")
        g = itf.iid.strip("{}").split("-")
        tail = g[3] + g[4]
        bytes_ = ", ".join("0x" + tail[i:i + 2] for i in range(0, 16, 2))
        w("__CRT_UUID_DECL(%s," % itf.name)
        w("                0x%s, 0x%s, 0x%s, %s)" % (g[0], g[1], g[2], bytes_))
    w("")
    w("#endif  // CORVEL_WEBVIEW_WEBVIEW2_H_")
    w("// clang-format on")
    return "\n".join(out) + "\n"


def main(argv):
    check = len(argv) == 4 and argv[1] == "--check"
    if not check and len(argv) != 3:
        sys.exit(__doc__)
    facts, header = argv[-2], argv[-1]
    with open(facts, encoding="utf-8") as f:
        generated = Generate(f.read())
    if check:
        with open(header, encoding="utf-8") as f:
            if f.read() != generated:
                sys.exit("%s is not what tools/gen_webview2_header.py writes from %s; regenerate it"
                         % (header, facts))
        return
    with open(header, "w", encoding="utf-8", newline="\n") as f:
        f.write(generated)


if __name__ == "__main__":
    main(sys.argv)
