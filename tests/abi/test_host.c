#include "test_host.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int th_failures;

/* ---- the module ---- */

int th_load(Module* m, const char* path) {
    memset(m, 0, sizeof *m);
    m->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!m->handle) {
        fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
        th_failures++;
        return 0;
    }
#define RESOLVE(name)                                                                              \
    do {                                                                                           \
        *(void**)(&m->name) = dlsym(m->handle, #name);                                             \
        if (!m->name) {                                                                            \
            fprintf(stderr, "missing export %s\n", #name);                                         \
            th_failures++;                                                                         \
            return 0;                                                                              \
        }                                                                                          \
    } while (0)
    RESOLVE(GetPluginIntfVersion);
    RESOLVE(GetAppMinVersion);
    RESOLVE(GetModuleDescription);
    RESOLVE(GetModuleType);
    RESOLVE(MultiThreadSupport);
    RESOLVE(GetCustomCommands);
    RESOLVE(ExecutePluginCommand);
    RESOLVE(ShowOptionsDialog);
    RESOLVE(GetLogEx);
    RESOLVE(GetData);
    RESOLVE(GetEvents);
    RESOLVE(ProcessData);
#undef RESOLVE
    return 1;
}

void th_unload(Module* m) {
    if (m->handle) dlclose(m->handle);
    m->handle = NULL;
}

TPluginCallRec th_rec(uint32_t instance, PtParamsList* params) {
    TPluginCallRec r;
    memset(&r, 0, sizeof r);
    r.Signature = PT_CALL_SIGNATURE;
    r.InstanceId = instance;
    r.HostTag = 0x7A6;
    r.Params = params;
    return r;
}

PtParamsList* th_command_list(const char* command) {
    PtParamsList* l = pt_list_new(&pt_host_list_class);
    pt_list_add_text(l, "COMMAND", command);
    return l;
}

int32_t th_command(Module* m, uint32_t instance, const char* command, PtParamsList* extra) {
    PtParamsList* l = extra ? extra : pt_list_new(&pt_host_list_class);
    TPluginCallRec r;
    int32_t result;
    pt_list_add_text(l, "COMMAND", command);
    r = th_rec(instance, l);
    result = m->ExecutePluginCommand(&r);
    if (!extra) pt_list_free(l);
    return result;
}

const char* th_text(const PtValue* v) {
    static char buf[4096];
    buf[0] = 0;
    if (!v) return buf;
    if (v->vt == PT_VAR_OLESTR) {
        uint32_t n = pt_utf16_to_utf8(v->u.wstr, pt_wstr_units(v->u.wstr), buf, sizeof buf - 1);
        buf[n < sizeof buf - 1 ? n : sizeof buf - 1] = 0;
    } else if (v->vt == PT_VAR_STRING) {
        uint32_t n = pt_str_bytes(v->u.str);
        if (n > sizeof buf - 1) n = sizeof buf - 1;
        memcpy(buf, v->u.str, n);
        buf[n] = 0;
    }
    return buf;
}

/* ---- the window ---- */

static void record(TestWindow* w, const HostMsg* m) {
    if (w->nHandled == w->capHandled) {
        w->capHandled = w->capHandled ? w->capHandled * 2 : 64;
        w->handled = (HostMsg*)realloc(w->handled, (size_t)w->capHandled * sizeof(HostMsg));
    }
    w->handled[w->nHandled++] = *m;
}

static void* serve(void* arg) {
    TestWindow* w = (TestWindow*)arg;
    pthread_mutex_lock(&w->lock);
    for (;;) {
        while (!w->stop && (!w->head || w->mode == WIN_HUNG)) pthread_cond_wait(&w->cond, &w->lock);
        if (w->stop) break;
        QueuedMsg* q = w->head;
        w->head = q->next;
        if (!w->head) w->tail = NULL;
        record(w, &q->m);
        if (q->isSend && !q->abandoned) {
            q->done = 1;
        } else {
            free(q);
        }
        pthread_cond_broadcast(&w->cond);
    }
    pthread_mutex_unlock(&w->lock);
    return NULL;
}

static void enqueue(TestWindow* w, QueuedMsg* q) {
    q->next = NULL;
    if (w->tail)
        w->tail->next = q;
    else
        w->head = q;
    w->tail = q;
    pthread_cond_broadcast(&w->cond);
}

static QueuedMsg* make(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    QueuedMsg* q = (QueuedMsg*)calloc(1, sizeof *q);
    q->m.msg = msg;
    q->m.wParam = wParam;
    if (msg == PT_WM_COPYDATA && lParam) {
        const NoxCopyData* cd = (const NoxCopyData*)lParam;
        q->m.tag = cd->tag;
        q->m.size = cd->size;
        q->m.data = (char*)malloc(cd->size + 1);
        memcpy(q->m.data, cd->data, cd->size);
        q->m.data[cd->size] = 0;
    }
    return q;
}

static int win_post(NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    TestWindow* w = (TestWindow*)self;
    int ok;
    pthread_mutex_lock(&w->lock);
    ok = w->mode != WIN_REFUSE_POSTS;
    if (ok) enqueue(w, make(msg, wParam, lParam));
    pthread_mutex_unlock(&w->lock);
    return ok;
}

static int win_send(NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                    uint32_t timeoutMs, intptr_t* result) {
    TestWindow* w = (TestWindow*)self;
    struct timespec until;
    QueuedMsg* q;
    int ok;
    pthread_mutex_lock(&w->lock);
    if (w->mode == WIN_HUNG) { /* not responding: abandoned at once */
        pthread_mutex_unlock(&w->lock);
        return 0;
    }
    q = make(msg, wParam, lParam);
    q->isSend = 1;
    enqueue(w, q);
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += timeoutMs / 1000;
    until.tv_nsec += (long)(timeoutMs % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    while (!q->done) {
        if (pthread_cond_timedwait(&w->cond, &w->lock, &until) == ETIMEDOUT) break;
    }
    ok = q->done;
    if (ok)
        free(q);
    else
        q->abandoned = 1; /* the server frees it when it gets to it */
    pthread_mutex_unlock(&w->lock);
    if (ok && result) *result = 1;
    return ok;
}

void th_window_open(TestWindow* w, int mode) {
    memset(w, 0, sizeof *w);
    w->w.magic = NOX_MESSAGE_WINDOW_MAGIC;
    w->w.userData = w;
    w->w.post = win_post;
    w->w.send = win_send;
    w->mode = mode;
    pthread_mutex_init(&w->lock, NULL);
    pthread_cond_init(&w->cond, NULL);
    pthread_create(&w->thread, NULL, serve, w);
}

void th_window_reset(TestWindow* w) {
    int i;
    pthread_mutex_lock(&w->lock);
    for (i = 0; i < w->nHandled; i++) free(w->handled[i].data);
    w->nHandled = 0;
    pthread_mutex_unlock(&w->lock);
}

void th_window_close(TestWindow* w) {
    QueuedMsg* q;
    pthread_mutex_lock(&w->lock);
    w->stop = 1;
    pthread_cond_broadcast(&w->cond);
    pthread_mutex_unlock(&w->lock);
    pthread_join(w->thread, NULL);
    th_window_reset(w);
    free(w->handled);
    for (q = w->head; q;) {
        QueuedMsg* next = q->next;
        free(q->m.data);
        free(q);
        q = next;
    }
    pthread_mutex_destroy(&w->lock);
    pthread_cond_destroy(&w->cond);
    w->w.magic = 0;
}

void th_window_set_mode(TestWindow* w, int mode) {
    pthread_mutex_lock(&w->lock);
    w->mode = mode;
    pthread_cond_broadcast(&w->cond);
    pthread_mutex_unlock(&w->lock);
}

int th_window_drain(TestWindow* w) {
    int n;
    pthread_mutex_lock(&w->lock);
    while (w->head && w->mode != WIN_HUNG) pthread_cond_wait(&w->cond, &w->lock);
    n = w->nHandled;
    pthread_mutex_unlock(&w->lock);
    return n;
}

int th_window_count(TestWindow* w, uint32_t msg) {
    int i, n = 0;
    pthread_mutex_lock(&w->lock);
    for (i = 0; i < w->nHandled; i++) n += w->handled[i].msg == msg;
    pthread_mutex_unlock(&w->lock);
    return n;
}

int64_t th_window_handle(TestWindow* w) {
    return (int64_t)(intptr_t)&w->w;
}

/* ---- the host's send exports (found by the module with dlsym) ---- */

int th_sent_calls;
uint32_t th_sent_tag, th_sent_source;
char th_sent_bytes[256];
int32_t th_sent_count;
uint32_t th_sent_byte_value;

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendData(uint32_t hostTag, uint32_t zero,
                                                                    uint32_t sourceTag,
                                                                    const void* data,
                                                                    int32_t count) {
    (void)zero;
    th_sent_calls++;
    th_sent_tag = hostTag;
    th_sent_source = sourceTag;
    th_sent_count = count;
    if (count > 0 && count <= (int32_t)sizeof th_sent_bytes)
        memcpy(th_sent_bytes, data, (size_t)count);
    return count;
}

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendString(uint32_t hostTag,
                                                                      uint32_t zero,
                                                                      uint32_t sourceTag,
                                                                      const char* text) {
    size_t n = text ? strlen(text) : 0;
    return fSendData(hostTag, zero, sourceTag, text, (int32_t)n);
}

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendByte(uint32_t hostTag, uint32_t zero,
                                                                    uint32_t sourceTag,
                                                                    uint32_t byteValue) {
    unsigned char b = (unsigned char)byteValue;
    th_sent_byte_value = byteValue;
    return fSendData(hostTag, zero, sourceTag, &b, 1);
}
