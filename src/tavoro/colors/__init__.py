"""The palette of 152 named colors, as a package that reads and writes as the palette itself.

`from tavoro import colors` and `import tavoro.colors` give this package. Its entries
(`colors.Tomato`), look-ups (`colors["Tomato"]`, `colors.get("tomato")`), membership, iteration,
`len()` and the `keys()`, `items()` and `values()` views are those of the ready palette
`tavoro.colors.colors.colors`, and an entry set or deleted here is set or deleted there. The
package's own `colors` is the module `tavoro.colors.colors`, as the import system binds it, so
that `import tavoro.colors.colors as m` gives the module.
"""

import collections.abc as _abc
import sys as _sys
import types as _types

from . import colors
from .colors import Colors

__all__ = ["Colors"]

_palette = colors.colors
_names = frozenset(_palette)


class Palette(_types.ModuleType):
    """The type of the package tavoro.colors: a module that reads and writes as the palette.

    Entries are read from the module's own namespace, which the palette keeps in step with its
    entries (so reading one costs what reading any module attribute does); writes, deletions,
    look-ups and the mapping protocol go to the palette, which checks them as it always does.
    """

    def __setattr__(self, name, value):
        if name in _names:
            setattr(_palette, name, value)
        else:
            super().__setattr__(name, value)

    def __delattr__(self, name):
        if name in _names:
            delattr(_palette, name)
        else:
            super().__delattr__(name)

    def __getitem__(self, name, /):
        return _palette[name]

    def __contains__(self, name, /):
        return name in _palette

    def __iter__(self):
        return iter(_palette)

    def __len__(self):
        return len(_palette)

    def get(self, name, default=None, /):
        """The entry whose name matches name ignoring the case of ASCII letters, or default."""
        return _palette.get(name, default)

    def keys(self):
        """A view of the 152 names, in palette order."""
        return _palette.keys()

    def items(self):
        """A view of the (name, entry) pairs, in palette order."""
        return _palette.items()

    def values(self):
        """A view of the entries, in palette order."""
        return _palette.values()


# The palette's own bound methods in the namespace, found before the type's: a call goes
# straight to the palette.
get, keys, items, values = _palette.get, _palette.keys, _palette.items, _palette.values

_abc.Mapping.register(Palette)
colors._mirror(globals())
_sys.modules[__name__].__class__ = Palette
