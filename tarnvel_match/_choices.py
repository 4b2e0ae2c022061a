"""Prepared choices: strings collected and processed once into native storage."""

from __future__ import annotations

import operator

from typing import Any, Iterable, List, Optional, Sequence

from . import _native
from ._process import processor_mode

__all__ = ["Choices", "as_items", "pack"]


def as_items(iterable: Any, what: str) -> Sequence[Any]:
    """The items of an iterable as the package's own list or tuple.

    A list is copied: the native collection borrows the items while Python code may run
    (a processor, another thread), and a Choices must not change when the caller's list
    does. A tuple cannot change and is used as given."""
    if type(iterable) is tuple:
        return iterable
    if type(iterable) is list:
        return iterable.copy()
    if isinstance(iterable, (str, bytes)):
        raise TypeError(f"{what} must be an iterable of str, not a single {type(iterable).__name__}")
    try:
        it = iter(iterable)
    except TypeError:
        raise TypeError(f"{what} must be an iterable of str, not {type(iterable).__name__}") from None
    # Not list(it): that reserves whatever the iterator's length hint claims, and a hint
    # may lie.
    return [x for x in it]


def pack(items: Sequence[Any], processor: Any, what: str):
    mode, fn = processor_mode(processor)
    return _native.pack(items, mode, fn, what)


class Choices:
    """Strings collected and processed once, for many calls.

    ``Choices(iterable, processor=None)`` keeps the original objects (returned by the
    extraction functions and by indexing) and their processed UTF-8 form in one native
    buffer. Missing values (None, float NaN) keep their position and never match. It is
    immutable and picklable; every function of this package accepts it wherever it
    takes choices (or queries), and then applies its processor to the queries as well.
    """

    __slots__ = ("_items", "_processor", "_store", "__weakref__")

    def __init__(self, iterable: Iterable[Any], processor: Any = None) -> None:
        items = list(as_items(iterable, "choices"))
        processor_mode(processor)  # reject a bad processor before any work
        self._items: List[Any] = items
        self._processor = processor
        self._store = pack(items, processor, "choices")

    @property
    def processor(self) -> Any:
        """The processor the strings were prepared with (None for none)."""
        return self._processor

    def __len__(self) -> int:
        return len(self._items)

    def __getitem__(self, index: int) -> Any:
        try:
            i = operator.index(index)  # NumPy integers, as top_k returns them
        except TypeError:
            raise TypeError(f"Choices indices must be integers, not {type(index).__name__}") from None
        return self._items[i]

    def __iter__(self):
        return iter(self._items)

    def processed(self, index: int) -> Optional[str]:
        """The processed string at ``index`` (None for a missing value)."""
        n = len(self._items)
        if index < 0:
            index += n
        return _native.store_get(self._store, index)

    def top_k(self, queries: Any, **kwargs: Any):
        """``top_k(queries, self, **kwargs)``."""
        from ._matching import top_k

        return top_k(queries, self, **kwargs)

    def __repr__(self) -> str:
        return f"Choices({len(self._items)} strings, processor={self._processor!r})"

    def __reduce__(self):
        return (_rebuild, (self._items, self._processor, _native.store_state(self._store)))

    def __setattr__(self, name: str, value: Any) -> None:
        if hasattr(self, "_store"):
            raise AttributeError("Choices is immutable")
        object.__setattr__(self, name, value)


def _rebuild(items, processor, state):
    c = object.__new__(Choices)
    object.__setattr__(c, "_items", list(items))
    object.__setattr__(c, "_processor", processor)
    object.__setattr__(c, "_store", _native.store_from_state(*state))
    if _native.store_info(c._store)[0] != len(c._items):
        raise ValueError("corrupt Choices state")
    return c
