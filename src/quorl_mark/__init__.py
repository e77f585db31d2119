"""quorl-mark: draws marks given against a patent's full-text HTML onto its published PDF."""
from quorl_mark.cli import main

__all__ = ["main"]
