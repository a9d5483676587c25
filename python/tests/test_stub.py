"""The type stub carries the module's docstrings (an editor shows the stub's)
and names everything the module offers."""

import ast
import inspect
import os

import veltra

STUB = os.path.join(os.path.dirname(veltra.__file__), "__init__.pyi")


def words(text):
    return " ".join((text or "").split())


def own_doc(obj):
    """The docstring without pybind11's signature line."""
    doc = inspect.getdoc(obj) or ""
    first, _, rest = doc.partition("\n\n")
    name = getattr(obj, "__name__", "")
    return rest if name and first.startswith(name + "(") else doc


def stub_entries():
    """(dotted name, docstring or None) of every class and function of the stub."""
    tree = ast.parse(open(STUB, encoding="utf-8").read())
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            yield node.name, ast.get_docstring(node)
        if isinstance(node, ast.ClassDef):
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    yield "%s.%s" % (node.name, member.name), ast.get_docstring(member)


def runtime(dotted):
    owner, _, member = dotted.rpartition(".")
    if not owner:
        return getattr(veltra, member)
    found = inspect.getattr_static(getattr(veltra, owner), member)
    return found if isinstance(found, property) else getattr(getattr(veltra, owner), member)


def test_every_public_name_of_the_stub_has_the_modules_docstring():
    entries = dict(stub_entries())
    for name, doc in entries.items():
        if name.rpartition(".")[2].startswith("_"):
            continue  # dunders: a docstring where the module has one
        assert doc, "the stub's %s has no docstring" % name
        have = words(own_doc(runtime(name)))
        # The stub may go on after the module's own words, never differ from them.
        assert words(doc).startswith(have) and have, (
            "python/veltra/__init__.pyi: %s's docstring differs from the module's:\n  stub:   %s\n  module: %s"
            % (name, words(doc), have))


def test_the_stub_names_every_public_name_and_method():
    entries = dict(stub_entries())
    assert set(veltra.__all__) - {"__version__"} <= set(entries)
    for cls in (veltra.Controller, veltra.Simulator, veltra.Config):
        fields = getattr(cls, "__dataclass_fields__", {})
        public = {"%s.%s" % (cls.__name__, n) for n in dir(cls) if not n.startswith("_") and n not in fields}
        assert public <= set(entries), public - set(entries)
