/*
 * Stress: several host threads create, use and release module objects by instance id at the
 * same time, through the exports. Meant for ThreadSanitizer and AddressSanitizer builds; it
 * checks that every answer is one of the documented ones and that nothing crashes.
 * Usage: pt_abi_stress <path to libpipetask.so>
 */
#include "test_host.h"

#include <stdlib.h>
#include <string.h>

enum { THREADS = 4, ROUNDS = 1500, IDS = 5 };

static Module M;
static TestWindow W;

static uint32_t next_random(uint32_t* s) {
    *s ^= *s << 13;
    *s ^= *s >> 17;
    *s ^= *s << 5;
    return *s;
}

static void* worker(void* arg) {
    uint32_t seed = (uint32_t)(uintptr_t)arg * 2654435761u + 1;
    PtParamsList* load = pt_list_new(&pt_host_list_class);
    PtParamsList* unload = th_command_list("UNLOAD");
    PtParamsList* items = th_command_list("SET-ITEMS");
    PtParamsList* packet = pt_list_new(&pt_host_rows_list_class);
    int i;
    pt_list_add_text(load, "COMMAND", "LOAD");
    pt_list_add_int64(load, "MessagesProcessorHandle", th_window_handle(&W));
    pt_list_add_text(items, "ITEMS", "A|a|Integer\r\nB|b|String");
    for (i = 0; i < ROUNDS; i++) {
        uint32_t id = 1 + next_random(&seed) % IDS;
        TPluginCallRec r = th_rec(id, load);
        int32_t res;
        const char* d;
        char buf[64];
        switch (next_random(&seed) % 8) {
        case 0:
            CHECK_INT(M.ExecutePluginCommand(&r), 0);
            break;
        case 1:
            r.Params = unload;
            CHECK_INT(M.ExecutePluginCommand(&r), 0);
            break;
        case 2: /* release */
            r.Params = NULL;
            r.ReleaseFlag = PT_RELEASE_FLAG;
            CHECK_INT(M.ExecutePluginCommand(&r), -1);
            break;
        case 3: /* an export packet: closes its last row, logs through the window */
            pt_list_add_int64(packet, "v", i);
            r.CallTypes = PT_MT_BIT(mttDataExport);
            r.DataKind = PT_DATAKIND_LIST;
            r.Buffer = packet;
            res = M.ProcessData(&r);
            /* -3: a packet on an object not loaded yet; -4: the configured (empty) script
             * needs the script runtime to compile */
            CHECK(res == 0 || res == -1 || res == -3 || res == PT_RESULT_COMPILE_ERROR);
            if (packet->Count > 200)
                pt_list_free(packet), packet = pt_list_new(&pt_host_rows_list_class);
            break;
        case 4:
            res = M.GetEvents(&r);
            CHECK(res == 0 || res == -1);
            if (res == 0) {
                res = M.GetEvents(&r);
                CHECK(res == 0 || res == -1);
            }
            break;
        case 5:
            r.Buffer = buf;
            r.BufferSize = sizeof buf;
            res = M.GetLogEx(&r);
            CHECK(res >= 0 && res <= (int32_t)sizeof buf);
            break;
        case 6:
            d = M.GetModuleDescription(&r);
            CHECK(d != NULL);
            CHECK_INT(M.GetModuleType(&r), 0x20);
            break;
        default:
            r.Params = items;
            CHECK_INT(M.ExecutePluginCommand(&r), 0);
            break;
        }
    }
    pt_list_free(load);
    pt_list_free(unload);
    pt_list_free(items);
    pt_list_free(packet);
    return NULL;
}

int main(int argc, char** argv) {
    pthread_t t[THREADS];
    int i;
    if (argc < 2) return 2;
    {
        /* The settings of the module objects go to a folder of this run. */
        static char dir[] = "/tmp/pt_stress_XXXXXX";
        char sub[64];
        if (!mkdtemp(dir)) return 2;
        snprintf(sub, sizeof sub, "%s/hklm", dir);
        setenv("PIPETASK_REGISTRY_HKLM", sub, 1);
        snprintf(sub, sizeof sub, "%s/hkcu", dir);
        setenv("PIPETASK_REGISTRY_HKCU", sub, 1);
        setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    if (!th_load(&M, argv[1])) return 1;
    th_window_open(&W, WIN_ANSWER);
    for (i = 0; i < THREADS; i++) pthread_create(&t[i], NULL, worker, (void*)(uintptr_t)(i + 1));
    for (i = 0; i < THREADS; i++) pthread_join(t[i], NULL);
    for (i = 1; i <= IDS; i++) { /* release what is left, before the window goes */
        TPluginCallRec r = th_rec((uint32_t)i, NULL);
        r.ReleaseFlag = PT_RELEASE_FLAG;
        CHECK_INT(M.ExecutePluginCommand(&r), -1);
    }
    th_window_close(&W);
    th_unload(&M);
    fprintf(stderr, "stress: %s\n", th_failures ? "FAILED" : "ok");
    return th_failures ? 1 : 0;
}
