"""Processors: what a text becomes before it is compared."""

from __future__ import annotations

from typing import Callable, Optional, Tuple

__all__ = ["default_process", "processor_mode"]


def default_process(s: str) -> str:
    """Lower-case ``s``, turn every character that is not alphanumeric into a space, and
    strip the spaces at both ends: exactly
    ``"".join(c if c.isalnum() else " " for c in s.lower()).strip()``."""
    return "".join(c if c.isalnum() else " " for c in s.lower()).strip()


Processor = Optional[object]

# Native modes of the collection step: none, the default processor (done natively for
# ASCII text, by default_process otherwise), any other callable.
MODE_NONE, MODE_DEFAULT, MODE_CALL = 0, 1, 2


def processor_mode(processor: Processor) -> Tuple[int, Optional[Callable[[str], str]]]:
    """(mode, callable) for the native collection step; raises TypeError otherwise."""
    if processor is None:
        return MODE_NONE, None
    if processor is default_process or (isinstance(processor, str) and processor == "default"):
        return MODE_DEFAULT, default_process
    if isinstance(processor, str):
        raise ValueError(f"unknown processor {processor!r}: use None, 'default' or a callable")
    if not callable(processor):
        raise TypeError(
            f"processor must be None, 'default' or a callable str -> str, not {type(processor).__name__}"
        )
    return MODE_CALL, processor


def same_processor(a: Processor, b: Processor) -> bool:
    """Whether two processor arguments mean the same processing."""
    ma, fa = processor_mode(a)
    mb, fb = processor_mode(b)
    return ma == mb and fa is fb
