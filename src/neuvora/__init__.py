"""neuvora: dendrites for the layers of PyTorch networks.

The native modules ``neuvora.configure_neuvora`` (the interactive target and
settings configurator) and ``neuvora.clean_neuvora`` (inference conversion) are
imported on demand; importing the package itself loads neither.
"""

from neuvora.dendrify import dendrify_model

__all__ = ["dendrify_model"]
