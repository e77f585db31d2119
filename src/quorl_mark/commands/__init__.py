"""The command lines: mark.py (quorl-mark, also python -m quorl_mark), batch.py (quorl-batch),
text.py (quorl-text) and extract.py (quorl-extract), with what they share in common.py (the
standard options, one-line errors and exit statuses).

They parse arguments and turn outcomes into messages and exit statuses; the work is done by the
job and the capabilities below, which may never import a command.
"""
