#!/usr/bin/env python3
"""Makes wavfx's dispatch table and help texts (C++), its manual page (roff),
its bash completion and its manual as Markdown (docs/wavfx.md) from commands.toml.

  generate.py TABLE --version V --cxx F --man F --completion F
  generate.py TABLE --markdown docs/wavfx.md [--check]
"""
import argparse
import os
import re
import sys
import textwrap
import tomllib

WIDTH = 79


def load(path):
    with open(path, "rb") as f:
        table = tomllib.load(f)
    shared = {o["name"]: o for o in table["shared"]}
    for command in table["command"]:
        own = command.get("option", [])
        command["options"] = own + [shared[name] for name in command.get("shared", [])]
        names = [o["name"] for o in command["options"]] + [a for o in command["options"] for a in o.get("aliases", [])]
        shorts = [o["short"] for o in command["options"] if "short" in o]
        for forms in (names, shorts):
            if len(forms) != len(set(forms)):
                sys.exit("generate.py: %s names an option twice" % command["name"])
        if any(len(o.get("aliases", [])) > 1 for o in command["options"]):
            sys.exit("generate.py: one alias per option")
    return table


def spellings(option):
    """-t, --threshold and any alias"""
    return ((["-" + option["short"]] if "short" in option else []) + ["--" + option["name"]] +
            ["--" + a for a in option.get("aliases", [])])


def forms(option):
    """-t, --threshold THRESHOLD"""
    return ", ".join(spellings(option)) + (" " + option["value"] if "value" in option else "")


def usage_lines(program, command):
    lines = []
    for n, synopsis in enumerate(command["synopsis"]):
        lead = "usage: " if n == 0 else "       "
        lines.append((lead + program + " " + command["name"] + " " + synopsis).rstrip())
    return lines


def blocks(text):
    """Paragraphs, and list items, of a text: ("p", words) or ("li", words)."""
    out = []
    for paragraph in text.strip().split("\n\n"):
        for n, line in enumerate(paragraph.split("\n")):
            if line.startswith("- "):
                out.append(("li", line[2:]))
            elif n > 0 and out[-1][0] == "p":  # a paragraph's next line
                out[-1] = ("p", out[-1][1] + " " + line)
            else:
                out.append(("p", line))
    return out


def wrap_text(text, indent=""):
    lines = []
    for kind, words in blocks(text):
        if kind == "li":
            lines += textwrap.wrap(words, WIDTH, initial_indent=indent + "- ", subsequent_indent=indent + "  ")
        else:
            if lines:
                lines.append("")
            lines += textwrap.wrap(words, WIDTH, initial_indent=indent, subsequent_indent=indent)
    return lines


def option_lines(options):
    lines = []
    for option in options:
        tag = "  " + forms(option)
        body = textwrap.wrap(option["help"], WIDTH - 28)
        if len(tag) <= 25:
            lines.append(tag.ljust(28) + body[0])
            body = body[1:]
        else:
            lines.append(tag)
        lines += [" " * 28 + line for line in body]
    return lines


def command_help(table, command):
    lines = usage_lines(table["program"], command) + [""] + wrap_text(command["help"])
    return lines + ["", "options:"] + option_lines(command["options"])


def exit_line(table):
    return "exit status: " + "; ".join("%d %s" % (e["status"], e["meaning"]) for e in table["exit"]) + "."


def overview(table):
    program = table["program"]
    lines = ["usage: %s COMMAND [OPTIONS] [OPERANDS]" % program, ""]
    for command in table["command"]:
        for n, synopsis in enumerate(command["synopsis"]):
            lines.append(("  " + command["name"] + " " + synopsis).rstrip())
        if len(lines[-1]) < 27:
            lines[-1] = lines[-1].ljust(29) + command["summary"]
        else:
            lines.append(" " * 29 + command["summary"])
    lines += ["", "'%s COMMAND --help' describes a command; '%s --version' tells the version."
              % (program, program)]
    return lines + textwrap.wrap(exit_line(table), WIDTH)


def c_string(lines):
    text = "\n".join(lines) + "\n"
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return "\n".join('    "%s\\n"' % line for line in escaped.split("\n")[:-1])


def cxx(table):
    out = ["// Made by generate.py from commands.toml: change the table, not this file.",
           '#include "commands/Commands.h"', "", "namespace wavfx {", "", "namespace {", ""]
    for command in table["command"]:
        out.append("const OptionSpec %sOptions[] = {" % command["handler"])
        for o in command["options"]:
            alias = o.get("aliases", [None])[0]
            out.append('    {"%s", %s, %s, %s},' % (
                o["name"], '"%s"' % alias if alias else "nullptr", "'%s'" % o["short"] if "short" in o else "0",
                '"%s"' % o["value"] if "value" in o else "nullptr"))
        out += ["};", ""]
    out += ["}  // namespace", "", "const CommandSpec Commands[] = {"]
    for command in table["command"]:
        out.append('    {"%s", %s, %sOptions, sizeof %sOptions / sizeof %sOptions[0],' % (
            command["name"], command["handler"], command["handler"], command["handler"], command["handler"]))
        out.append(c_string(usage_lines(table["program"], command)) + ",")
        out.append(c_string(command_help(table, command)) + "},")
    out += ["};", "const std::size_t CommandCount = sizeof Commands / sizeof Commands[0];", "",
            "const char* const Overview =", c_string(overview(table)) + ";", "", "}  // namespace wavfx", ""]
    return "\n".join(out)


def roff_escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def roff_synopsis(program, command, synopsis):
    """The literal words in bold, the placeholders in italics."""
    out = ["\\fB%s %s\\fR" % (program, command)]
    for token in synopsis.split():
        pieces = []
        for part in re.split(r"(\[|\]|\||\.\.\.)", token):
            if not part:
                continue
            if part in ("[", "]", "|", "..."):
                pieces.append(part)
            elif part.startswith("-"):
                pieces.append("\\fB%s\\fR" % roff_escape(part))
            else:
                pieces.append("\\fI%s\\fR" % roff_escape(part))
        out.append("".join(pieces))
    return " ".join(out)


def roff_text(text):
    lines, listing = [], False
    for kind, words in blocks(text):
        if kind == "li":
            lines += [".IP \\(bu 2", roff_escape(words)]
            listing = True
        else:
            if lines:
                lines.append(".PP")
            lines.append(roff_escape(words))
            listing = False
    return lines + ([".PP"] if listing else [])


def man(table, version):
    program = table["program"]
    out = ['.TH %s 1 %s "%s %s" "User Commands"' % (program.upper(), table["manual_date"], program, version),
           ".SH NAME", "%s \\- %s" % (program, roff_escape(table["summary"])), ".SH SYNOPSIS", ".nh", ".ad l"]
    for command in table["command"]:
        for synopsis in command["synopsis"]:
            out += [roff_synopsis(program, command["name"], synopsis), ".br"]
    out += [".ad", ".hy", ".SH DESCRIPTION"] + roff_text(table["description"]) + [".SH COMMANDS"]
    for command in table["command"]:
        out.append('.SS "%s"' % command["name"])
        for synopsis in command["synopsis"]:
            out += [roff_synopsis(program, command["name"], synopsis), ".br"]
        out += roff_text(command["summary"] + ".\n\n" + command["help"])
        for option in command["options"]:
            tag = ", ".join("\\fB%s\\fR" % roff_escape(f) for f in spellings(option))
            if "value" in option:
                tag += " \\fI%s\\fR" % roff_escape(option["value"])
            out += [".TP", tag, roff_escape(option["help"])]
    for section in table["section"]:
        out += [".SH " + section["title"]] + roff_text(section["text"])
    out.append(".SH EXIT STATUS")
    for e in table["exit"]:
        out += [".TP", ".B %d" % e["status"], roff_escape(e["meaning"])]
    out += [".SH SEE ALSO", ",\n".join(".BR %s (%s)" % tuple(p[:-1].split("(")) for p in table["see_also"])]
    return "\n".join(out) + "\n"


def completion(table):
    program = table["program"]
    names = " ".join(c["name"] for c in table["command"])
    out = ["# bash completion for %s; made by generate.py from its command table." % program,
           "_%s() {" % program,
           "    local line=${COMP_LINE:0:COMP_POINT} cur prev opt value kind operands options",
           "    local -a words names",
           "    read -ra words <<<\"$line\"",
           "    [[ -z $line || $line =~ [[:space:]]$ ]] && words+=(\"\")",
           "    cur=${words[${#words[@]}-1]}",
           "    prev=${words[${#words[@]}-2]-}",
           "    COMPREPLY=()",
           "    if ((${#words[@]} <= 2)); then",
           "        COMPREPLY=($(compgen -W \"%s --help --version\" -- \"$cur\"))" % names,
           "        return",
           "    fi",
           "    # --opt=value, or a value after its option",
           "    if [[ $cur == --*=* ]]; then opt=${cur%%=*} value=${cur#*=}; else opt=$prev value=$cur; fi",
           "    case ${words[1]} in"]
    for command in table["command"]:
        options = " ".join(f for o in command["options"] for f in spellings(o))
        out += ["        %s)" % command["name"],
                "            options=\"%s\" operands=%s" % (options, command["operands"]),
                "            case $opt in"]
        for o in command["options"]:
            if "value" in o:
                out.append("                %s) kind=%s ;;" % ("|".join(spellings(o)), o["complete"]))
        out += ["            esac ;;"]
    out += ["        *) return ;;",
            "    esac",
            "    case $kind in",
            "        none) compopt +o default 2>/dev/null; return ;;",
            "        dir) compopt +o default -o dirnames 2>/dev/null; return ;;",
            "        file) return ;;",
            "        device)",
            "            # Names may hold : and =, where bash splits words: offer only what follows the split.",
            "            mapfile -t names < <(command \"${words[0]}\" devices 2>/dev/null | grep -v '^[[:space:]]')",
            "            local typed=${value%\"${value##*[:=]}\"} name",
            "            for name in \"${names[@]}\"; do",
            "                [[ $name == \"$value\"* ]] && COMPREPLY+=(\"${name#\"$typed\"}\")",
            "            done",
            "            compopt +o default 2>/dev/null",
            "            return ;;",
            "    esac",
            "    if [[ $cur == -* ]]; then",
            "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))",
            "    elif [[ $operands == none ]]; then",
            "        compopt +o default 2>/dev/null",
            "    fi",
            "}",
            "# File names come from readline itself (-o default), quoting and all.",
            "complete -o default -F _%s %s" % (program, program), ""]
    return "\n".join(out)


def md_escape(text):
    return re.sub(r"([\\`*_<>\[\]|])", r"\\\1", text)


def md_text(text):
    lines = []
    for kind, words in blocks(text):
        if lines and not (kind == "li" and lines[-1].startswith("- ")):
            lines.append("")
        lines.append(("- " if kind == "li" else "") + md_escape(words))
    return lines


def markdown(table):
    """The manual as a page of Markdown: the same words as the manual page."""
    program = table["program"]
    synopses = ["%s %s %s" % (program, c["name"], s) for c in table["command"] for s in c["synopsis"]]
    out = ["# %s" % program, "", "<!-- made by tools/wavfx/cli/generate.py from commands.toml: edit that -->", "",
           "%s: %s. The same text is `man %s` and, per command, `%s COMMAND --help`." %
           (program, md_escape(table["summary"]), program, program),
           "", "## Synopsis", "", "```"] + [line.rstrip() for line in synopses] + ["```", "", "## Description", ""]
    out += md_text(table["description"]) + ["", "## Commands"]
    for command in table["command"]:
        out += ["", "### %s" % command["name"], "", "```"]
        out += [("%s %s %s" % (program, command["name"], s)).rstrip() for s in command["synopsis"]] + ["```", ""]
        out += md_text(command["summary"][:1].upper() + command["summary"][1:] + ".\n\n" + command["help"])
        out += ["", "| option | |", "|---|---|"]
        for option in command["options"]:
            tag = ", ".join("`%s`" % f for f in spellings(option)) + (" *%s*" % option["value"] if "value" in option else "")
            out.append("| %s | %s |" % (tag, md_escape(option["help"])))
    for section in table["section"]:
        out += ["", "## %s" % section["title"].capitalize(), ""] + md_text(section["text"])
    out += ["", "## Exit status", ""] + ["- **%d**: %s" % (e["status"], md_escape(e["meaning"])) for e in table["exit"]]
    out += ["", "## See also", "", ", ".join(table["see_also"])]
    return "\n".join(out) + "\n"


def write_or_check(path, text, check):
    """Writes a generated file; with check, says whether it is up to date instead."""
    if check:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return 0
        print("%s differs from commands.toml; run %s %s --markdown %s" % (path, sys.argv[0], sys.argv[1], path),
              file=sys.stderr)
        return 1
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("table")
    parser.add_argument("--version", default="")
    parser.add_argument("--cxx")
    parser.add_argument("--man")
    parser.add_argument("--completion")
    parser.add_argument("--markdown")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    table = load(args.table)
    if args.markdown:
        return write_or_check(args.markdown, markdown(table), args.check)
    for path, text in ((args.cxx, cxx(table)), (args.man, man(table, args.version)), (args.completion, completion(table))):
        if path:
            write_or_check(path, text, False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
