/*
 * A stand-in plug-in for the host's end-to-end tests: it speaks the module boundary like
 * libpipetask.so but runs no script. Each row goes back unchanged, except for rows that name
 * one of these items, so that the tests can make it use every channel of the boundary:
 *   discard   the row is left out and an info line "discarded" is logged
 *   event     an event of that type (upper-cased) with the value n = the row's number
 *   send      the text goes to the host's fSendString; the answer is logged as "sent N"
 *   byte      the number goes to the host's fSendByte
 *   log       an info line with the text, delivered through the host window at once
 *   queue     an info line with the text, left for GetLogEx (the host is told by 0x0711)
 *   fail      the packet answers -3
 * A configured script (the INI file's Script value) containing COMPILE-ERROR does not compile:
 * the first packet logs "3:7: ';' expected" as an error and every packet answers -4.
 */
#include <pipetask/pipetask.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>

#define EXPORT __attribute__((visibility("default"))) PT_STDCALL

static pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
static uint32_t instance, hostTag;
static int loaded, prepared, compiles;
static intptr_t window;
static TfSendString sendString;
static TfSendByte sendByte;
static PtParamsList *output, *events;
static char pending[65536];
static size_t pendingLen;
static char iniFile[4096];

static NoxMessageWindow* win(void) {
    NoxMessageWindow* w = (NoxMessageWindow*)window;
    return (w && w->magic == NOX_MESSAGE_WINDOW_MAGIC) ? w : NULL;
}

static void queueLine(const char* line, size_t n) {
    if (pendingLen + n + 2 > sizeof pending) return;
    memcpy(pending + pendingLen, line, n);
    memcpy(pending + pendingLen + n, "\r\n", 2);
    pendingLen += n + 2;
}

/* The log channel: deliver now through the window, else keep the line for GetLogEx. */
static void writeLog(int kind, const char* text, int queueOnly) {
    char line[1024];
    int n = snprintf(line, sizeof line, "%cEcho. %s", kind + 1, text);
    NoxMessageWindow* w = win();
    if (!w || n < 0) return;
    if ((size_t)n >= sizeof line) n = sizeof line - 1;
    if (!queueOnly) {
        NoxCopyData cd = {PT_COPYDATA_LOG_LINE, (uint32_t)n, line};
        intptr_t result = 0;
        if (w->send(w, PT_WM_COPYDATA, hostTag, (intptr_t)&cd, 1000, &result)) return;
    }
    queueLine(line, (size_t)n);
    w->post(w, PT_WM_LOG_WAITING, hostTag, 0);
}

static int textOf(const PtValue* v, char* out, size_t cap) {
    if (v->vt == PT_VAR_OLESTR) {
        uint32_t n = pt_utf16_to_utf8(v->u.wstr, pt_wstr_units(v->u.wstr), out, (uint32_t)cap - 1);
        out[n < cap ? n : cap - 1] = 0;
        return 1;
    }
    if (v->vt == PT_VAR_INTEGER) {
        snprintf(out, cap, "%d", v->u.i32);
        return 1;
    }
    out[0] = 0;
    return 0;
}

static const char* paramText(PtParamsList* p, const char* name, char* buf, size_t cap) {
    const PtValue* v = pt_list_find_value(p, name);
    if (!v || !textOf(v, buf, cap)) buf[0] = 0;
    return buf;
}

static int64_t paramInt(PtParamsList* p, const char* name) {
    const PtValue* v = pt_list_find_value(p, name);
    if (!v) return 0;
    if (v->vt == PT_VAR_INT64) return v->u.i64;
    if (v->vt == PT_VAR_INTEGER) return v->u.i32;
    return 0;
}

static int scriptBreaks(void) {
    char line[8192];
    int bad = 0;
    FILE* f = fopen(iniFile, "r");
    if (!f) return 0;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "Script=", 7) == 0 && strstr(line, "COMPILE-ERROR")) bad = 1;
    fclose(f);
    return bad;
}

EXPORT uint32_t GetPluginIntfVersion(void) { return PT_INTF_VERSION_MAJOR | (PT_INTF_VERSION_MINOR << 16); }
EXPORT float GetAppMinVersion(PPluginCallRec rec) { return rec ? 4.0f : -1.0f; }
EXPORT const char* GetModuleDescription(PPluginCallRec rec) { return rec ? "Echo" : NULL; }
EXPORT int32_t GetModuleType(PPluginCallRec rec) { return rec ? PT_MT_BIT(mttFilter) : 0; }
EXPORT int32_t MultiThreadSupport(PPluginCallRec rec) { return rec != NULL; }
EXPORT int32_t GetCustomCommands(PPluginCallRec rec) {
    if (rec) {
        rec->ResultKind = PT_RESULTKIND_NUMBER;
        rec->ResultValue = 0;
    }
    return 0;
}
EXPORT void ShowOptionsDialog(PPluginCallRec rec) { (void)rec; }
EXPORT int32_t GetData(PPluginCallRec rec) {
    if (rec) rec->ResultValue = 0;
    return 0;
}

static int valid(PPluginCallRec rec) {
    return rec && rec->Signature == PT_CALL_SIGNATURE && rec->InstanceId &&
           (rec->Params || rec->ReleaseFlag == PT_RELEASE_FLAG);
}

EXPORT int32_t ExecutePluginCommand(PPluginCallRec rec) {
    char cmd[64], buf[4096];
    int32_t result = PT_RESULT_NOT_HANDLED;
    if (!valid(rec)) return PT_RESULT_REFUSED;
    pthread_mutex_lock(&mu);
    if (rec->ReleaseFlag == PT_RELEASE_FLAG) {
        instance = 0;
        pthread_mutex_unlock(&mu);
        return PT_RESULT_REFUSED;
    }
    instance = rec->InstanceId;
    if (pt_list_find_value(rec->Params, "MessagesProcessorHandle"))
        window = (intptr_t)paramInt(rec->Params, "MessagesProcessorHandle");
    paramText(rec->Params, "COMMAND", cmd, sizeof cmd);
    if (strcmp(cmd, "LOAD") == 0) {
        void* host = (void*)(intptr_t)paramInt(rec->Params, "HANDLE");
        hostTag = rec->HostTag;
        snprintf(iniFile, sizeof iniFile, "%s", paramText(rec->Params, "INI-FILE", buf, sizeof buf));
        sendString = host ? (TfSendString)dlsym(host, "fSendString") : NULL;
        sendByte = host ? (TfSendByte)dlsym(host, "fSendByte") : NULL;
        if (!output) output = pt_list_new(&pt_host_rows_list_class);
        if (!events) events = pt_list_new(&pt_host_rows_list_class);
        loaded = 1;
        prepared = 0;
        result = PT_RESULT_OK;
    } else if (strcmp(cmd, "UNLOAD") == 0) {
        writeLog(PT_LOG_INFO, "unloading", 0);
        loaded = 0;
        pt_list_free(output);
        pt_list_free(events);
        output = events = NULL;
        window = 0;
        result = PT_RESULT_OK;
    }
    pthread_mutex_unlock(&mu);
    return result;
}

EXPORT int32_t GetLogEx(PPluginCallRec rec) {
    int32_t r = 0;
    if (!rec) return 0;
    pthread_mutex_lock(&mu);
    rec->ResultKind = PT_RESULTKIND_NUMBER;
    rec->ResultValue = (intptr_t)pendingLen;
    if (pendingLen && rec->BufferSize == 0) {
        pendingLen = 0;
    } else if (pendingLen && pendingLen <= (size_t)rec->BufferSize) {
        memcpy(rec->Buffer, pending, pendingLen);
        r = (int32_t)pendingLen;
        pendingLen = 0;
    }
    pthread_mutex_unlock(&mu);
    return r;
}

EXPORT int32_t GetEvents(PPluginCallRec rec) {
    if (!valid(rec)) return PT_RESULT_REFUSED;
    pthread_mutex_lock(&mu);
    if (!loaded || !events) {
        pthread_mutex_unlock(&mu);
        return PT_RESULT_REFUSED;
    }
    if (rec->ResultValue == (intptr_t)events) {
        events->Class->Clear(events);
    } else {
        rec->ResultKind = PT_RESULTKIND_LIST;
        rec->ResultValue = (intptr_t)events;
    }
    pthread_mutex_unlock(&mu);
    return PT_RESULT_OK;
}

/* Handles the row of items [from, to) of the input; answers -3 for "fail". */
static int handleRow(PtParamsList* in, int32_t from, int32_t to, int rowNo) {
    int32_t i;
    int discard = 0;
    char text[1024], msg[1100];
    for (i = from; i < to; i++) {
        PtParamsListItem* it = in->Items[i];
        const char* name = it->Name ? it->Name : "";
        textOf(&it->Value, text, sizeof text);
        if (strcmp(name, "fail") == 0) return PT_RESULT_EXCEPTION;
        if (strcmp(name, "discard") == 0) discard = 1;
        if (strcmp(name, "log") == 0) writeLog(PT_LOG_INFO, text, 0);
        if (strcmp(name, "queue") == 0) writeLog(PT_LOG_INFO, text, 1);
        if (strcmp(name, "send") == 0 && sendString) {
            snprintf(msg, sizeof msg, "sent %d", sendString(hostTag, 0, 1, text));
            writeLog(PT_LOG_INFO, msg, 0);
        }
        if (strcmp(name, "byte") == 0 && sendByte && it->Value.vt == PT_VAR_INTEGER)
            sendByte(hostTag, 0, 1, (uint32_t)it->Value.u.i32 & 0xFF);
        if (strcmp(name, "event") == 0) {
            char* c;
            PtValue n;
            memset(&n, 0, sizeof n);
            for (c = text; *c; c++)
                if (*c >= 'a' && *c <= 'z') *c = (char)(*c - 32);
            pt_list_add_text(events, "EVENT-TYPE", text);
            pt_value_set_int(&n, rowNo);
            pt_list_add(events, "n", 1, &n);
            pt_list_add_new_row(events);
            if (win()) win()->post(win(), PT_WM_EVENTS_WAITING, hostTag, 0);
        }
    }
    if (discard) {
        writeLog(PT_LOG_INFO, "discarded", 0);
        return PT_RESULT_OK;
    }
    for (i = from; i < to; i++) pt_list_add_item_copy(output, in->Items[i]);
    pt_list_add_new_row(output);
    return PT_RESULT_OK;
}

EXPORT int32_t ProcessData(PPluginCallRec rec) {
    PtParamsList* in;
    int32_t i, start = 0, result = PT_RESULT_OK;
    int row = 0;
    if (!valid(rec) || !rec->Params) return PT_RESULT_REFUSED;
    pthread_mutex_lock(&mu);
    rec->ResultValue = 0;
    if (!loaded) {
        pthread_mutex_unlock(&mu);
        return PT_RESULT_REFUSED;
    }
    if (!prepared) {
        prepared = 1;
        compiles = !scriptBreaks();
        if (compiles) writeLog(PT_LOG_INFO, "\"Echo\" script has been compiled successfully", 0);
        else writeLog(PT_LOG_ERROR, "3:7: ';' expected", 0);
    }
    if (!compiles) {
        pthread_mutex_unlock(&mu);
        return PT_RESULT_COMPILE_ERROR;
    }
    output->Class->Clear(output);
    in = (PtParamsList*)rec->Buffer;
    if (in && pt_list_valid(in)) {
        for (i = 0; i <= in->Count && result == PT_RESULT_OK; i++) {
            if (i == in->Count || pt_item_is_new_row(in->Items[i])) {
                if (i > start) result = handleRow(in, start, i, ++row);
                start = i + 1;
            }
        }
    }
    if (output->Count) {
        rec->ResultKind = PT_RESULTKIND_LIST;
        rec->ResultValue = (intptr_t)output;
    }
    rec->Buffer = NULL;
    pthread_mutex_unlock(&mu);
    return result;
}
