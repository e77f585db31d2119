"""Runs the quorl-mark command: python -m quorl_mark ..."""
import sys

from quorl_mark.commands.mark import main

sys.exit(main())
