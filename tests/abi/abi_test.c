/*
 * ABI tests: a host in C that loads the built libpipetask.so with dlopen and drives it through
 * its twelve exports. Usage: pt_abi_tests <path to libpipetask.so> [test name]
 */
#include "test_host.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

static Module M;
static uint32_t nextId = 1000;
/* What a packet answers on a freshly loaded object: its configuration is the empty script,
 * which compiles (0) once the plug-in has its script runtime, and answers -4 before. */
static int32_t packetOk = 0;
static uint32_t fresh_id(void) {
    return ++nextId;
}

/* ---- identity ---- */

static void test_identity(void) {
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    TPluginCallRec r = th_rec(fresh_id(), p);
    const char* d;
    CHECK_INT(M.GetPluginIntfVersion(), 4);
    CHECK_INT(M.GetModuleType(&r), 0x20);
    CHECK(M.GetAppMinVersion(&r) == 4.0f);
    d = M.GetModuleDescription(&r);
    CHECK(d && strcmp(d, "Pipetask") == 0);
    CHECK_INT(M.MultiThreadSupport(&r), 1);

    /* A null record or instance 0: lookup fails. */
    CHECK(M.GetAppMinVersion(NULL) == -1.0f);
    CHECK(M.GetModuleDescription(NULL) == NULL);
    CHECK_INT(M.GetModuleType(NULL), 0);
    CHECK_INT(M.MultiThreadSupport(NULL), 0);
    r.InstanceId = 0;
    CHECK(M.GetAppMinVersion(&r) == -1.0f);
    CHECK_INT(M.GetModuleType(&r), 0);
    M.ShowOptionsDialog(NULL);
    CHECK_INT(M.GetCustomCommands(NULL), 0);
    CHECK_INT(M.GetLogEx(NULL), 0);

    /* No custom commands: empty text, ResultValue 0. */
    r.InstanceId = fresh_id();
    r.ResultValue = 77;
    CHECK_INT(M.GetCustomCommands(&r), 0);
    CHECK_INT(r.ResultValue, 0);
    CHECK_INT(r.ResultKind, PT_RESULTKIND_NUMBER);

    /* The options dialog without a handler: status 3 (no dialog), 2 when no module. */
    M.ShowOptionsDialog(&r);
    CHECK_INT(r.ResultValue, 3);
    CHECK_INT(r.ResultSize, 4);
    r.InstanceId = 0;
    M.ShowOptionsDialog(&r);
    CHECK_INT(r.ResultValue, 2);
    pt_list_free(p);
}

/* ---- the record check ---- */

static void test_record_check(void) {
    static const uint32_t signatures[] = {101, 103, 0};
    PtParamsList* p = th_command_list("LOAD");
    size_t i;
    for (i = 0; i < sizeof signatures / sizeof *signatures; i++) {
        TPluginCallRec r = th_rec(fresh_id(), p);
        r.Signature = signatures[i];
        CHECK_INT(M.ExecutePluginCommand(&r), -1);
        CHECK_INT(M.GetData(&r), -1);
        CHECK_INT(M.GetEvents(&r), -1);
        CHECK_INT(M.ProcessData(&r), -1);
    }
    {
        TPluginCallRec r = th_rec(fresh_id(), NULL); /* no Params, no release flag */
        CHECK_INT(M.ExecutePluginCommand(&r), -1);
        CHECK_INT(M.ProcessData(&r), -1);
        CHECK_INT(M.ExecutePluginCommand(NULL), -1);
        CHECK_INT(M.ProcessData(NULL), -1);
        CHECK_INT(M.GetEvents(NULL), -1);
        CHECK_INT(M.GetData(NULL), -1);
    }
    {
        /* No COMMAND, or a Null one: -1. */
        PtParamsList* q = pt_list_new(&pt_host_list_class);
        TPluginCallRec r = th_rec(fresh_id(), q);
        CHECK_INT(M.ExecutePluginCommand(&r), -1);
        pt_list_add_null(q, "COMMAND");
        CHECK_INT(M.ExecutePluginCommand(&r), -1);
        pt_list_free(q);
    }
    pt_list_free(p);
}

/* A list whose magic number is wrong, as Params or as the packet: -3, no crash. */
static void test_bad_lists(void) {
    PtParamsList* p = th_command_list("LOAD");
    PtParamsList* packet = pt_list_new(&pt_host_rows_list_class);
    uint32_t id = fresh_id();
    TPluginCallRec r = th_rec(id, p);
    p->Magic = 0x12345678;
    CHECK_INT(M.ExecutePluginCommand(&r), -3);
    CHECK_INT(M.ProcessData(&r), -3);
    p->Magic = PT_LIST_MAGIC;
    CHECK_INT(M.ExecutePluginCommand(&r), 0);

    pt_list_add_int64(packet, "x", 1);
    packet->Magic = 0;
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = packet;
    r.CallTypes = PT_MT_BIT(mttDataExport);
    CHECK_INT(M.ProcessData(&r), -3);
    packet->Magic = PT_LIST_MAGIC;
    pt_list_free(packet);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(p);
}

/* ---- lookup and release ---- */

static const char* items_of(uint32_t id) {
    PtParamsList* l = pt_list_new(&pt_host_list_class);
    static char text[256];
    pt_list_add_text(l, "RESULT", "");
    CHECK_INT(th_command(&M, id, "ITEMS", l), 0);
    snprintf(text, sizeof text, "%s", th_text(pt_list_find_value(l, "RESULT")));
    pt_list_free(l);
    return text;
}

static void set_items(uint32_t id, const char* text) {
    PtParamsList* l = pt_list_new(&pt_host_list_class);
    pt_list_add_text(l, "ITEMS", text);
    CHECK_INT(th_command(&M, id, "SET-ITEMS", l), 0);
    pt_list_free(l);
}

static void test_instances(void) {
    uint32_t a = fresh_id(), b = fresh_id();
    TPluginCallRec rel = th_rec(a, NULL);
    set_items(a, "A|a");
    CHECK(strcmp(items_of(a), "A|a||") == 0); /* a repeated id reaches the same object */
    CHECK(strcmp(items_of(b), "") == 0);      /* another id, another object */

    rel.ReleaseFlag = PT_RELEASE_FLAG;
    CHECK_INT(M.ExecutePluginCommand(&rel), -1);
    CHECK(strcmp(items_of(a), "") == 0); /* released: a fresh object now */
    CHECK_INT(M.ExecutePluginCommand(&rel), -1);
    CHECK_INT(M.ExecutePluginCommand(&rel), -1); /* nothing left to release: still -1 */
    rel.InstanceId = b;
    CHECK_INT(M.ExecutePluginCommand(&rel), -1);
}

/* ---- the text buffer protocol, through GetLogEx ---- */

static void test_buffer_protocol(void) {
    TestWindow w;
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    char buf[128];
    const char* line = "\x02Pipetask. No data for processing\r\n";
    const int32_t len = (int32_t)strlen(line);
    TPluginCallRec r;
    th_window_open(&w, WIN_HUNG);
    pt_list_add_int64(p, "MessagesProcessorHandle", th_window_handle(&w));
    CHECK_INT(th_command(&M, id, "LOAD", p), 0);

    /* An export call without data logs one warning; the hung window leaves it pending. */
    r = th_rec(id, p);
    r.CallTypes = PT_MT_BIT(mttDataExport);
    r.DataKind = PT_DATAKIND_LIST;
    CHECK_INT(M.ProcessData(&r), 0);

    memset(buf, 'Z', sizeof buf);
    r = th_rec(id, p);
    r.Buffer = buf;
    r.BufferSize = len - 1;
    CHECK_INT(M.GetLogEx(&r), 0);
    CHECK_INT(r.ResultValue, len);
    CHECK(buf[0] == 'Z');
    r.BufferSize = len;
    CHECK_INT(M.GetLogEx(&r), len);
    CHECK_INT(r.ResultValue, len);
    CHECK(memcmp(buf, line, (size_t)len) == 0);
    CHECK(buf[len] == 'Z'); /* no terminating zero */
    r.BufferSize = sizeof buf;
    CHECK_INT(M.GetLogEx(&r), 0); /* taken: nothing pending */
    CHECK_INT(r.ResultValue, 0);

    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    th_window_close(&w);
    pt_list_free(p);
}

/* ---- lists across the boundary ---- */

static void test_lists_both_ways(void) {
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    PtParamsList* rows = pt_list_new(&pt_host_rows_list_class);
    PtParamsList* single = pt_list_new(&pt_host_list_class);
    PtParamsList* events;
    TPluginCallRec r;
    int32_t i;

    /* Host-made list read by the module: the name matches without regard to ASCII case. */
    pt_list_add_text(p, "command", "LOAD");
    r = th_rec(id, p);
    CHECK_INT(M.ExecutePluginCommand(&r), 0);

    /* Module code appends to a host list through the host's class: the export call closes
     * the last row of a multi-row packet with a marker; a single-row list stays as it is. */
    pt_list_add_int64(rows, "a", 1);
    pt_list_add_new_row(rows);
    pt_list_add_int64(rows, "a", 2);
    r = th_rec(id, p);
    r.CallTypes = PT_MT_BIT(mttDataExport);
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = rows;
    CHECK_INT(M.ProcessData(&r), packetOk);
    CHECK(r.Buffer == NULL);
    CHECK_INT(rows->Count, 4);
    CHECK(pt_item_is_new_row(rows->Items[3]));
    CHECK_INT(rows->Items[3]->Value.vt, PT_VAR_NULL);
    CHECK(strcmp(rows->Items[3]->LowerName, "$new_row$") == 0);
    CHECK(rows->Capacity >= rows->Count);
    pt_list_add_int64(single, "a", 1);
    r.Buffer = single;
    CHECK_INT(M.ProcessData(&r), packetOk);
    CHECK_INT(single->Count, 1);

    /* A module-made list read by the host: the event list. */
    r = th_rec(id, p);
    CHECK_INT(M.GetEvents(&r), 0);
    CHECK_INT(r.ResultKind, PT_RESULTKIND_LIST);
    events = (PtParamsList*)r.ResultValue;
    CHECK(events != NULL);
    if (events) {
        CHECK(pt_list_valid(events));
        CHECK(pt_class_name_is(events->Class, "TnoxRowsParamsList"));
        CHECK_INT(pt_str_bytes(events->ListId), 38);
        CHECK(events->ListId[0] == '{' && events->ListId[37] == '}' && events->ListId[15] == '4');
        for (i = 1; i < 37; i++) {
            char c = events->ListId[i];
            int dash = i == 9 || i == 14 || i == 19 || i == 24;
            CHECK(dash ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')));
        }
        CHECK_INT(events->Count, 0);
        /* The second call with the address confirms and clears; any other value publishes. */
        CHECK_INT(M.GetEvents(&r), 0);
        r.ResultValue = 12345;
        CHECK_INT(M.GetEvents(&r), 0);
        CHECK(r.ResultValue == (intptr_t)events);
    }

    /* Module writes a text into a host item: "ITEMS" fills RESULT with a wide string. */
    set_items(id, "Temperature|temp|Float|C");
    CHECK(strcmp(items_of(id), "Temperature|temp|Float|C") == 0);

    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(rows);
    pt_list_free(single);
    pt_list_free(p);
}

/* ---- commands ---- */

static void test_commands(void) {
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    PtParamsList* ev = pt_list_new(&pt_host_list_class);
    PtParamsList* st = pt_list_new(&pt_host_list_class);
    TPluginCallRec r = th_rec(id, p);
    CHECK_INT(th_command(&M, id, "load", NULL), -2);
    CHECK_INT(th_command(&M, id, "NO-SUCH", NULL), -2);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0); /* never loaded: LoadCount stays 0 */
    CHECK_INT(M.ProcessData(&r), 0);                  /* and the object is not unloaded */

    CHECK_INT(th_command(&M, id, "LOAD", NULL), 0);
    CHECK_INT(th_command(&M, id, "LOAD", NULL), 0);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    CHECK_INT(M.ProcessData(&r), 0); /* still loaded */
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    CHECK_INT(M.ProcessData(&r), -1); /* unloaded: refused at once */
    CHECK_INT(M.GetEvents(&r), -1);
    CHECK_INT(M.GetData(&r), -1);
    CHECK_INT(th_command(&M, id, "LOAD", NULL), 0);
    CHECK_INT(M.ProcessData(&r), 0);

    CHECK_INT(th_command(&M, id, "ITEMS", NULL), -1); /* no RESULT item */
    CHECK_INT(th_command(&M, id, "SET-ITEMS", NULL), -1);
    set_items(id, "Cap|name|float\r\nlonely\r\nB|b|NoType|x");
    CHECK(strcmp(items_of(id), "Cap|name|Float|\r\nB|b||x") == 0);

    CHECK_INT(th_command(&M, id, "EVENT", NULL), -1);
    pt_list_add_text(ev, "EVENT-TYPE", "Alarm");
    CHECK_INT(th_command(&M, id, "EVENT", ev), 0);
    CHECK_INT(th_command(&M, id, "SAVE-SETTINGS-NOW", NULL), -2);
    CHECK_INT(th_command(&M, id, "LOAD-SETTINGS-NOW", NULL), -2);
    CHECK_INT(th_command(&M, id, "SET-STATE", NULL), -1);
    pt_list_add_int64(st, "RESULT", 1);
    CHECK_INT(th_command(&M, id, "SET-STATE", st), 0);
    {
        PtParamsList* es = pt_list_new(&pt_host_list_class);
        pt_list_add_text(es, "RESULT", "unchanged");
        CHECK_INT(th_command(&M, id, "EVENTS-SUPPORT", es), 0);
        CHECK(strcmp(th_text(pt_list_find_value(es, "RESULT")), "") == 0);
        pt_list_free(es);
        es = pt_list_new(&pt_host_list_class);
        CHECK_INT(th_command(&M, id, "EVENTS-SUPPORT", es), 0);
        CHECK(pt_list_find_value(es, "RESULT") == NULL); /* not added */
        pt_list_free(es);
    }
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(p);
    pt_list_free(ev);
    pt_list_free(st);
}

/* ---- data exchange ---- */

static void test_packets(void) {
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    PtParamsList* data = pt_list_new(&pt_host_rows_list_class);
    TPluginCallRec r;
    CHECK_INT(th_command(&M, id, "LOAD", NULL), 0);
    /* Empty CallTypes: 0, and Buffer is taken away. */
    r = th_rec(id, p);
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = data;
    r.ResultValue = 99;
    CHECK_INT(M.ProcessData(&r), 0);
    CHECK(r.Buffer == NULL);
    CHECK_INT(r.ResultValue, 0);
    /* The empty script keeps the row: it comes back closed by a marker. A packet that was
     * not processed (-4) publishes no rows. */
    pt_list_add_int64(data, "x", 5);
    r.Buffer = data;
    r.CallTypes = PT_MT_BIT(mttFilter);
    CHECK_INT(M.ProcessData(&r), packetOk);
    if (packetOk == 0) {
        const PtParamsList* out = (const PtParamsList*)r.ResultValue;
        CHECK_INT(r.ResultKind, PT_RESULTKIND_LIST);
        CHECK(out && out->Count == 2 && pt_item_is_new_row(out->Items[1]));
    } else {
        CHECK_INT(r.ResultValue, 0);
    }
    /* GetData without a handler: 0, no data. */
    r = th_rec(id, p);
    r.CallTypes = PT_MT_BIT(mttDataQuery);
    r.Buffer = data;
    CHECK_INT(M.GetData(&r), 0);
    CHECK(r.Buffer == NULL);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(data);
    pt_list_free(p);
}

/* ---- the log channel ---- */

static void test_log_delivery(void) {
    TestWindow w, bogus;
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    TPluginCallRec r;
    int i, n;
    th_window_open(&w, WIN_ANSWER);
    pt_list_add_int64(p, "MessagesProcessorHandle", th_window_handle(&w));
    CHECK_INT(th_command(&M, id, "LOAD", p), 0);
    r = th_rec(id, p);
    r.CallTypes = PT_MT_BIT(mttDataExport);
    CHECK_INT(M.ProcessData(&r), 0);
    n = th_window_drain(&w);
    CHECK_INT(n, 1);
    if (n == 1) {
        HostMsg* m = &w.handled[0];
        CHECK_INT(m->msg, PT_WM_COPYDATA);
        CHECK_INT(m->wParam, 0x7A6); /* the HostTag of the LOAD record */
        CHECK_INT(m->tag, PT_COPYDATA_LOG_LINE);
        CHECK(m->size == 33 && memcmp(m->data, "\x02Pipetask. No data for processing", 33) == 0);
    }

    /* The window stops answering: lines wait, the host is told with 0x0711. */
    th_window_reset(&w);
    th_window_set_mode(&w, WIN_HUNG);
    for (i = 0; i < 150; i++) CHECK_INT(M.ProcessData(&r), 0);
    {
        char* buf = (char*)malloc(100000);
        int lines = 0;
        TPluginCallRec g = th_rec(id, p);
        g.Buffer = buf;
        g.BufferSize = 100000;
        n = M.GetLogEx(&g);
        CHECK_INT(n, 100 * 35);
        for (i = 0; i + 1 < n; i++) lines += buf[i] == '\r' && buf[i + 1] == '\n';
        CHECK_INT(lines, 100);
        free(buf);
    }
    th_window_set_mode(&w, WIN_ANSWER);
    th_window_drain(&w);
    CHECK(th_window_count(&w, PT_WM_LOG_WAITING) == 150);

    /* Pending lines go first, as one block (tag 1), then the new line (tag 2). */
    th_window_reset(&w);
    th_window_set_mode(&w, WIN_HUNG);
    CHECK_INT(M.ProcessData(&r), 0);
    CHECK_INT(M.ProcessData(&r), 0);
    th_window_set_mode(&w, WIN_ANSWER);
    th_window_drain(&w);
    th_window_reset(&w);
    CHECK_INT(M.ProcessData(&r), 0);
    n = th_window_drain(&w);
    CHECK_INT(n, 2);
    if (n == 2) {
        CHECK_INT(w.handled[0].tag, PT_COPYDATA_LOG_BLOCK);
        CHECK_INT(w.handled[0].size, 2 * 35);
        CHECK_INT(w.handled[1].tag, PT_COPYDATA_LOG_LINE);
    }

    /* GetLogEx with BufferSize 0 discards the pending lines. */
    th_window_set_mode(&w, WIN_HUNG);
    CHECK_INT(M.ProcessData(&r), 0);
    {
        TPluginCallRec g = th_rec(id, p);
        CHECK_INT(M.GetLogEx(&g), 0);
        CHECK_INT(g.ResultValue, 35);
        CHECK_INT(M.GetLogEx(&g), 0);
        CHECK_INT(g.ResultValue, 0);
    }

    /* A handle that is not a window (wrong magic) counts as no window: nothing is logged. */
    memset(&bogus, 0, sizeof bogus);
    {
        PtParamsList* q = pt_list_new(&pt_host_list_class);
        TPluginCallRec g = th_rec(id, p);
        pt_list_add_int64(q, "MessagesProcessorHandle", th_window_handle(&bogus));
        CHECK_INT(th_command(&M, id, "SET-STATE", q), -1); /* any command takes the handle */
        CHECK_INT(M.ProcessData(&r), 0);
        CHECK_INT(M.GetLogEx(&g), 0);
        CHECK_INT(g.ResultValue, 0);
        pt_list_free(q);
    }
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    th_window_set_mode(&w, WIN_ANSWER);
    th_window_close(&w);
    pt_list_free(p);
}

/* The host module: "HANDLE" from dlopen(NULL), or a stray number that is not a handle. */
static void test_host_module(void) {
    uint32_t id = fresh_id();
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    void* self = dlopen(NULL, RTLD_NOW);
    pt_list_add_int64(p, "HANDLE", (int64_t)(intptr_t)self);
    CHECK_INT(th_command(&M, id, "LOAD", p), 0);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(p);
    p = pt_list_new(&pt_host_list_class);
    pt_list_add_int64(p, "HANDLE", 0x1234);
    pt_list_add_text(p, "ApplicationName", "no-such-host");
    CHECK_INT(th_command(&M, id, "LOAD", p), 0);
    CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
    pt_list_free(p);
    dlclose(self);
}

typedef struct {
    const char* name;
    void (*run)(void);
} Test;

static const Test tests[] = {
    {"identity", test_identity},
    {"record_check", test_record_check},
    {"bad_lists", test_bad_lists},
    {"instances", test_instances},
    {"buffer_protocol", test_buffer_protocol},
    {"lists_both_ways", test_lists_both_ways},
    {"commands", test_commands},
    {"packets", test_packets},
    {"log_delivery", test_log_delivery},
    {"host_module", test_host_module},
};

int main(int argc, char** argv) {
    size_t i;
    int ran = 0;
    if (argc < 2) {
        fprintf(stderr, "usage: %s <libpipetask.so> [test]\n", argv[0]);
        return 2;
    }
    {
        /* The settings of the module objects go to a folder of this run. */
        static char dir[] = "/tmp/pt_abi_XXXXXX";
        char sub[64];
        if (!mkdtemp(dir)) return 2;
        snprintf(sub, sizeof sub, "%s/hklm", dir);
        setenv("PIPETASK_REGISTRY_HKLM", sub, 1);
        snprintf(sub, sizeof sub, "%s/hkcu", dir);
        setenv("PIPETASK_REGISTRY_HKCU", sub, 1);
        setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    if (!th_load(&M, argv[1])) return 1;
    {
        PtParamsList* data = pt_list_new(&pt_host_list_class);
        PtParamsList* p = pt_list_new(&pt_host_list_class);
        uint32_t id = fresh_id();
        TPluginCallRec r = th_rec(id, p);
        CHECK_INT(th_command(&M, id, "LOAD", NULL), 0);
        pt_list_add_int64(data, "x", 1);
        r.CallTypes = PT_MT_BIT(mttFilter);
        r.DataKind = PT_DATAKIND_LIST;
        r.Buffer = data;
        packetOk = M.ProcessData(&r);
        CHECK(packetOk == 0 || packetOk == PT_RESULT_COMPILE_ERROR);
        CHECK_INT(th_command(&M, id, "UNLOAD", NULL), 0);
        pt_list_free(p);
        pt_list_free(data);
    }
    for (i = 0; i < sizeof tests / sizeof *tests; i++) {
        if (argc > 2 && strcmp(argv[2], tests[i].name) != 0) continue;
        int before = th_failures;
        tests[i].run();
        ran++;
        fprintf(stderr, "%s: %s\n", tests[i].name, th_failures == before ? "ok" : "FAILED");
    }
    th_unload(&M);
    if (!ran) {
        fprintf(stderr, "no test named %s\n", argv[2]);
        return 2;
    }
    return th_failures ? 1 : 0;
}
