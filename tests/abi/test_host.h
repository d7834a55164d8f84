/*
 * A small host in C for the ABI tests: loads libpipetask.so with dlopen, resolves the twelve
 * exports, owns a message window (a queue served by a thread of its own) and exports the
 * three send functions. The window can answer, hang (sends fail at once, posts are queued and
 * never served) or refuse posts, as a test needs.
 */
#ifndef PT_TEST_HOST_H
#define PT_TEST_HOST_H

#include <pipetask/pipetask.h>

#include <pthread.h>
#include <stdio.h>

/* ---- checks ---- */
extern int th_failures;
#define CHECK(c)                                                                                   \
    do {                                                                                           \
        if (!(c)) {                                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c);                  \
            th_failures++;                                                                         \
        }                                                                                          \
    } while (0)
#define CHECK_INT(a, b)                                                                            \
    do {                                                                                           \
        long long va_ = (long long)(a), vb_ = (long long)(b);                                      \
        if (va_ != vb_) {                                                                          \
            fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #a, va_,     \
                    vb_);                                                                          \
            th_failures++;                                                                         \
        }                                                                                          \
    } while (0)

/* ---- the module ---- */
typedef struct Module {
    void* handle;
    TGetPluginIntfVersion GetPluginIntfVersion;
    TGetAppMinVersion GetAppMinVersion;
    TGetModuleDescription GetModuleDescription;
    TGetModuleType GetModuleType;
    TMultiThreadSupport MultiThreadSupport;
    TGetCustomCommands GetCustomCommands;
    TExecutePluginCommand ExecutePluginCommand;
    TShowOptionsDialog ShowOptionsDialog;
    TGetLogEx GetLogEx;
    TGetData GetData;
    TGetEvents GetEvents;
    TProcessData ProcessData;
} Module;

/* Loads the library and resolves every export; 0 on failure (reported). */
int th_load(Module* m, const char* path);
void th_unload(Module* m);

/* A record for `instance` with the given parameter list (may be null). */
TPluginCallRec th_rec(uint32_t instance, PtParamsList* params);
/* A host list holding "COMMAND" = command. */
PtParamsList* th_command_list(const char* command);
/* Runs one command on `instance` with extra parameters (a list the caller fills, or null). */
int32_t th_command(Module* m, uint32_t instance, const char* command, PtParamsList* extra);
/* The UTF-8 text of a wide or byte string value ("" for others); a static buffer. */
const char* th_text(const PtValue* v);

/* ---- the window ---- */
enum { WIN_ANSWER = 0, WIN_HUNG = 1, WIN_REFUSE_POSTS = 2 };

typedef struct HostMsg {
    uint32_t msg;
    uintptr_t wParam;
    uintptr_t tag; /* data-copy tag */
    char* data;    /* data-copy bytes (copied), malloc'd */
    uint32_t size;
} HostMsg;

typedef struct QueuedMsg {
    HostMsg m;
    int isSend;
    int done;      /* set by the serving thread */
    int abandoned; /* the sender gave up; the server frees the entry */
    struct QueuedMsg* next;
} QueuedMsg;

typedef struct TestWindow {
    NoxMessageWindow w; /* first: the module sees the address of this */
    pthread_mutex_t lock;
    pthread_cond_t cond;
    int mode;
    int stop;
    QueuedMsg* head;
    QueuedMsg* tail;
    HostMsg* handled; /* messages served, in order */
    int nHandled, capHandled;
    pthread_t thread;
} TestWindow;

void th_window_open(TestWindow* w, int mode);
void th_window_close(TestWindow* w);
void th_window_set_mode(TestWindow* w, int mode);
/* Waits until the queue is empty (served); answers the number of handled messages. */
int th_window_drain(TestWindow* w);
/* Number of handled messages with this message number. */
int th_window_count(TestWindow* w, uint32_t msg);
/* Forgets the handled messages. */
void th_window_reset(TestWindow* w);
/* The window's address as the integer a host passes in "MessagesProcessorHandle". */
int64_t th_window_handle(TestWindow* w);

/* ---- the host's send exports ---- */
extern int th_sent_calls;
extern uint32_t th_sent_tag, th_sent_source;
extern char th_sent_bytes[256];
extern int32_t th_sent_count;
extern uint32_t th_sent_byte_value; /* the value fSendByte received, unmasked */

#endif
