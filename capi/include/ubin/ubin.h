/* The lookup engine for C programs: a directory folder opened once, postal codes looked up,
 * anything a person types found and ranked, written addresses resolved to their best entry;
 * and the build of a directory folder from Japan Post's files, as ubin-build makes it.
 *
 * Conventions of every call:
 *  - Texts go in and come out as UTF-8, NUL-terminated.
 *  - Every call returns a ubin_status; answers come back through out-parameters, which are
 *    left untouched when the call fails.
 *  - The message of a failure is kept per thread: ubin_last_error() gives the message of the
 *    last call made on the calling thread ("" after a call that succeeded). It stays valid until
 *    that thread's next ubin_ call.
 *  - A ubin_directory may be used from any number of threads at once, as the engine itself.
 *    A ubin_results belongs to the thread that uses it; it does not depend on the directory
 *    handle and may outlive it.
 *  - Strings a result set hands out stay valid until the set is freed.
 *
 * Link with -lubin. Version 1.1 added ubin_build. */
#ifndef UBIN_UBIN_H
#define UBIN_UBIN_H

#include <stddef.h>

#define UBIN_API_VERSION_MAJOR 1
#define UBIN_API_VERSION_MINOR 1

#if defined(_WIN32) && defined(UBIN_BUILDING_LIBRARY)
#define UBIN_API __declspec(dllexport)
#elif defined(_WIN32)
#define UBIN_API __declspec(dllimport)
#elif defined(__GNUC__)
#define UBIN_API __attribute__((visibility("default")))
#else
#define UBIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ubin_status {
    UBIN_OK = 0,
    UBIN_ERROR_ARGUMENT = 1,  /* a NULL where a value is needed, an index out of range */
    UBIN_ERROR_ENCODING = 2,  /* a text that is not UTF-8 */
    UBIN_ERROR_QUERY = 3,     /* a query refused: too long, or holding a control character */
    UBIN_ERROR_DIRECTORY = 4, /* a folder missing, unreadable or damaged */
    UBIN_ERROR_MEMORY = 5,
    UBIN_ERROR_INTERNAL = 6,  /* anything else the engine threw */
    UBIN_ERROR_BUILD = 7      /* ubin_build: an input file refused (the message names the file, the
                                 line and why), a folder that cannot be written or replaced, or a
                                 build stopped by its progress callback */
} ubin_status;

/* How a find took its query. */
typedef enum ubin_match {
    UBIN_MATCH_POSTAL = 0,  /* 3 to 7 digits: the codes beginning with them */
    UBIN_MATCH_READING = 1, /* kana alone */
    UBIN_MATCH_TEXT = 2,    /* any part of an address or an office's name */
    UBIN_MATCH_ADDRESS = 3  /* a written address */
} ubin_match;

/* How far a written address was matched. */
typedef enum ubin_level {
    UBIN_LEVEL_NONE = 0,
    UBIN_LEVEL_PREFECTURE = 1,
    UBIN_LEVEL_CITY = 2,
    UBIN_LEVEL_TOWN = 3,
    UBIN_LEVEL_NUMBER = 4
} ubin_level;

/* The fields of one result. Fields an entry does not have are "". */
typedef enum ubin_field {
    UBIN_FIELD_POSTAL_CODE = 0,     /* 7 digits */
    UBIN_FIELD_PREFECTURE = 1,
    UBIN_FIELD_CITY = 2,
    UBIN_FIELD_TOWN = 3,            /* the town proper (without KEN_ALL's note) */
    UBIN_FIELD_DETAIL = 4,          /* KEN_ALL's note in parentheses, as written there */
    UBIN_FIELD_PREFECTURE_KANA = 5, /* readings, half-width katakana as the directory holds them */
    UBIN_FIELD_CITY_KANA = 6,
    UBIN_FIELD_TOWN_KANA = 7,
    UBIN_FIELD_CITY_CODE = 8,       /* 5 digits */
    UBIN_FIELD_OFFICE = 9,          /* offices: the name, its reading and the street part */
    UBIN_FIELD_OFFICE_KANA = 10,
    UBIN_FIELD_STREET = 11,
    UBIN_FIELD_TYPE = 12,           /* "area", "office" or "pobox" */
    UBIN_FIELD_ADDRESS = 13,        /* the whole address as ubin find prints it */
    UBIN_FIELD_ROMAJI = 14          /* "Ginza, Chuo-ku, Tokyo" */
} ubin_field;
#define UBIN_FIELD_COUNT 15

typedef struct ubin_directory ubin_directory;
typedef struct ubin_results ubin_results;

/* The version of the library that is linked: compare its major with UBIN_API_VERSION_MAJOR. */
UBIN_API void ubin_api_version(int* major, int* minor);
/* The message of the last call on this thread; "" when it succeeded. Never NULL. */
UBIN_API const char* ubin_last_error(void);
/* "ok", "argument", "encoding", "query", "directory", "memory", "internal", "build". */
UBIN_API const char* ubin_status_name(ubin_status status);

/* Opens a directory folder built by ubin-build. `mapped` non-zero maps the files lookups read
 * into memory, for a program that answers many lookups. */
UBIN_API ubin_status ubin_open(const char* folder, int mapped, ubin_directory** out);
/* NULL is allowed. Every result set stays usable. */
UBIN_API void ubin_close(ubin_directory* directory);
/* The data's edition: "2023-09", or "unknown" for a folder built before editions. `guessed`
 * (may be NULL) is 1 when the month was taken from the input files' dates. The text lives as
 * long as the directory handle. */
UBIN_API ubin_status ubin_edition(const ubin_directory* directory, const char** month, int* guessed);

/* The entries whose postal code begins with `code` (〒, hyphens, full-width digits allowed), by
 * code, area entries before the offices of a code. `offices` zero leaves the offices out;
 * `limit` 0 gives every entry. The set's match is UBIN_MATCH_POSTAL, its total its count. */
UBIN_API ubin_status ubin_postal(const ubin_directory* directory, const char* code, int offices, size_t limit,
                                 ubin_results** out);
/* Anything a person types, best first (as `ubin find`); at most `limit` results (0: all). */
UBIN_API ubin_status ubin_find(const ubin_directory* directory, const char* text, size_t limit, ubin_results** out);
/* The best entry of a written address (as `ubin find --batch` answers a line): a set of one
 * result, or none when nothing was found; its level and rest say how far the text was read. */
UBIN_API ubin_status ubin_resolve(const ubin_directory* directory, const char* address, ubin_results** out);

/* NULL is allowed. */
UBIN_API void ubin_results_free(ubin_results* results);
/* The results held (at most the limit asked for). */
UBIN_API ubin_status ubin_results_count(const ubin_results* results, size_t* count);
/* Every match, also those beyond the limit. */
UBIN_API ubin_status ubin_results_total(const ubin_results* results, size_t* total);
UBIN_API ubin_status ubin_results_match(const ubin_results* results, ubin_match* match);
/* For an address: how far it was matched and what of it was not used ("" for other matches). */
UBIN_API ubin_status ubin_results_level(const ubin_results* results, ubin_level* level);
UBIN_API ubin_status ubin_results_rest(const ubin_results* results, const char** rest);
/* A field of result `index` (0-based). */
UBIN_API ubin_status ubin_results_field(const ubin_results* results, size_t index, ubin_field field,
                                        const char** value);
/* Whether result `index` is an office (or a post office box) rather than an area. */
UBIN_API ubin_status ubin_results_is_office(const ubin_results* results, size_t index, int* office);
/* When nothing was found: names near the query, nearest first. */
UBIN_API ubin_status ubin_results_suggestion_count(const ubin_results* results, size_t* count);
UBIN_API ubin_status ubin_results_suggestion(const ubin_results* results, size_t index, const char** value);

/* How far a build has come: the rows of KEN_ALL read, then those of JIGYOSYO, then the entries
 * written. Each count only grows. */
typedef struct ubin_build_progress {
    long long rows_read;
    long long offices_read;
    long long entries_written;
} ubin_build_progress;

/* Called now and then (every few thousand rows) on the thread that called ubin_build. Return 0
 * to go on; anything else stops the build, which then fails with UBIN_ERROR_BUILD ("the build
 * was interrupted") and leaves the folder as it was. It must not call ubin_build. */
typedef int (*ubin_build_callback)(const ubin_build_progress* progress, void* context);

/* What a build made, as ubin-build reports it. */
typedef struct ubin_build_report {
    long long rows_read;       /* rows of KEN_ALL */
    long long rows_joined;     /* continuation rows joined to the row before them */
    long long entries;         /* postal entries written */
    long long city_codes;      /* municipal codes */
    long long offices;         /* offices written (0 without JIGYOSYO) */
    char edition[8];           /* the month recorded, "2026-11"; "" when unknown */
    int edition_guessed;       /* 1: taken from the input files' dates */
    int compared;              /* 1: the folder replaced held a directory, counted below */
    long long codes_added, codes_removed, codes_changed;
    /* Where the old folder was kept whole, because files other than directory files appeared in
     * it during the build; "" normally. Valid until the thread's next ubin_ call. */
    const char* kept_folder;
} ubin_build_report;

/* Builds a directory folder from Japan Post's KEN_ALL.CSV (code page 932 or the UTF-8 edition)
 * and, when `offices` is not NULL, its JIGYOSYO.CSV, with the files, checks and messages of
 * ubin-build. The files are written beside `folder`, which then takes its place whole; a folder
 * that exists must be one ubin-build made (it holds nothing but directory files).
 * `changes` (may be NULL: the list built in) names a list of the municipalities merged or
 * renamed, UTF-8 CSV "prefecture,before,after,date", recorded so that old names are read. `edition` is the data's month, "YYYY-MM"; NULL records the newest
 * month an input file was changed in, as guessed. `progress` (may be NULL) is called with
 * `context`. `report` (may be NULL) receives what was made. Paths are UTF-8. */
UBIN_API ubin_status ubin_build(const char* ken_all, const char* folder, const char* offices, const char* changes,
                                const char* edition, ubin_build_callback progress, void* context,
                                ubin_build_report* report);

#ifdef __cplusplus
}
#endif

#endif
