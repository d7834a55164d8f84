/*
 * The module boundary of Pipetask: everything a host needs to load libpipetask.so and talk to
 * it. Valid C99 and C++; any language with a C FFI can mirror it.
 *
 * Contents: the call record and its constants, module roles, result codes, the twelve exports
 * (as function-pointer types, for dlsym), the parameter-list layouts with their class
 * descriptor, the host window record (NoxMessageWindow) and its messages, the host's send
 * functions, and inline helpers that create, fill, read and free strings, values, items and
 * lists. Host and module both use these helpers, so both sides follow one code path and one
 * allocator (the C library's malloc/free).
 *
 * Layouts. A 32-bit build has exactly the historic layouts (call record 52 bytes, item 40,
 * list 28, rows list 32). A 64-bit build keeps the field order; fields that hold a pointer are
 * pointer-sized. The static_asserts at the end pin both.
 */
#ifndef PIPETASK_PIPETASK_H
#define PIPETASK_PIPETASK_H

#include <pipetask/pt_value.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__i386__)
#define PT_STDCALL __attribute__((stdcall))
#else
#define PT_STDCALL
#endif

/* ---- results and constants -------------------------------------------------------------- */

enum {
    PT_RESULT_OK = 0,
    PT_RESULT_REFUSED = -1,      /* bad record, unknown object, missing parameter, unloaded */
    PT_RESULT_NOT_HANDLED = -2,  /* command not handled */
    PT_RESULT_EXCEPTION = -3,    /* an exception was caught inside the module */
    PT_RESULT_COMPILE_ERROR = -4 /* the configured script does not compile */
};

#define PT_CALL_SIGNATURE 102u
#define PT_RELEASE_FLAG 0xFFu
#define PT_DATAKIND_LIST 1u     /* Buffer points at a parameter list */
#define PT_RESULTKIND_LIST 1u   /* ResultValue holds the address of a module-owned list */
#define PT_RESULTKIND_NUMBER 5u /* ResultValue holds a number */
#define PT_INTF_VERSION_MAJOR 4u
#define PT_INTF_VERSION_MINOR 0u

/* Module roles (TModuleType); a TModuleTypes set is one byte, bit n for ordinal n. */
typedef enum TModuleType {
    mttDataQuery = 0,
    mttDataParser = 1,
    mttDataExport = 2,
    mttEventsHandling = 3,
    mttLogging = 4,
    mttFilter = 5,
    mttDeviceLayer = 6,
    mttMenuExt = 7
} TModuleType;
typedef uint8_t TModuleTypes;
#define PT_MT_BIT(t) ((uint8_t)(1u << (t)))

typedef enum TModuleOption { moNoConfig = 0, moXMLOptions = 1 } TModuleOption;
typedef uint8_t TModuleOptions;

/* Window messages the module sends to the host window (first parameter: the HostTag). */
#define PT_WM_COPYDATA 0x004Au       /* second parameter: address of a NoxCopyData */
#define PT_WM_LOG_WAITING 0x0711u    /* log lines wait for GetLogEx */
#define PT_WM_EVENTS_WAITING 0x0713u /* events wait for GetEvents */
#define PT_COPYDATA_LOG_BLOCK 1u     /* earlier pending lines, each ended by CR LF */
#define PT_COPYDATA_LOG_LINE 2u      /* one new log line */

/* Log kinds; a log line starts with the byte kind + 1. */
enum { PT_LOG_ERROR = 0, PT_LOG_WARNING = 1, PT_LOG_INFO = 2 };

/* ---- parameter lists -------------------------------------------------------------------- */

#define PT_LIST_MAGIC 0xFDE2E4Bu
#define PT_NEW_ROW "$NEW_ROW$"
#define PT_NEW_ROW_LEN 9u
#define PT_ITEM_STATE_EMPTY 0u
#define PT_ITEM_STATE_SET 2u
#define PT_NOTIFY_ADDED 0
#define PT_NOTIFY_DELETED 2

struct PtParamsList;
struct PtParamsListItem;
struct PtListClass;

/*
 * Class descriptor of a list: the class name (a length-prefixed byte string: one length byte,
 * then the characters, then a zero byte) followed by the table of operations that must run in
 * the code of the side that created the list. Each side calls the other side's operations
 * through it. Error reports a list-index error and returns (it must not unwind through C
 * frames); the caller then fails the operation.
 */
typedef struct PtListClass {
    const char* ClassName;
    int (*Grow)(struct PtParamsList* self); /* enlarge Items; 0 on failure */
    void (*Notify)(struct PtParamsList* self, struct PtParamsListItem* item, int32_t action);
    void (*Clear)(struct PtParamsList* self);
    void (*Error)(struct PtParamsList* self, const char* message, intptr_t data);
    struct PtParamsList* (*Create)(const struct PtListClass* cls);
} PtListClass;

/* An item's class descriptor only names the class. */
typedef struct PtItemClass {
    const char* ClassName;
} PtItemClass;

/* TnoxParamsListItem: 40 bytes on 32-bit, 56 on 64-bit. */
typedef struct PtParamsListItem {
    const PtItemClass* Class;
    char* Name;      /* boundary byte string, as added (not trimmed) */
    char* LowerName; /* Name lower-cased; the lookup key */
    void* Unused12;
    uint8_t State; /* PT_ITEM_STATE_EMPTY or PT_ITEM_STATE_SET */
    uint8_t Unused17[7];
    PtValue Value;
} PtParamsListItem;

/* TnoxParamsList: 28 bytes on 32-bit, 48 on 64-bit. */
typedef struct PtParamsList {
    const PtListClass* Class;
    PtParamsListItem** Items;
    int32_t Count;
    int32_t Capacity;
    uint32_t Magic; /* PT_LIST_MAGIC while alive, 0 once destroyed */
    char* ListId;   /* "{8-4-4-4-12}" GUID text made at creation */
    void* Unused24;
} PtParamsList;

/* TnoxRowsParamsList: a list whose items form several rows (32 bytes on 32-bit). */
typedef struct PtRowsParamsList {
    PtParamsList List;
    uint32_t Unused28;
} PtRowsParamsList;

/* ---- call record ------------------------------------------------------------------------ */

#pragma pack(push, 1)
typedef struct TPluginCallRec {
    uint32_t Signature;   /* PT_CALL_SIGNATURE */
    uint8_t ReleaseFlag;  /* PT_RELEASE_FLAG: release the module object of InstanceId */
    uint32_t InstanceId;  /* 0 is never valid */
    uint32_t HostTag;     /* handed back in send functions and window messages */
    uint32_t SourceKey;   /* not used by this module */
    uint32_t SourceTag;   /* the data source of the packet being processed */
    uint8_t CallTypes;    /* TModuleTypes the call addresses */
    PtParamsList* Params; /* the call's parameter list */
    uint32_t Unused26;
    int32_t BufferSize; /* capacity of the text buffer at Buffer */
    uint8_t DataKind;   /* PT_DATAKIND_LIST: Buffer points at a parameter list */
    void* Buffer;       /* text buffer, or the input packet of ProcessData */
    uint32_t Unused39;
    int32_t ResultSize;
    uint8_t ResultKind;   /* PT_RESULTKIND_NUMBER or PT_RESULTKIND_LIST */
    intptr_t ResultValue; /* a length, a status or a list address */
} TPluginCallRec;
#pragma pack(pop)
typedef TPluginCallRec* PPluginCallRec;

/* ---- host window ------------------------------------------------------------------------ */

#define NOX_MESSAGE_WINDOW_MAGIC 0x574D584Eu /* "NXMW" */

/* The payload of PT_WM_COPYDATA. The bytes are valid only until the send returns: a host that
 * hands the message to another thread copies them first. */
typedef struct NoxCopyData {
    uintptr_t tag;
    uint32_t size;
    const void* data;
} NoxCopyData;

/*
 * A host-owned window that receives the module's messages. Its address is the value of the
 * command parameters "MessagesProcessorHandle" and "OWNERFORM". A null address or a wrong magic
 * number counts as no window.
 *   post: queue the message and return at once; nonzero when queued.
 *   send: deliver the message and wait for it to be handled, at most timeoutMs milliseconds;
 *         nonzero when it was handled in time (then *result holds the answer). A send that does
 *         not complete in time, or that the host refuses, returns 0.
 * Both may be called from any thread.
 */
typedef struct NoxMessageWindow {
    uint32_t magic;
    void* userData;
    int (*post)(struct NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    int (*send)(struct NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                uint32_t timeoutMs, intptr_t* result);
} NoxMessageWindow;

/* ---- the host's send functions (exported by the host module, found with dlsym) ----------- */

typedef int32_t(PT_STDCALL* TfSendData)(uint32_t hostTag, uint32_t zero, uint32_t sourceTag,
                                        const void* data, int32_t count);
typedef int32_t(PT_STDCALL* TfSendString)(uint32_t hostTag, uint32_t zero, uint32_t sourceTag,
                                          const char* text);
typedef int32_t(PT_STDCALL* TfSendByte)(uint32_t hostTag, uint32_t zero, uint32_t sourceTag,
                                        uint32_t byteValue);

/* ---- the module's exports --------------------------------------------------------------- */

typedef uint32_t(PT_STDCALL* TGetPluginIntfVersion)(void);
typedef float(PT_STDCALL* TGetAppMinVersion)(PPluginCallRec rec);
typedef const char*(PT_STDCALL* TGetModuleDescription)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TGetModuleType)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TMultiThreadSupport)(PPluginCallRec rec); /* 0 or 1 */
typedef int32_t(PT_STDCALL* TGetCustomCommands)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TExecutePluginCommand)(PPluginCallRec rec);
typedef void(PT_STDCALL* TShowOptionsDialog)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TGetLogEx)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TGetData)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TGetEvents)(PPluginCallRec rec);
typedef int32_t(PT_STDCALL* TProcessData)(PPluginCallRec rec);

/* ---- text helpers ----------------------------------------------------------------------- */

/* A constant byte string (refcount -1) can be declared by a host as
 *   static struct { int32_t rc; uint32_t len; char s[4]; } k = {-1, 3, "abc"};  -> k.s */

/* UTF-8 to UTF-16. Writes at most `cap` units when out is non-null; returns the units needed.
 * Malformed bytes become U+FFFD. */
static inline uint32_t pt_utf8_to_utf16(const char* in, uint32_t len, uint16_t* out, uint32_t cap) {
    const unsigned char* s = (const unsigned char*)in;
    uint32_t i = 0, n = 0;
    while (i < len) {
        uint32_t c = s[i], need = 0, cp, k;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            need = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            need = 3;
        } else {
            cp = 0xFFFD;
        }
        for (k = 1; k <= need; k++) {
            if (i + k >= len || (s[i + k] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (k <= need || (need == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (need == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
            cp = 0xFFFD;
            need = 0;
        }
        i += need + 1;
        if (cp >= 0x10000) {
            if (out && n + 1 < cap) {
                out[n] = (uint16_t)(0xD800 + ((cp - 0x10000) >> 10));
                out[n + 1] = (uint16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            n += 2;
        } else {
            if (out && n < cap) out[n] = (uint16_t)cp;
            n += 1;
        }
    }
    return n;
}

/* UTF-16 to UTF-8. Writes at most `cap` bytes when out is non-null; returns the bytes needed.
 * Unpaired surrogates become U+FFFD. */
static inline uint32_t pt_utf16_to_utf8(const uint16_t* in, uint32_t units, char* out,
                                        uint32_t cap) {
    uint32_t i = 0, n = 0;
    while (i < units) {
        uint32_t cp = in[i++];
        unsigned char buf[4];
        uint32_t k, m;
        if (cp >= 0xD800 && cp <= 0xDBFF && i < units && in[i] >= 0xDC00 && in[i] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i++] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        if (cp < 0x80) {
            buf[0] = (unsigned char)cp;
            m = 1;
        } else if (cp < 0x800) {
            buf[0] = (unsigned char)(0xC0 | (cp >> 6));
            buf[1] = (unsigned char)(0x80 | (cp & 0x3F));
            m = 2;
        } else if (cp < 0x10000) {
            buf[0] = (unsigned char)(0xE0 | (cp >> 12));
            buf[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = (unsigned char)(0x80 | (cp & 0x3F));
            m = 3;
        } else {
            buf[0] = (unsigned char)(0xF0 | (cp >> 18));
            buf[1] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
            buf[3] = (unsigned char)(0x80 | (cp & 0x3F));
            m = 4;
        }
        for (k = 0; k < m; k++, n++)
            if (out && n < cap) out[n] = (char)buf[k];
    }
    return n;
}

/* Stores UTF-8 text as a wide string value (the form in which list values carry text). */
static inline int pt_value_set_text(PtValue* v, const char* utf8, uint32_t len) {
    uint32_t units = pt_utf8_to_utf16(utf8, len, NULL, 0);
    uint16_t* w = NULL;
    if (units) {
        w = pt_wstr_new(NULL, units);
        if (!w) return 0;
        pt_utf8_to_utf16(utf8, len, w, units);
    }
    pt_value_clear(v);
    v->vt = PT_VAR_OLESTR;
    v->u.wstr = w;
    return 1;
}

/* The system's lower-case mapping of a name: A-Z, and the capital letters of Latin-1,
 * Latin Extended-A, Greek and Cyrillic (each keeps its UTF-8 length). */
static inline void pt_lower_name(char* s, uint32_t len) {
    unsigned char* p = (unsigned char*)s;
    uint32_t i = 0;
    while (i < len) {
        uint32_t c = p[i];
        if (c >= 'A' && c <= 'Z') {
            p[i] = (unsigned char)(c + 32);
            i++;
        } else if (c >= 0xC2 && c <= 0xDF && i + 1 < len && (p[i + 1] & 0xC0) == 0x80) {
            uint32_t cp = ((c & 0x1F) << 6) | (p[i + 1] & 0x3F), lo = cp;
            if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) ||
                (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) || (cp >= 0x410 && cp <= 0x42F))
                lo = cp + 0x20;
            else if (cp >= 0x400 && cp <= 0x40F)
                lo = cp + 0x50;
            else if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
                lo = cp | 1;
            else if (((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) && (cp & 1))
                lo = cp + 1;
            else if (cp == 0x178)
                lo = 0xFF;
            if (lo != cp) {
                p[i] = (unsigned char)(0xC0 | (lo >> 6));
                p[i + 1] = (unsigned char)(0x80 | (lo & 0x3F));
            }
            i += 2;
        } else {
            i++;
        }
    }
}

/* A new version-4 GUID in registry form "{8-4-4-4-12}" (upper-case hex) as a boundary string;
 * null when no memory. */
static inline char* pt_guid_text(void) {
    unsigned char b[16];
    char text[39];
    size_t got = 0;
    while (got < sizeof b) {
        ssize_t r = getrandom(b + got, sizeof b - got, 0);
        if (r <= 0) break;
        got += (size_t)r;
    }
    if (got < sizeof b) { /* no entropy source: still unique enough within the process */
        static uint32_t counter;
        uint64_t seed = (uint64_t)(uintptr_t)&got ^
                        ((uint64_t)__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED) << 32);
        size_t i;
        for (i = 0; i < sizeof b; i++) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            b[i] = (unsigned char)(seed >> 33);
        }
    }
    b[6] = (unsigned char)((b[6] & 0x0F) | 0x40);
    b[8] = (unsigned char)((b[8] & 0x3F) | 0x80);
    snprintf(text, sizeof text,
             "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
             b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
             b[15]);
    return pt_str_new(text, 38);
}

/* ---- items ------------------------------------------------------------------------------ */

static const PtItemClass pt_item_class = {"\x12TnoxParamsListItem"};

/* A new item named by `name` (len bytes) holding a copy of `value` (null: Empty); State is
 * set as the list operations set it (2). Null when no memory. */
static inline PtParamsListItem* pt_item_new(const char* name, uint32_t len, const PtValue* value) {
    PtParamsListItem* it = (PtParamsListItem*)calloc(1, sizeof(PtParamsListItem));
    if (!it) return NULL;
    it->Class = &pt_item_class;
    if (len) {
        it->Name = pt_str_new(name, len);
        it->LowerName = pt_str_new(name, len);
        if (!it->Name || !it->LowerName) {
            pt_str_release(it->Name);
            pt_str_release(it->LowerName);
            free(it);
            return NULL;
        }
        pt_lower_name(it->LowerName, len);
    }
    it->State = PT_ITEM_STATE_SET;
    if (value) pt_value_copy(&it->Value, value);
    return it;
}

/* A new item sharing the name strings of `src` and holding a copy of its value. */
static inline PtParamsListItem* pt_item_copy(const PtParamsListItem* src) {
    PtParamsListItem* it = (PtParamsListItem*)calloc(1, sizeof(PtParamsListItem));
    if (!it) return NULL;
    it->Class = &pt_item_class;
    it->Name = src->Name;
    it->LowerName = src->LowerName;
    pt_str_addref(it->Name);
    pt_str_addref(it->LowerName);
    it->State = PT_ITEM_STATE_SET;
    pt_value_copy(&it->Value, &src->Value);
    return it;
}

/* Destroys an item: empties its value, releases its name texts, frees it. */
static inline void pt_item_free(PtParamsListItem* it) {
    if (!it) return;
    pt_value_clear(&it->Value);
    pt_str_release(it->Name);
    pt_str_release(it->LowerName);
    free(it);
}

static inline int pt_item_name_is(const PtParamsListItem* it, const char* name, uint32_t len) {
    return pt_str_bytes(it->Name) == len && (len == 0 || memcmp(it->Name, name, len) == 0);
}

static inline int pt_item_is_new_row(const PtParamsListItem* it) {
    return pt_item_name_is(it, PT_NEW_ROW, PT_NEW_ROW_LEN);
}

/* ---- lists: default operations of a list class ------------------------------------------ */

static inline int pt_list_grow_default(PtParamsList* self) {
    int32_t cap = self->Capacity;
    int32_t grown = cap < 8 ? 8 : (cap > 0x3FFFFFFF / 2 ? 0x3FFFFFFF : cap + cap / 2);
    PtParamsListItem** items;
    if (grown <= cap) return 0;
    items = (PtParamsListItem**)realloc(self->Items, (size_t)grown * sizeof(PtParamsListItem*));
    if (!items) return 0;
    self->Items = items;
    self->Capacity = grown;
    return 1;
}

static inline void pt_list_notify_default(PtParamsList* self, PtParamsListItem* item,
                                          int32_t action) {
    (void)self;
    (void)item;
    (void)action;
}

static inline void pt_list_error_default(PtParamsList* self, const char* message, intptr_t data) {
    (void)self;
    (void)message;
    (void)data;
}

/* Replaces the pointer at i (0 <= i < Count), notifying the old item's removal and the new
 * one's arrival. Returns 0 (after Error) when i is out of range. */
static inline int pt_list_put(PtParamsList* self, int32_t i, PtParamsListItem* item) {
    PtParamsListItem* old;
    if (i < 0 || i >= self->Count) {
        self->Class->Error(self, "List index out of bounds (%d)", i);
        return 0;
    }
    old = self->Items[i];
    self->Items[i] = item;
    if (old) self->Class->Notify(self, old, PT_NOTIFY_DELETED);
    if (item) self->Class->Notify(self, item, PT_NOTIFY_ADDED);
    return 1;
}

static inline void pt_list_clear_default(PtParamsList* self) {
    int32_t i;
    for (i = 0; i < self->Count; i++) {
        PtParamsListItem* it = self->Items[i];
        if (!it) continue;
        pt_list_put(self, i, NULL);
        pt_item_free(it);
    }
    self->Count = 0;
    self->Capacity = 0;
    free(self->Items);
    self->Items = NULL;
}

/* Fills a freshly allocated (zeroed) list object: magic, a new list id, empty. */
static inline int pt_list_init(PtParamsList* self, const PtListClass* cls) {
    self->Class = cls;
    self->Items = NULL;
    self->Count = 0;
    self->Capacity = 0;
    self->Unused24 = NULL;
    self->ListId = pt_guid_text();
    if (!self->ListId) return 0;
    self->Magic = PT_LIST_MAGIC;
    return 1;
}

static inline int pt_class_name_is(const PtListClass* cls, const char* name) {
    size_t n = strlen(name), i;
    const unsigned char* s = (const unsigned char*)cls->ClassName;
    if (!s || s[0] != n) return 0;
    for (i = 0; i < n; i++) {
        unsigned char a = s[1 + i], b = (unsigned char)name[i];
        if (a >= 'A' && a <= 'Z') a = (unsigned char)(a + 32);
        if (b >= 'A' && b <= 'Z') b = (unsigned char)(b + 32);
        if (a != b) return 0;
    }
    return 1;
}

static inline PtParamsList* pt_list_create_default(const PtListClass* cls) {
    size_t size = pt_class_name_is(cls, "TnoxRowsParamsList") ? sizeof(PtRowsParamsList)
                                                              : sizeof(PtParamsList);
    PtParamsList* l = (PtParamsList*)calloc(1, size);
    if (!l) return NULL;
    if (!pt_list_init(l, cls)) {
        free(l);
        return NULL;
    }
    return l;
}

/* The classes a host uses for the lists it creates. */
static const PtListClass pt_host_list_class = {"\x0eTnoxParamsList",   pt_list_grow_default,
                                               pt_list_notify_default, pt_list_clear_default,
                                               pt_list_error_default,  pt_list_create_default};
static const PtListClass pt_host_rows_list_class = {
    "\x12TnoxRowsParamsList", pt_list_grow_default,  pt_list_notify_default,
    pt_list_clear_default,    pt_list_error_default, pt_list_create_default};

/* ---- lists: operations (any side, any list with a valid magic) --------------------------- */

static inline PtParamsList* pt_list_new(const PtListClass* cls) {
    return cls->Create(cls);
}

/* Destroys a list the caller owns: magic := 0, Clear, release. */
static inline void pt_list_free(PtParamsList* self) {
    if (!self) return;
    self->Magic = 0;
    self->Class->Clear(self);
    pt_str_release(self->ListId);
    self->ListId = NULL;
    free(self);
}

static inline int pt_list_valid(const PtParamsList* self) {
    return self && self->Magic == PT_LIST_MAGIC;
}

static inline PtParamsListItem* pt_list_at(const PtParamsList* self, int32_t i) {
    return (i < 0 || i >= self->Count) ? NULL : self->Items[i];
}

/* Platform list append: Grow when full, then Notify (item, added). 0 when growing failed. */
static inline int pt_list_append(PtParamsList* self, PtParamsListItem* item) {
    if (self->Count >= self->Capacity &&
        (!self->Class->Grow(self) || self->Count >= self->Capacity))
        return 0;
    self->Items[self->Count++] = item;
    self->Class->Notify(self, item, PT_NOTIFY_ADDED);
    return 1;
}

/*
 * Index of the first item whose lower-case name equals `name` with A-Z folded, searching from
 * `from` to `to` (to < 0 or past the end: to the end; to = -2 also stops at the end of the row
 * that starts at `from`). -1 when there is none. The caller checks the magic.
 */
static inline int32_t pt_list_index_of(const PtParamsList* self, const char* name, uint32_t len,
                                       int32_t from, int32_t to) {
    int32_t i, last;
    char small[64];
    char* key = small;
    if (self->Count == 0) return -1;
    if (from < 0) from = 0;
    last = (to < 0 || to >= self->Count) ? self->Count - 1 : to;
    if (from > last) return -1;
    if (len > sizeof small) {
        key = (char*)malloc(len);
        if (!key) return -1;
    }
    for (i = 0; i < (int32_t)len; i++) {
        char c = name[i];
        key[i] = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    }
    for (i = from; i <= last; i++) {
        const PtParamsListItem* it = self->Items[i];
        if (!it) continue;
        if (pt_str_bytes(it->LowerName) == len &&
            (len == 0 || memcmp(it->LowerName, key, len) == 0))
            break;
        if (to == -2 && pt_item_is_new_row(it)) {
            i = last + 1;
            break;
        }
    }
    if (key != small) free(key);
    return i <= last ? i : -1;
}

/* Whether `name` is blank after trimming characters <= 32 at both ends. */
static inline int pt_name_blank(const char* name, uint32_t len) {
    uint32_t i;
    for (i = 0; i < len; i++)
        if ((unsigned char)name[i] > 32) return 0;
    return 1;
}

/* A copy of `v` in the form stored in lists (byte strings become wide strings). */
static inline int pt_value_for_list(PtValue* dst, const PtValue* v) {
    if (v->vt == PT_VAR_STRING) return pt_value_set_text(dst, v->u.str, pt_str_bytes(v->u.str));
    pt_value_copy(dst, v);
    return 1;
}

/* Add: appends a new item unless the name is blank (null then, also when out of memory). */
static inline PtParamsListItem* pt_list_add(PtParamsList* self, const char* name, uint32_t len,
                                            const PtValue* value) {
    PtParamsListItem* it;
    if (pt_name_blank(name, len)) return NULL;
    it = pt_item_new(name, len, NULL);
    if (!it) return NULL;
    if (value && !pt_value_for_list(&it->Value, value)) {
        pt_item_free(it);
        return NULL;
    }
    if (!pt_list_append(self, it)) {
        pt_item_free(it);
        return NULL;
    }
    return it;
}

static inline PtParamsListItem* pt_list_add_new_row(PtParamsList* self) {
    PtValue null_value;
    memset(&null_value, 0, sizeof null_value);
    null_value.vt = PT_VAR_NULL;
    return pt_list_add(self, PT_NEW_ROW, PT_NEW_ROW_LEN, &null_value);
}

static inline PtParamsListItem* pt_list_add_item_copy(PtParamsList* self,
                                                      const PtParamsListItem* src) {
    PtParamsListItem* it;
    if (!src) return NULL;
    if (pt_name_blank(src->Name, pt_str_bytes(src->Name))) return NULL;
    it = pt_item_copy(src);
    if (!it) return NULL;
    if (it->Value.vt == PT_VAR_STRING) {
        PtValue v = it->Value;
        memset(&it->Value, 0, sizeof it->Value);
        if (!pt_value_for_list(&it->Value, &v)) {
            pt_value_clear(&v);
            pt_item_free(it);
            return NULL;
        }
        pt_value_clear(&v);
    }
    if (!pt_list_append(self, it)) {
        pt_item_free(it);
        return NULL;
    }
    return it;
}

/* Appends copies of every item of `src`; 0 when src is null or empty. The caller checks the
 * magic of both lists. */
static inline int pt_list_add_list(PtParamsList* self, const PtParamsList* src) {
    int32_t i, n;
    if (!src || src->Count == 0) return 0;
    n = src->Count; /* src may be self: copy only what was there */
    for (i = 0; i < n; i++) pt_list_add_item_copy(self, src->Items[i]);
    return 1;
}

/* AddList, then a row marker unless the source already ended with one. */
static inline int pt_list_add_row(PtParamsList* self, const PtParamsList* src) {
    int32_t n = src ? src->Count : 0;
    int ended = n > 0 && src->Items[n - 1] && pt_item_is_new_row(src->Items[n - 1]);
    if (!pt_list_add_list(self, src)) return 0;
    if (!ended) pt_list_add_new_row(self);
    return 1;
}

/* Deletes item i (i < Count; later items move down). Returns 0 for i < 0 (after Error). */
static inline int pt_list_delete(PtParamsList* self, int32_t i) {
    PtParamsListItem* it;
    if (i < 0) {
        self->Class->Error(self, "List index out of bounds (%d)", i);
        return 0;
    }
    if (i >= self->Count) return 1;
    it = self->Items[i];
    pt_list_put(self, i, NULL);
    pt_item_free(it);
    memmove(self->Items + i, self->Items + i + 1,
            (size_t)(self->Count - i - 1) * sizeof *self->Items);
    self->Count--;
    return 1;
}

/* SetValue: the first item named `name` gets a copy of `value` (text as a wide string); a
 * missing name is added when addIfMissing. Null when there is no such item. */
static inline PtParamsListItem* pt_list_set_value(PtParamsList* self, const char* name,
                                                  uint32_t len, const PtValue* value,
                                                  int addIfMissing) {
    int32_t i = pt_list_index_of(self, name, len, 0, -1);
    PtParamsListItem* it = i >= 0 ? self->Items[i] : NULL;
    if (!it && addIfMissing) {
        PtValue null_value;
        memset(&null_value, 0, sizeof null_value);
        null_value.vt = PT_VAR_NULL;
        it = pt_list_add(self, name, len, &null_value);
    }
    if (!it) return NULL;
    if (!pt_value_for_list(&it->Value, value)) return NULL;
    return it;
}

/* Convenience for C hosts: add a named UTF-8 text / integer / boolean / Null value. */
static inline PtParamsListItem* pt_list_add_text(PtParamsList* self, const char* name,
                                                 const char* text) {
    PtValue v;
    PtParamsListItem* it;
    memset(&v, 0, sizeof v);
    if (!pt_value_set_text(&v, text, (uint32_t)strlen(text))) return NULL;
    it = pt_list_add(self, name, (uint32_t)strlen(name), &v);
    pt_value_clear(&v);
    return it;
}
static inline PtParamsListItem* pt_list_add_int64(PtParamsList* self, const char* name, int64_t x) {
    PtValue v;
    memset(&v, 0, sizeof v);
    pt_value_set_int64(&v, x);
    return pt_list_add(self, name, (uint32_t)strlen(name), &v);
}
static inline PtParamsListItem* pt_list_add_bool(PtParamsList* self, const char* name, int x) {
    PtValue v;
    memset(&v, 0, sizeof v);
    pt_value_set_bool(&v, x);
    return pt_list_add(self, name, (uint32_t)strlen(name), &v);
}
static inline PtParamsListItem* pt_list_add_null(PtParamsList* self, const char* name) {
    PtValue v;
    memset(&v, 0, sizeof v);
    v.vt = PT_VAR_NULL;
    return pt_list_add(self, name, (uint32_t)strlen(name), &v);
}

/* The value of the first item named `name` (whole list), or null. */
static inline const PtValue* pt_list_find_value(const PtParamsList* self, const char* name) {
    int32_t i = pt_list_index_of(self, name, (uint32_t)strlen(name), 0, -1);
    return i >= 0 ? &self->Items[i]->Value : NULL;
}

/* ---- layout checks ---------------------------------------------------------------------- */

#if defined(__cplusplus)
#define PT_LAYOUT_ASSERT(cond, msg) static_assert(cond, msg)
#else /* C99 has no static_assert: a negative array size stops the build */
#define PT_LAYOUT_CAT2(a, b) a##b
#define PT_LAYOUT_CAT(a, b) PT_LAYOUT_CAT2(a, b)
#define PT_LAYOUT_ASSERT(cond, msg)                                                                \
    typedef char PT_LAYOUT_CAT(pt_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
PT_LAYOUT_ASSERT(sizeof(TPluginCallRec) == 52, "32-bit call record is 52 bytes");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, Params) == 22, "Params at 22");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, BufferSize) == 30, "BufferSize at 30");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, Buffer) == 35, "Buffer at 35");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, ResultSize) == 43, "ResultSize at 43");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, ResultValue) == 48, "ResultValue at 48");
PT_LAYOUT_ASSERT(sizeof(PtParamsListItem) == 40, "32-bit item is 40 bytes");
PT_LAYOUT_ASSERT(offsetof(PtParamsListItem, State) == 16, "State at 16");
PT_LAYOUT_ASSERT(offsetof(PtParamsListItem, Value) == 24, "Value at 24");
PT_LAYOUT_ASSERT(sizeof(PtParamsList) == 28, "32-bit list is 28 bytes");
PT_LAYOUT_ASSERT(offsetof(PtParamsList, Magic) == 16, "Magic at 16");
PT_LAYOUT_ASSERT(offsetof(PtParamsList, ListId) == 20, "ListId at 20");
PT_LAYOUT_ASSERT(sizeof(PtRowsParamsList) == 32, "32-bit rows list is 32 bytes");
#else
PT_LAYOUT_ASSERT(sizeof(TPluginCallRec) == 64, "64-bit call record is 64 bytes");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, Params) == 22, "Params at 22");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, BufferSize) == 34, "BufferSize at 34");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, Buffer) == 39, "Buffer at 39");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, ResultSize) == 51, "ResultSize at 51");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, ResultValue) == 56, "ResultValue at 56");
PT_LAYOUT_ASSERT(sizeof(PtParamsListItem) == 56, "64-bit item is 56 bytes");
PT_LAYOUT_ASSERT(offsetof(PtParamsListItem, State) == 32, "State at 32");
PT_LAYOUT_ASSERT(offsetof(PtParamsListItem, Value) == 40, "Value at 40");
PT_LAYOUT_ASSERT(sizeof(PtParamsList) == 48, "64-bit list is 48 bytes");
PT_LAYOUT_ASSERT(offsetof(PtParamsList, Magic) == 24, "Magic at 24");
PT_LAYOUT_ASSERT(offsetof(PtParamsList, ListId) == 32, "ListId at 32");
PT_LAYOUT_ASSERT(sizeof(PtRowsParamsList) == 56, "64-bit rows list is 56 bytes");
#endif
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, ReleaseFlag) == 4, "ReleaseFlag at 4");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, InstanceId) == 5, "InstanceId at 5");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, SourceTag) == 17, "SourceTag at 17");
PT_LAYOUT_ASSERT(offsetof(TPluginCallRec, CallTypes) == 21, "CallTypes at 21");

#ifdef __cplusplus
}
#endif

#endif /* PIPETASK_PIPETASK_H */
