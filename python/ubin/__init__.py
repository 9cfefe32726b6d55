"""Japanese postal-code directory lookups over the ubin engine.

    import ubin
    d = ubin.Directory("/usr/local/share/marubeta/sample")
    d.postal("7300014")[0].town            # '上幟町'
    d.find("ぎんざ").results[0].postal_code  # '1040061'
    d.resolve("千代田区永田町1-7-1").postal_code

Lookups release the GIL; one Directory may serve many threads. resolve_many() answers a whole
column of addresses in C++ (None, NaN and pd.NA cells give empty answers).
"""
from ._ubin import (  # noqa: F401
    Directory,
    DirectoryError,
    EncodingError,
    Entry,
    Error,
    FindResult,
    QueryError,
    Resolved,
    SettingsError,
    __version__,
)

__all__ = [
    "Directory", "Entry", "FindResult", "Resolved",
    "Error", "DirectoryError", "QueryError", "EncodingError", "SettingsError",
]

# Shown as ubin.Error, ubin.Entry ... in messages and reprs, where users meet them.
for _cls in (Directory, Entry, FindResult, Resolved, Error, DirectoryError, QueryError, EncodingError, SettingsError):
    _cls.__module__ = __name__
del _cls
