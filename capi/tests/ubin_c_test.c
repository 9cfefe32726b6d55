/* libubin from C over the sample directory: real answers, the fields of offices and areas,
 * and the error paths a C caller meets (NULLs, bad UTF-8, a missing folder, an index past the
 * end), then one handle shared by several threads; and the sample built again with ubin_build.
 * Run: ubin_c_test SAMPLE_FOLDER KEN_ALL_SAMPLE.CSV JIGYOSYO_SAMPLE.CSV */
#define _XOPEN_SOURCE 700 /* mkdtemp, nftw */
#include "ubin/ubin.h"

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <threads.h>

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: failed: %s (last error: %s)\n", __FILE__, __LINE__, #cond,     \
                    ubin_last_error());                                                            \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static const char* field(const ubin_results* r, size_t i, ubin_field f)
{
    const char* v = NULL;
    if (ubin_results_field(r, i, f, &v) != UBIN_OK) return "(error)";
    return v;
}

static ubin_directory* dir;

/* One query, the way it should be taken, and what its first result should hold. */
struct answer_case {
    enum { POSTAL, FIND, RESOLVE } call;
    const char* query;
    ubin_match match;
    const char* postal_code;
    ubin_field field;
    const char* value;
    int office;
};

static const struct answer_case answers[] = {
    {POSTAL, "7300014", UBIN_MATCH_POSTAL, "7300014", UBIN_FIELD_TOWN, "上幟町", 0},
    {POSTAL, "〒７３０－００１４", UBIN_MATCH_POSTAL, "7300014", UBIN_FIELD_CITY, "広島市中区", 0},
    {POSTAL, "1008111", UBIN_MATCH_POSTAL, "1008111", UBIN_FIELD_OFFICE, "宮内庁", 1},
    {POSTAL, "〒73-0", UBIN_MATCH_POSTAL, "7300000", UBIN_FIELD_CITY, "広島市中区", 0},
    {FIND, "ぎんざ", UBIN_MATCH_READING, "1040061", UBIN_FIELD_TOWN, "銀座", 0},
    {FIND, "730-0014", UBIN_MATCH_POSTAL, "7300014", UBIN_FIELD_CITY_CODE, "34101", 0},
    {FIND, "宮内庁", UBIN_MATCH_TEXT, "1008111", UBIN_FIELD_TYPE, "office", 1},
    {FIND, "ぎんざ", UBIN_MATCH_READING, "1040061", UBIN_FIELD_ROMAJI, "Ginza, Chuo-ku, Tokyo", 0},
    {RESOLVE, "千代田区永田町９９", UBIN_MATCH_ADDRESS, "1000014", UBIN_FIELD_PREFECTURE, "東京都", 0},
    {RESOLVE, "東京都千代田区丸の内2-7-2 JPタワー30階", UBIN_MATCH_ADDRESS, "1007030", UBIN_FIELD_TOWN, "丸の内", 0},
};

static ubin_status ask(int call, const char* query, ubin_results** r)
{
    switch (call) {
    case POSTAL: return ubin_postal(dir, query, 1, 0, r);
    case FIND: return ubin_find(dir, query, 10, r);
    default: return ubin_resolve(dir, query, r);
    }
}

static void test_answers(void)
{
    for (size_t c = 0; c < sizeof answers / sizeof answers[0]; ++c) {
        const struct answer_case* a = &answers[c];
        ubin_results* r = NULL;
        size_t count = 0;
        ubin_match match = UBIN_MATCH_TEXT;
        int office = -1;
        CHECK(ask(a->call, a->query, &r) == UBIN_OK);
        if (!r) continue;
        CHECK(ubin_results_count(r, &count) == UBIN_OK && count >= 1);
        CHECK(ubin_results_match(r, &match) == UBIN_OK && match == a->match);
        if (count >= 1) {
            if (strcmp(field(r, 0, UBIN_FIELD_POSTAL_CODE), a->postal_code) != 0 || strcmp(field(r, 0, a->field), a->value) != 0) {
                fprintf(stderr, "case %zu (%s): got %s %s\n", c, a->query, field(r, 0, UBIN_FIELD_POSTAL_CODE), field(r, 0, a->field));
                ++failures;
            }
            CHECK(ubin_results_is_office(r, 0, &office) == UBIN_OK && office == a->office);
        }
        ubin_results_free(r);
    }
}

/* A code with no digit names no code at all: nothing, not every entry. */
static void test_postal_without_digits(void)
{
    const char* codes[] = {"", "abc", "〒-", "ー", " "};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        ubin_results* r = NULL;
        size_t count = 1, total = 1;
        CHECK(ubin_postal(dir, codes[i], 1, 0, &r) == UBIN_OK);
        CHECK(ubin_results_count(r, &count) == UBIN_OK && count == 0);
        CHECK(ubin_results_total(r, &total) == UBIN_OK && total == 0);
        ubin_results_free(r);
    }
}

/* Codes whose entries carry a note (a range of 丁目, a catch-all): ubin_postal, ubin_find and
 * ubin_resolve give the first entry alike, its town proper without the note. */
static void test_calls_agree(void)
{
    static const char* codes[] = {"0530056", "0380000", "1000000", "0160812", "9690106"};
    static const ubin_field fields[] = {UBIN_FIELD_TOWN, UBIN_FIELD_DETAIL, UBIN_FIELD_ADDRESS, UBIN_FIELD_ROMAJI};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        ubin_results* r[3] = {NULL, NULL, NULL};
        size_t count = 0;
        for (int call = POSTAL; call <= RESOLVE; ++call) {
            CHECK(ask(call, codes[i], &r[call]) == UBIN_OK);
            CHECK(r[call] && ubin_results_count(r[call], &count) == UBIN_OK && count >= 1);
        }
        if (!r[0] || !r[1] || !r[2]) continue;
        for (size_t f = 0; f < sizeof fields / sizeof fields[0]; ++f)
            for (int call = FIND; call <= RESOLVE; ++call)
                if (strcmp(field(r[POSTAL], 0, fields[f]), field(r[call], 0, fields[f])) != 0) {
                    fprintf(stderr, "%s: field %d: postal %s, call %d %s\n", codes[i], (int)fields[f],
                            field(r[POSTAL], 0, fields[f]), call, field(r[call], 0, fields[f]));
                    ++failures;
                }
        CHECK(strstr(field(r[POSTAL], 0, UBIN_FIELD_TOWN), "（") == NULL);
        CHECK(strstr(field(r[POSTAL], 0, UBIN_FIELD_TOWN), "以下に掲載がない場合") == NULL);
        for (int call = POSTAL; call <= RESOLVE; ++call) ubin_results_free(r[call]);
    }
}

/* A limit cuts the results but not the total; resolve keeps the level and what was not read. */
static void test_limit_level_and_suggestions(void)
{
    ubin_results* r = NULL;
    size_t count = 0, total = 0;
    CHECK(ubin_find(dir, "730", 2, &r) == UBIN_OK);
    CHECK(ubin_results_count(r, &count) == UBIN_OK && count == 2);
    CHECK(ubin_results_total(r, &total) == UBIN_OK && total > 2);
    ubin_results_free(r);

    ubin_level level = UBIN_LEVEL_NONE;
    const char* rest = NULL;
    CHECK(ubin_resolve(dir, "広島県広島市中区上幟町8-18", &r) == UBIN_OK);
    CHECK(ubin_results_level(r, &level) == UBIN_OK && level == UBIN_LEVEL_NUMBER);
    ubin_results_free(r);
    /* A town the city does not have: read to the city, the rest handed back. */
    CHECK(ubin_resolve(dir, "広島県広島市中区存在しない町1", &r) == UBIN_OK);
    CHECK(ubin_results_level(r, &level) == UBIN_OK && level == UBIN_LEVEL_CITY);
    CHECK(ubin_results_rest(r, &rest) == UBIN_OK && rest && strstr(rest, "存在しない町") != NULL);
    ubin_results_free(r);

    const char* near = NULL;
    CHECK(ubin_find(dir, "銀坐", 10, &r) == UBIN_OK);
    CHECK(ubin_results_total(r, &total) == UBIN_OK && total == 0);
    CHECK(ubin_results_suggestion_count(r, &count) == UBIN_OK && count >= 1);
    CHECK(ubin_results_suggestion(r, 0, &near) == UBIN_OK && near && strcmp(near, "銀座") == 0);
    CHECK(ubin_results_suggestion(r, count, &near) == UBIN_ERROR_ARGUMENT);
    ubin_results_free(r);
}

static void test_errors(void)
{
    ubin_directory* none = (ubin_directory*)&none; /* left as it is by a failing open */
    CHECK(ubin_open("/nonexistent/ubin-folder", 0, &none) == UBIN_ERROR_DIRECTORY);
    CHECK(strstr(ubin_last_error(), "/nonexistent/ubin-folder") != NULL);
    CHECK(none == (ubin_directory*)&none);

    /* Every NULL where a value is needed: the argument's status and a message naming it. */
    ubin_results* r = NULL;
    const char* text = NULL;
    size_t n = 0;
    const struct {
        ubin_status status;
        const char* names;
    } nulls[] = {
        {ubin_open(NULL, 0, &none), "folder"},
        {ubin_open("/tmp", 0, NULL), "out"},
        {ubin_find(NULL, "x", 1, &r), "directory"},
        {ubin_find(dir, NULL, 1, &r), "text"},
        {ubin_find(dir, "x", 1, NULL), "out"},
        {ubin_postal(dir, NULL, 1, 0, &r), "code"},
        {ubin_resolve(dir, NULL, &r), "address"},
        {ubin_edition(NULL, &text, NULL), "directory"},
        {ubin_results_count(NULL, &n), "results"},
        {ubin_results_field(NULL, 0, UBIN_FIELD_CITY, &text), "results"},
    };
    for (size_t i = 0; i < sizeof nulls / sizeof nulls[0]; ++i) {
        if (nulls[i].status != UBIN_ERROR_ARGUMENT) {
            fprintf(stderr, "NULL case %zu (%s): status %s\n", i, nulls[i].names, ubin_status_name(nulls[i].status));
            ++failures;
        }
    }
    CHECK(ubin_find(dir, NULL, 1, &r) == UBIN_ERROR_ARGUMENT && strstr(ubin_last_error(), "text") != NULL);
    CHECK(r == NULL);

    /* Bytes that are not UTF-8, in each call that takes a text. */
    const char* bad[] = {"\xff", "銀\x80", "\xe9\x8a", "\xc0\xaf"};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        CHECK(ubin_find(dir, bad[i], 1, &r) == UBIN_ERROR_ENCODING && *ubin_last_error() != '\0');
        CHECK(ubin_postal(dir, bad[i], 1, 0, &r) == UBIN_ERROR_ENCODING);
        CHECK(ubin_resolve(dir, bad[i], &r) == UBIN_ERROR_ENCODING);
        CHECK(ubin_open(bad[i], 0, &none) == UBIN_ERROR_ENCODING);
    }
    CHECK(r == NULL);

    /* A query past the engine's bound is refused, and the next good call clears the message. */
    char* longQuery = malloc(3001);
    memset(longQuery, 'a', 3000);
    longQuery[3000] = '\0';
    CHECK(ubin_find(dir, longQuery, 1, &r) == UBIN_ERROR_QUERY);
    free(longQuery);
    CHECK(ubin_find(dir, "ぎんざ", 1, &r) == UBIN_OK && *ubin_last_error() == '\0');

    CHECK(ubin_results_field(r, 1, UBIN_FIELD_CITY, &text) == UBIN_ERROR_ARGUMENT);
    CHECK(ubin_results_field(r, 0, (ubin_field)UBIN_FIELD_COUNT, &text) == UBIN_ERROR_ARGUMENT);
    ubin_results_free(r);
    ubin_results_free(NULL);
    ubin_close(NULL);
}

/* Several threads on one handle give the answers one thread gives, and keep their own message. */
enum { kThreads = 4, kRounds = 50 };
static const char* threadQueries[] = {"ぎんざ", "千代田区永田町1-7-1", "730", "宮内庁"};
static char expected[4][16];

static int worker(void* arg)
{
    const int t = *(const int*)arg;
    int wrong = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int q = (t + round) % 4;
        ubin_results* r = NULL;
        if (ubin_find(dir, threadQueries[q], 5, &r) != UBIN_OK) {
            ++wrong;
            continue;
        }
        if (strcmp(field(r, 0, UBIN_FIELD_POSTAL_CODE), expected[q]) != 0) ++wrong;
        ubin_results_free(r);
        /* A failure on this thread sets this thread's message only. */
        if (t % 2 && (ubin_find(dir, "\xff", 1, &r) != UBIN_ERROR_ENCODING || *ubin_last_error() == '\0')) ++wrong;
        if (t % 2 == 0 && *ubin_last_error() != '\0') ++wrong;
    }
    return wrong;
}

static void test_threads(void)
{
    for (int q = 0; q < 4; ++q) {
        ubin_results* r = NULL;
        CHECK(ubin_find(dir, threadQueries[q], 5, &r) == UBIN_OK);
        snprintf(expected[q], sizeof expected[q], "%s", field(r, 0, UBIN_FIELD_POSTAL_CODE));
        ubin_results_free(r);
    }
    thrd_t threads[kThreads];
    int ids[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        ids[t] = t;
        CHECK(thrd_create(&threads[t], worker, &ids[t]) == thrd_success);
    }
    for (int t = 0; t < kThreads; ++t) {
        int wrong = -1;
        thrd_join(threads[t], &wrong);
        CHECK(wrong == 0);
    }
}

/* --- ubin_build ------------------------------------------------------------------------ */

static char* read_file(const char* path, size_t* size)
{
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    size_t cap = 1 << 16, n = 0;
    char* bytes = malloc(cap);
    for (size_t got; bytes && (got = fread(bytes + n, 1, cap - n, f)) > 0;) {
        n += got;
        if (n == cap) bytes = realloc(bytes, cap *= 2);
    }
    fclose(f);
    *size = n;
    return bytes;
}

/* The manifest's lines but its build number, which differs from build to build, and its own
 * checksum, which covers that number. */
static void drop_build_line(char* text, size_t* size)
{
    char* line = text;
    while (line < text + *size) {
        char* end = memchr(line, '\n', (size_t)(text + *size - line));
        end = end ? end + 1 : text + *size;
        if (strncmp(line, "build ", 6) == 0 || strncmp(line, "xxh3 ", 5) == 0) {
            memmove(line, end, (size_t)(text + *size - end));
            *size -= (size_t)(end - line);
        } else {
            line = end;
        }
    }
}

/* Every file of either folder is in both with the same bytes (ubscon.def, which ubin-build's
 * --settings adds, aside). Returns the number of files compared. */
static int compare_folders(const char* a, const char* b)
{
    int compared = 0;
    const char* folders[2] = {a, b};
    for (int side = 0; side < 2; ++side) {
        DIR* d = opendir(folders[side]);
        CHECK(d != NULL);
        if (!d) return 0;
        for (struct dirent* e; (e = readdir(d)) != NULL;) {
            if (e->d_name[0] == '.' || strcmp(e->d_name, "ubscon.def") == 0) continue;
            char pa[4096], pb[4096];
            snprintf(pa, sizeof pa, "%s/%s", a, e->d_name);
            snprintf(pb, sizeof pb, "%s/%s", b, e->d_name);
            size_t na = 0, nb = 0;
            char* ba = read_file(pa, &na);
            char* bb = read_file(pb, &nb);
            if (strcmp(e->d_name, "MANIFEST.TXT") == 0 && ba && bb) {
                drop_build_line(ba, &na);
                drop_build_line(bb, &nb);
            }
            if (!ba || !bb || na != nb || memcmp(ba, bb, na) != 0) {
                fprintf(stderr, "%s differs between %s and %s\n", e->d_name, a, b);
                ++failures;
            }
            compared += side == 0;
            free(ba);
            free(bb);
        }
        closedir(d);
    }
    return compared;
}

static int remove_entry(const char* path, const struct stat* st, int flag, struct FTW* ftw)
{
    (void)st, (void)flag, (void)ftw;
    return remove(path);
}

struct progress_log {
    int calls;
    long long last_entries;
    int stop_at; /* stop at this call; 0: never */
};

static int on_progress(const ubin_build_progress* p, void* context)
{
    struct progress_log* log = context;
    if (p->entries_written < log->last_entries) ++failures; /* counts only grow */
    log->last_entries = p->entries_written;
    return ++log->calls == log->stop_at;
}

static const char* folder_edition(const char* folder)
{
    static char month[16];
    ubin_directory* d = NULL;
    const char* text = "";
    if (ubin_open(folder, 0, &d) != UBIN_OK) return "(cannot open)";
    ubin_edition(d, &text, NULL);
    snprintf(month, sizeof month, "%s", text);
    ubin_close(d);
    return month;
}

static void test_build(const char* sample, const char* ken_all, const char* offices)
{
    char work[] = "/tmp/ubin_c_test_XXXXXX";
    CHECK(mkdtemp(work) != NULL);
    char out[4200], stray[4300];
    snprintf(out, sizeof out, "%s/zipdata", work);

    /* The sample again, by the C call: the same files as ubin-build wrote. */
    struct progress_log log = {0, 0, 0};
    ubin_build_report report;
    memset(&report, 0xff, sizeof report);
    CHECK(ubin_build(ken_all, out, offices, NULL, NULL, on_progress, &log, &report) == UBIN_OK);
    CHECK(report.entries > 0 && report.offices > 0 && report.rows_read >= report.entries);
    CHECK(report.compared == 0 && report.kept_folder && *report.kept_folder == '\0');
    CHECK(log.calls >= 1 && log.last_entries == report.entries);
    CHECK(compare_folders(sample, out) > 9);
    ubin_directory* built = NULL;
    ubin_results* r = NULL;
    const char* town = NULL;
    CHECK(ubin_open(out, 1, &built) == UBIN_OK);
    CHECK(ubin_postal(built, "7300014", 0, 1, &r) == UBIN_OK && ubin_results_field(r, 0, UBIN_FIELD_TOWN, &town) == UBIN_OK &&
          strcmp(town, "上幟町") == 0);
    ubin_results_free(r);
    ubin_close(built);

    /* Replaced in place, with the month given and the codes counted against the old build. */
    CHECK(ubin_build(ken_all, out, NULL, NULL, "2026-11", NULL, NULL, &report) == UBIN_OK);
    CHECK(strcmp(report.edition, "2026-11") == 0 && report.edition_guessed == 0 && report.offices == 0);
    CHECK(report.compared == 1 && report.codes_added == 0 && report.codes_removed == 0 && report.codes_changed == 0);

    /* Builds that fail leave the folder as it was, with ubin-build's message. */
    const struct {
        const char* ken_all;
        const char* edition;
        int stop_at;
        ubin_status status;
        const char* message;
    } failing[] = {
        {ken_all, "2026-13", 0, UBIN_ERROR_BUILD, "the edition \"2026-13\" is not a year and a month"},
        {ken_all, NULL, 1, UBIN_ERROR_BUILD, "the build was interrupted"},
        {"/nonexistent/KEN_ALL.CSV", NULL, 0, UBIN_ERROR_BUILD, "/nonexistent/KEN_ALL.CSV"},
        {offices, NULL, 0, UBIN_ERROR_BUILD, "jigyosyo_sample.csv: line 1"},
        {"\xff.csv", NULL, 0, UBIN_ERROR_ENCODING, "ken_all"},
    };
    for (size_t i = 0; i < sizeof failing / sizeof failing[0]; ++i) {
        struct progress_log stop = {0, 0, failing[i].stop_at};
        const ubin_status status = ubin_build(failing[i].ken_all, out, NULL, NULL, failing[i].edition, on_progress, &stop, NULL);
        if (status != failing[i].status || strstr(ubin_last_error(), failing[i].message) == NULL) {
            fprintf(stderr, "failing build %zu: %s: %s\n", i, ubin_status_name(status), ubin_last_error());
            ++failures;
        }
        CHECK(strcmp(folder_edition(out), "2026-11") == 0);
    }
    CHECK(ubin_build(ken_all, out, NULL, "/nonexistent/changes.csv", NULL, NULL, NULL, NULL) == UBIN_ERROR_BUILD);
    CHECK(strstr(ubin_last_error(), "/nonexistent/changes.csv") != NULL);
    CHECK(ubin_build(NULL, out, NULL, NULL, NULL, NULL, NULL, NULL) == UBIN_ERROR_ARGUMENT);
    CHECK(ubin_build(ken_all, NULL, NULL, NULL, NULL, NULL, NULL, NULL) == UBIN_ERROR_ARGUMENT);

    /* A folder holding a file of the user's is not replaced. */
    snprintf(stray, sizeof stray, "%s/notes.txt", out);
    FILE* f = fopen(stray, "w");
    CHECK(f != NULL);
    if (f) fclose(f);
    CHECK(ubin_build(ken_all, out, NULL, NULL, NULL, NULL, NULL, NULL) == UBIN_ERROR_BUILD &&
          strstr(ubin_last_error(), "notes.txt") != NULL);
    f = fopen(stray, "r");
    CHECK(f != NULL);
    if (f) fclose(f);

    nftw(work, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: ubin_c_test SAMPLE_FOLDER KEN_ALL_SAMPLE.CSV JIGYOSYO_SAMPLE.CSV\n");
        return 2;
    }
    int major = 0, minor = -1;
    ubin_api_version(&major, &minor);
    CHECK(major == UBIN_API_VERSION_MAJOR && minor >= 0);
    for (int mapped = 0; mapped <= 1; ++mapped) {
        CHECK(ubin_open(argv[1], mapped, &dir) == UBIN_OK);
        if (!dir) return 1;
        const char* edition = NULL;
        CHECK(ubin_edition(dir, &edition, NULL) == UBIN_OK && edition && *edition != '\0');
        test_answers();
        test_postal_without_digits();
        test_calls_agree();
        test_limit_level_and_suggestions();
        test_errors();
        if (mapped) test_threads();
        ubin_close(dir);
    }
    test_build(argv[1], argv[2], argv[3]);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
