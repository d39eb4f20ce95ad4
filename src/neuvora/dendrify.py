"""Entry of a dendrification run (stand-in): asks for targets until confirmed."""

from neuvora import globals_neuvora as GNV


def dendrify_model(model):
    """Open the configurator unless the configuration is already confirmed."""
    if not GNV.pc.get_configuration_confirmed():
        from neuvora import configure_neuvora

        configure_neuvora.set_dendrification_targets(model)
    return model
