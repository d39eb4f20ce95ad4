"""The refusal the interactive-session guard raises, for any reason."""


def refusal(reason: str) -> str:
    return (
        "Dendrification configuration has not been confirmed, and it cannot be done interactively here ("
        + reason
        + ").\nRun dendrify_model once from an interactive terminal to choose dendrification targets, or set "
        "configuration_confirmed=True in your config file (or call GNV.pc.set_configuration_confirmed(True) "
        "before dendrify_model) to skip the interactive step."
    )
