"""Reading tessel's JSON reports (tessel --json=FILE), for tessel-plot and
tessel-compare: a report is checked for the fields they use, so that a file
that is not a report is refused with a sentence that says what is wrong
rather than a Python traceback.
"""
import json

PHASES = ("write", "read", "write open-close", "read open-close")
FORMAT = 1


class ReportError(Exception):
    """A file that cannot be read as a tessel report; the text says why."""


def _kind(value):
    return {dict: "an object", list: "a list", str: "a string", bool: "true or false",
            type(None): "null"}.get(type(value), "a number")


def _need(container, key, kinds, where):
    value = container.get(key)
    if not isinstance(value, kinds) or isinstance(value, bool) and bool not in kinds:
        raise ReportError("%s has no %r of the right kind (found %s)" % (where, key, _kind(value)))
    return value


def _check_measurement(m, index):
    where = "measurement %d" % (index + 1)
    if not isinstance(m, dict):
        raise ReportError("%s is %s, not an object" % (where, _kind(m)))
    _need(m, "interface", (str,), where)
    _need(m, "processes", (int,), where)
    _need(m, "transfer_size", (int,), where)
    _need(m, "status", (str,), where)
    for phase in _need(m, "phases", (list,), where):
        if not isinstance(phase, dict) or not isinstance(phase.get("phase"), str):
            raise ReportError("%s has a phase that is not an object with a 'phase' name" % where)
        if phase.get("status") == "ok":
            for key in ("min_mib_per_s", "avg_mib_per_s", "max_mib_per_s"):
                value = phase.get(key)
                if value is not None and (not isinstance(value, (int, float)) or isinstance(value, bool)):
                    raise ReportError("%s, phase %r: %r is %s, not a number" % (where, phase["phase"], key,
                                                                                 _kind(value)))


def check(report):
    """Raises ReportError unless report is a tessel report this program reads."""
    if not isinstance(report, dict):
        raise ReportError("not a tessel report: the document is %s, not an object" % _kind(report))
    if report.get("format") != FORMAT:
        raise ReportError("unknown report format %r (this program reads format %d)" % (report.get("format"), FORMAT))
    run = _need(report, "run", (dict,), "the report")
    _need(run, "options", (dict,), "the report's run")
    for index, m in enumerate(_need(report, "measurements", (list,), "the report")):
        _check_measurement(m, index)
    return report


def load(path):
    """The report in the file at path, checked; ReportError when it is not one."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise ReportError("cannot read it: %s" % (e.strerror or e))
    except UnicodeDecodeError:
        raise ReportError("not a tessel report: the file is not UTF-8 text")
    try:
        report = json.loads(text)
    except ValueError as e:
        raise ReportError("not a tessel report: not JSON (%s)" % e)
    return check(report)


def parse_phases(text):
    """The phases of a comma-separated list; ValueError names an unknown one."""
    phases = [p.strip() for p in text.split(",") if p.strip()]
    unknown = [p for p in phases if p not in PHASES]
    if unknown:
        raise ValueError("unknown phase%s %s (the phases are %s)" % (
            "s" if len(unknown) > 1 else "", ", ".join(repr(p) for p in unknown), ", ".join(PHASES)))
    if not phases:
        raise ValueError("no phase given (the phases are %s)" % ", ".join(PHASES))
    return phases
