"""lumets: particle flows, their controls and their frames (NumPy arrays) from Python."""
import os
from typing import Any, Iterable, Iterator, Optional, Tuple, Union

import numpy
import numpy.typing

__version__: str

Frames = Union[int, str, range, Iterable[int], None]
"""Frames: one frame, a range, a list of frame numbers or frame-list text ("0-35", "1-10x2,15")."""

PictureSource = Union[str, os.PathLike, numpy.typing.NDArray[numpy.uint16]]

class Error(RuntimeError):
    """A flow, file or render that lumets refuses, with the command line's one-line message."""

class FrameIterator(Iterator[numpy.typing.NDArray[numpy.uint16]]):
    """Frames as they are rendered, in ascending order: arrays (height, width, 4) of uint16."""
    def __iter__(self) -> "FrameIterator": ...
    def __next__(self) -> numpy.typing.NDArray[numpy.uint16]: ...
    def close(self) -> None:
        """Stops the render (between frames)."""

class Flow:
    """A flow: image inputs, control values and frames, as in a flow file."""
    @staticmethod
    def load(path: Union[str, os.PathLike]) -> "Flow":
        """Reads a flow file (JSON)."""
    @staticmethod
    def from_dict(flow: dict, folder: str = "") -> "Flow":
        """A flow from a dict laid out as a flow file; relative paths are taken from folder."""
    def to_dict(self) -> dict:
        """The flow as a dict laid out as a flow file."""
    def save(self, path: Union[str, os.PathLike]) -> None:
        """Writes the flow file (relative paths rebased)."""
    def __getitem__(self, key: str) -> Any:
        """A control's value as the flow gives it (keys and curves as in flow files); the tool's
        own value for a number the flow does not set. KeyError for an unknown control."""
    def __setitem__(self, key: str, value: Any) -> None:
        """Sets a control (a number, [x, y], {"keys": [[frame, value], ...]}, {"points": ...}, text).
        KeyError for an unknown control, ValueError for a value it does not take."""
    def __contains__(self, key: str) -> bool: ...
    @property
    def frame_range(self) -> Tuple[int, int]:
        """(first, last) frame of the flow."""
    def set_background(self, source: PictureSource) -> None:
        """The background: an image file's path or an array (height, width, 4 or 3) of uint16."""
    def set_shape(self, source: PictureSource) -> None:
        """The particle shape: an image file's path or an array (height, width, 4 or 3) of uint16."""
    def render(self, frame: int, *, threads: int = 0, quick: bool = False) -> numpy.typing.NDArray[numpy.uint16]:
        """One frame as an array (height, width, 4) of uint16 (R, G, B, A)."""
    def frames(self, frames: Frames = None, *, threads: int = 0, quick: bool = False) -> FrameIterator:
        """The frames (the flow's frames when None), in order, as arrays."""
    def record(self, path: Union[str, os.PathLike], frames: Optional[str] = None, *, threads: int = 0) -> None:
        """Records the flow's particles over the frames ("A-B") to a .lpd file."""
    def play(self, path: Union[str, os.PathLike], frames: Frames = None, reverse: bool = False, *,
             threads: int = 0, quick: bool = False) -> FrameIterator:
        """Plays a .lpd recording back: the frames as arrays."""

def inspect(path: Union[str, os.PathLike]) -> dict:
    """A motion-data (.lpd) file's frame table and records, as a dict."""
