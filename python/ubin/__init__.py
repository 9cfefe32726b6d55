"""Japanese postal-code directory lookups over the ubin engine.

    import ubin
    d = ubin.Directory("/usr/share/marubeta")
    d.postal("7300014")[0].town            # '上幟町'
    d.find("ぎんざ").results[0].postal_code  # '1040061'
    d.resolve("千代田区永田町1-7-1").postal_code

    ubin.build("KEN_ALL.CSV", "zipdata", offices="JIGYOSYO.CSV", edition="2026-11")

Lookups release the GIL; one Directory may serve many threads. resolve_many() answers a whole
column of addresses in C++ (None, NaN and pd.NA cells give empty answers); given a pandas
DataFrame and the name of its address column, it gives the frame with the columns of
`ubin find --batch` added (the address split, reasons, confidence, a review flag):

    cleaned = d.resolve_many(df, column="住所", code_column="郵便番号", threads=0)

build() makes a directory folder as ubin-build does.
"""
from ._ubin import (  # noqa: F401
    BuildError,
    BuildProgress,
    BuildReport,
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
    build,
)

__all__ = [
    "Directory", "Entry", "FindResult", "Resolved", "build", "BuildReport", "BuildProgress",
    "Error", "DirectoryError", "QueryError", "EncodingError", "SettingsError", "BuildError",
]

# Shown as ubin.Error, ubin.Entry ... in messages, reprs and help(), where users meet them.
for _name in __all__:
    globals()[_name].__module__ = __name__
del _name
