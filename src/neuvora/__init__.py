"""neuvora: dendrites for the layers of PyTorch networks.

The native modules ``neuvora.configure_neuvora`` (the interactive target and
settings configurator) and ``neuvora.clean_neuvora`` (inference conversion) are
imported on demand; importing the package itself loads neither.
``plan_targets`` (from ``neuvora.plan``) is loaded on first use too.
"""

from neuvora.dendrify import dendrify_model

__all__ = ["dendrify_model", "plan_targets"]


def __getattr__(name):
    # Loaded on first use, so that `python -m neuvora.plan` runs a module not yet imported.
    if name == "plan_targets":
        from neuvora.plan import plan_targets

        return plan_targets
    raise AttributeError(f"module 'neuvora' has no attribute {name!r}")
