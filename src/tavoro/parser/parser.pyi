"""Native routines that turn vector2-, color- and rect-like arguments into raylib records.

The module has nothing for Python code: the routines are published for other modules of the
package as capsules in `__pyx_capi__`.
"""

from types import CapsuleType

# parse_vector2_like, parse_color_like and parse_rect_like, each named by its native signature.
__pyx_capi__: dict[str, CapsuleType]
