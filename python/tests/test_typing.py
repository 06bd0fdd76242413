"""The package's typing: its stub says what the compiled module takes, and
every public name is documented with its parameters, results and errors."""
import ast
import inspect
import pathlib
import re

import pytest

import zalk3071 as z
from zalk3071 import _zalk3071

PACKAGE = pathlib.Path(z.__file__).parent


def stub_signatures():
    """Name -> parameter names of every function and method in the stub."""
    tree = ast.parse((PACKAGE / "_zalk3071.pyi").read_text())
    out = {}
    for node in ast.walk(tree):
        if isinstance(node, ast.ClassDef):
            for f in node.body:
                if isinstance(f, ast.FunctionDef):
                    out[f"{node.name}.{f.name}"] = [a.arg for a in f.args.args if a.arg != "self"]
        elif isinstance(node, ast.FunctionDef) and node.col_offset == 0:
            out[node.name] = [a.arg for a in node.args.args]
    return out


def compiled_signatures():
    """The same, read from the compiled module's own signature lines."""
    def params(doc):
        first = doc.splitlines()[0]
        inside = first[first.index("(") + 1:first.rindex(")")]
        return [p for p in re.findall(r"(\w+):", inside) if p != "self"]

    out = {name: params(f.__doc__) for name, f in vars(_zalk3071).items()
           if callable(f) and not name.startswith("_") and not inspect.isclass(f)}
    for name, cls in vars(_zalk3071).items():
        if inspect.isclass(cls):
            for m in ("__init__",) + tuple(n for n in vars(cls) if not n.startswith("_")):
                out[f"{name}.{m}"] = params(getattr(cls, m).__doc__)
    return out


def test_stub_matches_the_compiled_module_and_ships_with_it():
    assert stub_signatures() == compiled_signatures()
    assert (PACKAGE / "py.typed").is_file()


def missing_sections(obj, doc_of):
    """The numpydoc sections that obj's signature calls for and its docstring lacks:
    Parameters when it takes any, Returns when it returns something."""
    doc = "\n" + (inspect.getdoc(doc_of) or "")
    sig = inspect.signature(obj)
    want = []
    if [p for p in sig.parameters if p != "self"]:
        want.append("Parameters")
    if sig.return_annotation not in ("None", None, inspect.Signature.empty):
        want.append("Returns")
    return [s for s in want if f"\n{s}\n---" not in doc]


def public_names():
    """The package's exports and the functions of its public modules."""
    from zalk3071 import distributed, plot, report, survey

    names = [f"zalk3071.{n}" for n in z.__all__ if not n.isupper() and not inspect.ismodule(getattr(z, n))]
    for module in (plot, report, distributed, survey):
        names += [f"{module.__name__}.{n}" for n, f in vars(module).items()
                  if inspect.isfunction(f) and f.__module__ == module.__name__ and not n.startswith("_")]
    return names


@pytest.mark.parametrize("name", public_names())
def test_public_names_have_numpydoc_sections(name):
    import importlib

    module, _, attr = name.rpartition(".")
    obj = getattr(importlib.import_module(module), attr)
    if not inspect.isclass(obj):
        assert missing_sections(obj, obj) == [], name
        return
    if "__init__" in vars(obj):  # a class documents its constructor's parameters
        assert missing_sections(obj.__init__, obj) == [], name
    for method in (m for m, f in vars(obj).items() if not m.startswith("_") and inspect.isfunction(f)):
        assert missing_sections(getattr(obj, method), getattr(obj, method)) == [], (name, method)


def test_the_package_type_checks():
    """The hints agree with each other and with the stub (mypy, where installed)."""
    api = pytest.importorskip("mypy.api")
    out, err, status = api.run(["--ignore-missing-imports", "--no-incremental", "--cache-dir", "/dev/null",
                                str(PACKAGE)])
    assert status == 0, out + err
