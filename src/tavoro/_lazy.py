"""Names of a package that load on first use: its module-level __getattr__ and __dir__."""

import importlib


def exports(namespace, locations):
    """The __getattr__ and __dir__ for the package whose globals are `namespace`. `locations` maps
    each name to the module it lives in (relative to the package, as in an import statement) and
    the attribute to take from it, or None for the module itself."""
    package = namespace["__name__"]

    def __getattr__(name):
        if name not in locations:
            raise AttributeError(f"module {package!r} has no attribute {name!r}")
        module_name, attribute = locations[name]
        try:
            module = importlib.import_module(module_name, package)
            value = module if attribute is None else getattr(module, attribute)
        except AttributeError as error:
            # As an AttributeError it would read as a missing name: `from package import name`
            # and hasattr() would swallow it and report only "cannot import name".
            raise ImportError(f"cannot import name {name!r} from {package!r}: {error}",
                              name=package) from error
        namespace[name] = value  # later reads find it without coming here
        return value

    def __dir__():
        return sorted(set(namespace) | set(locations))

    return __getattr__, __dir__
