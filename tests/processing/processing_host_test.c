/*
 * The plug-in running scripts over packets, driven through its exports by a host in C: "LOAD"
 * with an INI configuration that holds the script, packets in, rows out, log lines through the
 * host window, events through GetEvents, and the send functions reaching this host's exports.
 * Usage: pt_processing_tests <path to libpipetask.so> <test name>
 * Exit code 77 (skipped) while the plug-in cannot run a trivial script.
 */
#include "test_host.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static Module M;
static TestWindow W;
static char g_dir[256];
static void* g_self;
static uint32_t g_nextId = 5000;
static int g_iniSerial;

/* ---- configuration ---- */

/* Writes an INI file whose section P.Common holds the script (lines joined by CR LF, stored
 * as the settings store writes them) and the language index. Answers its path (static). */
static const char* write_ini(const char* script, int language) {
    static char path[512];
    FILE* f;
    const char* s;
    snprintf(path, sizeof path, "%s/cfg%d.ini", g_dir, ++g_iniSerial);
    f = fopen(path, "wb");
    if (!f) {
        perror(path);
        exit(1);
    }
    fputs("[P.Common]\r\nScript=", f);
    for (s = script; *s; s++) {
        if (*s == '\n')
            fputs("%0d%0a", f);
        else if (*s == '+')
            fputs("%2b", f); /* a stored '+' reads back as a blank */
        else if (*s == '%')
            fputs("%%", f);
        else
            fputc(*s, f);
    }
    fprintf(f, "\r\nLanguage=%d\r\n", language);
    fclose(f);
    return path;
}

static PtParamsList* load_params(const char* ini) {
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    pt_list_add_text(p, "INI-FILE", ini);
    pt_list_add_text(p, "INISectionPrefix", "P");
    pt_list_add_text(p, "RegistryPath", "\\Software\\Pipetask\\Test");
    pt_list_add_int64(p, "MessagesProcessorHandle", th_window_handle(&W));
    pt_list_add_int64(p, "HANDLE", (int64_t)(intptr_t)g_self);
    return p;
}

/* A new module object, loaded with the script; the INI file it uses goes to *ini. */
static uint32_t load(const char* script, int language, char* ini, size_t iniSize) {
    uint32_t id = ++g_nextId;
    const char* path = write_ini(script, language);
    PtParamsList* p = load_params(path);
    CHECK_INT(th_command(&M, id, "LOAD", p), 0);
    pt_list_free(p);
    if (ini) snprintf(ini, iniSize, "%s", path);
    return id;
}

static int32_t reload(uint32_t id, const char* ini) {
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    int32_t r;
    pt_list_add_text(p, "INI-FILE", ini);
    r = th_command(&M, id, "LOAD-SETTINGS-NOW", p);
    pt_list_free(p);
    return r;
}

static void release(uint32_t id) {
    TPluginCallRec r = th_rec(id, NULL);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    r.ReleaseFlag = PT_RELEASE_FLAG;
    M.ExecutePluginCommand(&r);
}

/* ---- packets ---- */

/* A packet from "a=1,b=x|a=2|": items name=value (an integer when it reads as one, else text),
 * "|" a row marker. A description without "|" makes a single-row list. */
static PtParamsList* packet_of(const char* desc) {
    int rows = strchr(desc, '|') != NULL;
    PtParamsList* l = pt_list_new(rows ? &pt_host_rows_list_class : &pt_host_list_class);
    const char* s = desc;
    while (*s) {
        char name[64], value[256];
        size_t n = 0, v = 0;
        if (*s == '|') {
            pt_list_add_new_row(l);
            s++;
            continue;
        }
        if (*s == ',') {
            s++;
            continue;
        }
        while (*s && *s != '=' && n + 1 < sizeof name) name[n++] = *s++;
        name[n] = 0;
        if (*s == '=') s++;
        while (*s && *s != ',' && *s != '|' && v + 1 < sizeof value) value[v++] = *s++;
        value[v] = 0;
        {
            char* end;
            long long x = strtoll(value, &end, 10);
            if (v > 0 && *end == 0)
                pt_list_add_int64(l, name, x);
            else
                pt_list_add_text(l, name, value);
        }
    }
    return l;
}

static const char* value_text(const PtValue* v) {
    static __thread char buf[64];
    switch (v->vt) {
    case PT_VAR_SMALLINT:
        snprintf(buf, sizeof buf, "%d", v->u.i16);
        return buf;
    case PT_VAR_INTEGER:
        snprintf(buf, sizeof buf, "%d", v->u.i32);
        return buf;
    case PT_VAR_INT64:
        snprintf(buf, sizeof buf, "%lld", (long long)v->u.i64);
        return buf;
    case PT_VAR_BYTE:
        snprintf(buf, sizeof buf, "%u", v->u.u8);
        return buf;
    case PT_VAR_DOUBLE:
        snprintf(buf, sizeof buf, "%g", v->u.f64);
        return buf;
    case PT_VAR_BOOLEAN:
        return v->u.boolean ? "True" : "False";
    case PT_VAR_EMPTY:
        return "<empty>";
    case PT_VAR_NULL:
        return "<null>";
    default:
        return th_text(v);
    }
}

/* The rows of a list as "a=1,b=2|a=3|" (a marker is "|"). */
static const char* rows_text(const PtParamsList* l) {
    static __thread char out[8192]; /* per thread: the two-thread test reads rows on both */
    size_t at = 0;
    int32_t i;
    out[0] = 0;
    if (!l) return "<none>";
    for (i = 0; i < l->Count && at < sizeof out - 300; i++) {
        const PtParamsListItem* it = l->Items[i];
        if (pt_item_is_new_row(it)) {
            out[at++] = '|';
            out[at] = 0;
            continue;
        }
        if (at > 0 && out[at - 1] != '|') out[at++] = ',';
        at +=
            (size_t)snprintf(out + at, sizeof out - at, "%s=%s", it->Name, value_text(&it->Value));
    }
    return out;
}

static int32_t g_lastResult;
static TPluginCallRec g_lastRec;

/* Sends the packet; answers the rows published for it ("" when none). */
static const char* process(uint32_t id, const char* desc) {
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    PtParamsList* data = packet_of(desc);
    const char* text;
    TPluginCallRec r = th_rec(id, p);
    r.CallTypes = PT_MT_BIT(mttFilter);
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = data;
    r.SourceTag = 0x55;
    g_lastResult = M.ProcessData(&r);
    g_lastRec = r;
    if (r.ResultValue && r.ResultKind == PT_RESULTKIND_LIST)
        text = rows_text((const PtParamsList*)r.ResultValue);
    else
        text = "";
    pt_list_free(data);
    pt_list_free(p);
    return text;
}

#define CHECK_STR(a, b)                                                                            \
    do {                                                                                           \
        const char* sa_ = (a);                                                                     \
        const char* sb_ = (b);                                                                     \
        if (strcmp(sa_, sb_) != 0) {                                                               \
            fprintf(stderr, "%s:%d: %s is \"%s\", expected \"%s\"\n", __FILE__, __LINE__, #a, sa_, \
                    sb_);                                                                          \
            th_failures++;                                                                         \
        }                                                                                          \
    } while (0)

/* ---- the log, as the window received it ---- */

/* Number of log lines (kind byte + 1 == kind1) that contain `text`; kind1 0 counts any kind. */
static int log_count(int kind1, const char* text) {
    int i, n = 0;
    th_window_drain(&W);
    pthread_mutex_lock(&W.lock);
    for (i = 0; i < W.nHandled; i++) {
        HostMsg* m = &W.handled[i];
        if (m->msg != PT_WM_COPYDATA || m->tag != PT_COPYDATA_LOG_LINE || m->size == 0) continue;
        if (kind1 && m->data[0] != kind1) continue;
        if (strstr(m->data + 1, text)) n++;
    }
    pthread_mutex_unlock(&W.lock);
    return n;
}

static int log_lines(void) {
    return log_count(0, "");
}

static void dump_log(void) {
    int i;
    pthread_mutex_lock(&W.lock);
    for (i = 0; i < W.nHandled; i++)
        if (W.handled[i].msg == PT_WM_COPYDATA)
            fprintf(stderr, "  log: %s\n", W.handled[i].data + 1);
    pthread_mutex_unlock(&W.lock);
}

/* ---- the tests ---- */

static const char* DOUBLE_A = "begin\n  SetVariable('b', GetVariable('a') * 2);\nend.\n";

static void test_rows(void) {
    uint32_t id = load(DOUBLE_A, 0, NULL, 0);
    CHECK_STR(process(id, "a=1|a=2|"), "a=1,b=2|a=2,b=4|");
    CHECK_INT(g_lastResult, 0);
    CHECK_INT(g_lastRec.ResultKind, PT_RESULTKIND_LIST);
    CHECK_STR(process(id, "a=3,c=x"), "a=3,c=x,b=6|"); /* one row, no marker */
    CHECK_STR(process(id, "a=4|a=5"), "a=4,b=8|a=5,b=10|");
    CHECK_INT(log_count(3, "\"PascalScript\" script has been compiled successfully"), 1);
    release(id);
}

/* Empty rows (a leading marker, two markers in a row) are skipped; the rows after them are
 * processed. A packet of markers only publishes nothing. */
static void test_empty_rows(void) {
    uint32_t id = load(DOUBLE_A, 0, NULL, 0);
    CHECK_STR(process(id, "|a=1||a=2|"), "a=1,b=2|a=2,b=4|");
    CHECK_STR(process(id, "|||"), "");
    CHECK_INT(g_lastResult, 0);
    CHECK(g_lastRec.ResultValue == 0);
    release(id);
}

static void test_discard(void) {
    uint32_t id = load("begin\n  if GetVariable('a') mod 3 = 0 then DiscardDataPacket;\n"
                       "  SetVariable('seen', 1);\nend.\n",
                       0, NULL, 0);
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|a=3|a=4|a=6|a=7|"), "a=1,seen=1|a=4,seen=1|a=7,seen=1|");
    CHECK_INT(log_count(3, "Data packet has been discarted"), 2);
    CHECK_STR(process(id, "a=9|"), "");
    CHECK(g_lastRec.ResultValue == 0);
    release(id);
}

static void test_compile_error(void) {
    char ini[512];
    uint32_t id = load("begin\n  x := ;\nend.\n", 0, ini, sizeof ini);
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|"), "");
    CHECK_INT(g_lastResult, -4);
    CHECK_INT(log_count(1, ""), 1);
    CHECK_INT(log_lines(), 1);
    CHECK_STR(process(id, "a=1|"), "");
    CHECK_INT(g_lastResult, -4);
    CHECK_INT(log_lines(), 1); /* no new line: compiled once per configuration load */

    /* Repaired in the store: "LOAD-SETTINGS-NOW" makes the next packet compile again. */
    {
        FILE* f = fopen(ini, "wb");
        fputs("[P.Common]\r\nScript=begin SetVariable('ok', 1); end.\r\nLanguage=0\r\n", f);
        fclose(f);
    }
    CHECK_INT(reload(id, ini), -2);
    CHECK_STR(process(id, "a=1|"), "a=1,ok=1|");
    CHECK_INT(g_lastResult, 0);
    CHECK_INT(log_count(3, "script has been compiled successfully"), 1);

    /* Broken again: the packet answered -4 publishes none of the rows left from before. */
    {
        FILE* f = fopen(ini, "wb");
        fputs("[P.Common]\r\nScript=begin x := ; end.\r\nLanguage=0\r\n", f);
        fclose(f);
    }
    CHECK_INT(reload(id, ini), -2);
    CHECK_STR(process(id, "a=2|"), "");
    CHECK_INT(g_lastResult, -4);
    CHECK(g_lastRec.ResultValue == 0);
    release(id);
}

static void test_runtime_error(void) {
    uint32_t id =
        load("begin\n  SetVariable('r', 10 div (GetVariable('a') - 2));\nend.\n", 0, NULL, 0);
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|a=2|a=3|"), "a=1,r=-10|");
    CHECK_INT(g_lastResult, 0);
    CHECK_INT(log_count(1, "Unable to execute \"PascalScript\" script: "), 1);
    CHECK_INT(log_count(1, ""), 1);
    /* The script stays compiled: the next packet runs normally. */
    CHECK_STR(process(id, "a=3|"), "a=3,r=10|");
    CHECK_INT(log_count(1, ""), 1);
    release(id);
}

static void test_language_index(void) {
    uint32_t id = load(DOUBLE_A, 7, NULL, 0);
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|"), "a=1,b=2|");
    CHECK_INT(log_count(3, "\"PascalScript\" script has been compiled successfully"), 1);
    release(id);
}

static void test_stored_values(void) {
    char ini[512];
    uint32_t id =
        load("begin\n  if IsVariableStored('x') then SetVariable('prev', PopVariable('x'));\n"
             "  PushVariable('x', GetVariable('a'));\nend.\n",
             0, ini, sizeof ini);
    uint32_t other =
        load("begin\n  if IsVariableStored('x') then SetVariable('prev', 0);\nend.\n", 0, NULL, 0);
    CHECK_STR(process(id, "a=1|"), "a=1|");
    CHECK_STR(process(id, "a=5|a=6|"), "a=5,prev=1|a=6,prev=5|");
    CHECK_STR(process(other, "a=1|"), "a=1|"); /* each module object keeps its own */
    CHECK_INT(reload(id, ini), -2);
    CHECK_STR(process(id, "a=7|"), "a=7|");
    release(id);
    release(other);
}

static void test_row_functions(void) {
    uint32_t id =
        load("begin\n  SetVariable('A', 9);\n  DeleteVariable('b');\n"
             "  SetVariable('n', GetVariableCount);\n"
             "  SetVariable('last', GetVariableNameByIndex(GetVariableCount - 1));\nend.\n",
             0, NULL, 0);
    CHECK_STR(process(id, "a=1,b=1,b=2|"), "a=9,b=2,n=2,last=n|");
    release(id);
}

static void test_events_and_log(void) {
    uint32_t id = load("begin\n  SendEvent('alarm', ['level', GetVariable('a'), 'odd']);\n"
                       "  DbgLog('row done');\nend.\n",
                       0, NULL, 0);
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    TPluginCallRec r = th_rec(id, p);
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|a=2|"), "a=1|a=2|");
    CHECK_INT(log_count(3, "row done"), 2);
    CHECK(th_window_count(&W, PT_WM_EVENTS_WAITING) >= 1);
    CHECK_INT(M.GetEvents(&r), 0);
    CHECK_STR(rows_text((const PtParamsList*)r.ResultValue),
              "EVENT-TYPE=ALARM,level=1|EVENT-TYPE=ALARM,level=2|");
    CHECK_INT(M.GetEvents(&r), 0); /* confirms */
    pt_list_free(p);
    release(id);
}

static void test_sends(void) {
    uint32_t id = load("begin\n  SendData('ab');\n  SendData('');\n  SendByte(300);\n"
                       "  SendString('xyz');\nend.\n",
                       0, NULL, 0);
    th_sent_calls = 0;
    th_sent_byte_value = 0;
    CHECK_STR(process(id, "a=1|"), "a=1|");
    CHECK_INT(th_sent_calls, 3); /* SendData(''): no call */
    CHECK_INT(th_sent_byte_value, 44);
    CHECK_INT(th_sent_count, 3);
    CHECK(memcmp(th_sent_bytes, "xyz", 3) == 0);
    CHECK_INT(th_sent_tag, 0x7A6);   /* the HostTag of "LOAD" */
    CHECK_INT(th_sent_source, 0x55); /* the SourceTag of the packet */
    release(id);
}

/* Scripts that misbehave cost bounded memory and never take the host down. */
static void test_bad_scripts(void) {
    uint32_t id = load("procedure f;\nbegin\n  f;\nend;\nbegin\n  f;\nend.\n", 0, NULL, 0);
    uint32_t ev;
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    TPluginCallRec r;
    th_window_reset(&W);
    CHECK_STR(process(id, "a=1|a=2|"), "");
    CHECK_INT(g_lastResult, 0);
    CHECK_INT(log_count(1, "Unable to execute"), 1);
    release(id);

    ev = load("var i: Integer;\nbegin\n  for i := 1 to 30000 do SendEvent('e', ['i', i]);\nend.\n",
              0, NULL, 0);
    CHECK_STR(process(ev, "a=1|"), "a=1|");
    r = th_rec(ev, p);
    CHECK_INT(M.GetEvents(&r), 0);
    CHECK(r.ResultValue != 0 && ((const PtParamsList*)r.ResultValue)->Count <= 20003);
    release(ev);
    pt_list_free(p);
}

/* Two module objects, each with its own script and stored values, on two threads at once. */
typedef struct {
    uint32_t id;
    int factor;
    int failures;
} Worker;

static void* work(void* arg) {
    Worker* w = (Worker*)arg;
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    int k;
    for (k = 1; k <= 300; k++) {
        PtParamsList* data = pt_list_new(&pt_host_rows_list_class);
        TPluginCallRec r = th_rec(w->id, p);
        const PtParamsList* out;
        pt_list_add_int64(data, "a", k);
        pt_list_add_new_row(data);
        r.CallTypes = PT_MT_BIT(mttFilter);
        r.DataKind = PT_DATAKIND_LIST;
        r.Buffer = data;
        if (M.ProcessData(&r) != 0 || !r.ResultValue) {
            w->failures++;
        } else {
            /* a, b = a * factor, total = the sum of a so far (kept in the stored values) */
            out = (const PtParamsList*)r.ResultValue;
            char want[64];
            snprintf(want, sizeof want, "a=%d,b=%d,total=%d|", k, k * w->factor, k * (k + 1) / 2);
            if (strcmp(rows_text(out), want) != 0) w->failures++;
        }
        pt_list_free(data);
    }
    pt_list_free(p);
    return NULL;
}

static void test_two_threads(void) {
    static const char* script = "var t: Integer;\nbegin\n"
                                "  t := GetVariable('a');\n"
                                "  if IsVariableStored('t') then t := t + PopVariable('t');\n"
                                "  PushVariable('t', t);\n"
                                "  SetVariable('b', GetVariable('a') * %d);\n"
                                "  SetVariable('total', t);\nend.\n";
    char s1[512], s2[512];
    Worker w[2];
    pthread_t t[2];
    int i;
    snprintf(s1, sizeof s1, script, 3);
    snprintf(s2, sizeof s2, script, 7);
    w[0].id = load(s1, 0, NULL, 0);
    w[0].factor = 3;
    w[1].id = load(s2, 0, NULL, 0);
    w[1].factor = 7;
    for (i = 0; i < 2; i++) {
        w[i].failures = 0;
        pthread_create(&t[i], NULL, work, &w[i]);
    }
    for (i = 0; i < 2; i++) pthread_join(t[i], NULL);
    CHECK_INT(w[0].failures, 0);
    CHECK_INT(w[1].failures, 0);
    release(w[0].id);
    release(w[1].id);
}

typedef struct {
    const char* name;
    void (*run)(void);
} Test;

static const Test tests[] = {
    {"rows", test_rows},
    {"empty_rows", test_empty_rows},
    {"discard", test_discard},
    {"compile_error", test_compile_error},
    {"runtime_error", test_runtime_error},
    {"language_index", test_language_index},
    {"stored_values", test_stored_values},
    {"row_functions", test_row_functions},
    {"events_and_log", test_events_and_log},
    {"sends", test_sends},
    {"bad_scripts", test_bad_scripts},
    {"two_threads", test_two_threads},
};

/* Whether the plug-in runs a trivial script (the script runtime is part of the build). */
static int runs_scripts(char* why, size_t whySize) {
    uint32_t id = load("begin\n  SetVariable('probe', 1);\nend.\n", 0, NULL, 0);
    const char* rows = process(id, "a=0|");
    int ok = g_lastResult == 0 && strcmp(rows, "a=0,probe=1|") == 0;
    if (!ok) {
        int i;
        snprintf(why, whySize, "result %d, rows \"%s\"", g_lastResult, rows);
        pthread_mutex_lock(&W.lock);
        for (i = 0; i < W.nHandled; i++)
            if (W.handled[i].msg == PT_WM_COPYDATA && W.handled[i].tag == PT_COPYDATA_LOG_LINE) {
                size_t at = strlen(why);
                snprintf(why + at, whySize - at, "; log: %s", W.handled[i].data + 1);
            }
        pthread_mutex_unlock(&W.lock);
    }
    release(id);
    th_window_reset(&W);
    return ok;
}

int main(int argc, char** argv) {
    size_t i;
    int ran = 0, code;
    char why[1024] = "";
    if (argc < 3) {
        fprintf(stderr, "usage: %s <libpipetask.so> <test>\n", argv[0]);
        return 2;
    }
    snprintf(g_dir, sizeof g_dir, "/tmp/pt_processing_XXXXXX");
    if (!mkdtemp(g_dir)) return 2;
    setenv("XDG_RUNTIME_DIR", g_dir, 1);
    {
        char hklm[300], hkcu[300];
        snprintf(hklm, sizeof hklm, "%s/hklm", g_dir);
        snprintf(hkcu, sizeof hkcu, "%s/hkcu", g_dir);
        setenv("PIPETASK_REGISTRY_HKLM", hklm, 1);
        setenv("PIPETASK_REGISTRY_HKCU", hkcu, 1);
    }
    g_self = dlopen(NULL, RTLD_NOW);
    if (!th_load(&M, argv[1])) return 1;
    th_window_open(&W, WIN_ANSWER);
    if (!runs_scripts(why, sizeof why)) {
        printf("SKIPPED: the plug-in does not run a trivial script yet: %s\n", why);
        code = 77;
    } else {
        for (i = 0; i < sizeof tests / sizeof *tests; i++) {
            int before = th_failures;
            if (strcmp(argv[2], tests[i].name) != 0) continue;
            th_window_reset(&W);
            tests[i].run();
            ran++;
            if (th_failures != before) dump_log();
            fprintf(stderr, "%s: %s\n", tests[i].name, th_failures == before ? "ok" : "FAILED");
        }
        if (!ran) fprintf(stderr, "no test named %s\n", argv[2]);
        code = !ran ? 2 : th_failures ? 1 : 0;
    }
    th_window_close(&W);
    th_unload(&M);
    dlclose(g_self);
    {
        char cmd[400];
        snprintf(cmd, sizeof cmd, "rm -rf '%s'", g_dir);
        if (system(cmd) != 0) fprintf(stderr, "could not remove %s\n", g_dir);
    }
    return code;
}
