"""Marking many patents: ``mark_batch`` (runner.py) marks the patents of a folder or a manifest
in child processes of this machine or on a Dask cluster (cluster.py), one patent per task
(patent_task.py), the inputs found by sources.py, every output of the run checked against every
input and output by claims.py, OUTDIR held by lock.py, every attempt logged by report.py, the
progress shown by progress.py.

It may import the per-patent job and the shared modules (children, errors, ...), never the
command lines.
"""
from .runner import mark_batch

__all__ = ["mark_batch"]
