/*
 * Values at the module boundary: the 16-byte value record, reference-counted byte strings,
 * UTF-16 wide strings and value arrays. Valid C99 and C++. Host and module share one
 * allocator (malloc/free), so either side may create and release what the other made.
 *
 * Strings. Both string kinds carry an 8-byte header in front of the first character:
 *   int32_t  refcount  at -8   (-1: a constant that is never freed)
 *   uint32_t length    at -4   (bytes; for wide strings the byte length, 2 per code unit)
 * followed by the characters and a terminating zero (one byte, or one 16-bit unit).
 * The pointer stored in a value points at the first character. A null pointer is the
 * empty string. Reference counts are changed atomically: lists cross threads.
 *
 * Arrays. A value whose kind has PT_VAR_ARRAY set points at a PtArray. Every element is a
 * PtValue (whatever the declared element kind); the array is reference-counted and copied on
 * write by its users.
 */
#ifndef PIPETASK_PT_VALUE_H
#define PIPETASK_PT_VALUE_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Kind codes; they are visible to scripts and keep these numbers. */
enum {
    PT_VAR_EMPTY = 0,
    PT_VAR_NULL = 1,
    PT_VAR_SMALLINT = 2,
    PT_VAR_INTEGER = 3,
    PT_VAR_SINGLE = 4,
    PT_VAR_DOUBLE = 5,
    PT_VAR_CURRENCY = 6,
    PT_VAR_DATE = 7,
    PT_VAR_OLESTR = 8,
    PT_VAR_DISPATCH = 9,
    PT_VAR_ERROR = 10,
    PT_VAR_BOOLEAN = 11,
    PT_VAR_VARIANT = 12,
    PT_VAR_UNKNOWN = 13,
    PT_VAR_SHORTINT = 16,
    PT_VAR_BYTE = 17,
    PT_VAR_WORD = 18,
    PT_VAR_LONGWORD = 19,
    PT_VAR_INT64 = 20,
    PT_VAR_STRARG = 72,
    PT_VAR_STRING = 256,
    PT_VAR_ANY = 257,
    PT_VAR_TYPEMASK = 0x0FFF,
    PT_VAR_ARRAY = 0x2000,
    PT_VAR_BYREF = 0x4000
};

typedef struct PtValue {
    uint16_t vt;
    uint16_t reserved1;
    uint16_t reserved2;
    uint16_t reserved3;
    union {
        int8_t i8;
        uint8_t u8;
        int16_t i16;
        uint16_t u16;
        int32_t i32;
        uint32_t u32;
        int64_t i64; /* also currency: value x 10000 */
        float f32;
        double f64; /* also date: days since 1899-12-30 */
        int16_t boolean; /* True is -1, False 0; any non-zero reads as True */
        char* str;       /* PT_VAR_STRING: byte string (UTF-8) */
        uint16_t* wstr;  /* PT_VAR_OLESTR: UTF-16 */
        struct PtArray* arr;
        void* ptr;
    } u;
} PtValue;

typedef struct PtArrayBound {
    int32_t lowBound;
    int32_t count;
} PtArrayBound;

typedef struct PtArray {
    int32_t refcount;
    uint16_t elemType; /* declared element kind (PT_VAR_VARIANT for engine-made arrays) */
    uint16_t dims;     /* 1 to 3 */
    PtArrayBound bounds[3];
    uint32_t count; /* total number of elements */
    uint32_t reserved;
    PtValue items[1]; /* count elements, row-major (last index fastest) */
} PtArray;

#if defined(__cplusplus)
static_assert(sizeof(PtValue) == 16, "PtValue is the 16-byte boundary value");
#else
typedef char pt_value_size_check[(sizeof(PtValue) == 16) ? 1 : -1];
#endif

/* ---- strings ---------------------------------------------------------------------------- */

static inline int32_t* pt_str_refp(const void* s) { return (int32_t*)((char*)(s)-8); }
static inline uint32_t pt_str_bytes(const void* s) { return s ? *(const uint32_t*)((const char*)s - 4) : 0; }

/* A new byte string of `len` bytes copied from `data` (data may be null: zero-filled). */
static inline char* pt_str_new(const char* data, uint32_t len) {
    char* block = (char*)malloc((size_t)len + 9);
    if (!block) return NULL;
    *(int32_t*)block = 1;
    *(uint32_t*)(block + 4) = len;
    if (data) memcpy(block + 8, data, len);
    else memset(block + 8, 0, len);
    block[8 + len] = 0;
    return block + 8;
}

/* A new wide string of `units` UTF-16 code units. */
static inline uint16_t* pt_wstr_new(const uint16_t* data, uint32_t units) {
    char* block = (char*)malloc((size_t)units * 2 + 10);
    if (!block) return NULL;
    *(int32_t*)block = 1;
    *(uint32_t*)(block + 4) = units * 2;
    if (data) memcpy(block + 8, data, (size_t)units * 2);
    else memset(block + 8, 0, (size_t)units * 2);
    *(uint16_t*)(block + 8 + (size_t)units * 2) = 0;
    return (uint16_t*)(block + 8);
}

static inline uint32_t pt_wstr_units(const uint16_t* s) { return pt_str_bytes(s) / 2; }

/* Takes one more reference (constants, refcount -1, are left alone). */
static inline void pt_str_addref(void* s) {
    if (s && __atomic_load_n(pt_str_refp(s), __ATOMIC_RELAXED) >= 0)
        __atomic_add_fetch(pt_str_refp(s), 1, __ATOMIC_RELAXED);
}

/* Drops one reference; frees the block at zero. Works for byte and wide strings alike. */
static inline void pt_str_release(void* s) {
    if (!s) return;
    int32_t* rc = pt_str_refp(s);
    if (__atomic_load_n(rc, __ATOMIC_RELAXED) < 0) return;
    if (__atomic_sub_fetch(rc, 1, __ATOMIC_ACQ_REL) == 0) free(rc);
}

/* ---- values ----------------------------------------------------------------------------- */

static inline void pt_value_clear(PtValue* v);

static inline PtArray* pt_array_new(uint16_t elemType, uint16_t dims, const PtArrayBound* bounds) {
    uint64_t count = 1;
    uint16_t d;
    if (dims < 1 || dims > 3) return NULL;
    for (d = 0; d < dims; d++) {
        if (bounds[d].count < 0) return NULL;
        count *= (uint64_t)bounds[d].count;
    }
    if (count > 0x7FFFFFF) return NULL;
    PtArray* a = (PtArray*)calloc(1, sizeof(PtArray) + (size_t)count * sizeof(PtValue));
    if (!a) return NULL;
    a->refcount = 1;
    a->elemType = elemType;
    a->dims = dims;
    for (d = 0; d < dims; d++) a->bounds[d] = bounds[d];
    a->count = (uint32_t)count;
    return a;
}

static inline void pt_array_addref(PtArray* a) {
    if (a) __atomic_add_fetch(&a->refcount, 1, __ATOMIC_RELAXED);
}

static inline void pt_array_release(PtArray* a) {
    uint32_t i;
    if (!a || __atomic_sub_fetch(&a->refcount, 1, __ATOMIC_ACQ_REL) != 0) return;
    for (i = 0; i < a->count; i++) pt_value_clear(&a->items[i]);
    free(a);
}

/* Releases what the value owns and makes it Empty. */
static inline void pt_value_clear(PtValue* v) {
    if (v->vt & PT_VAR_ARRAY) {
        if (!(v->vt & PT_VAR_BYREF)) pt_array_release(v->u.arr);
    } else if (v->vt == PT_VAR_STRING || v->vt == PT_VAR_OLESTR) {
        pt_str_release(v->u.ptr);
    }
    memset(v, 0, sizeof *v);
}

/* Makes `dst` a copy of `src` (sharing strings and arrays by reference count). */
static inline void pt_value_copy(PtValue* dst, const PtValue* src) {
    if (dst == src) return;
    if (src->vt & PT_VAR_ARRAY) {
        if (!(src->vt & PT_VAR_BYREF)) pt_array_addref(src->u.arr);
    } else if (src->vt == PT_VAR_STRING || src->vt == PT_VAR_OLESTR) {
        pt_str_addref(src->u.ptr);
    }
    pt_value_clear(dst);
    *dst = *src;
}

static inline void pt_value_set_int(PtValue* v, int32_t x) {
    pt_value_clear(v);
    v->vt = PT_VAR_INTEGER;
    v->u.i32 = x;
}
static inline void pt_value_set_int64(PtValue* v, int64_t x) {
    pt_value_clear(v);
    v->vt = PT_VAR_INT64;
    v->u.i64 = x;
}
static inline void pt_value_set_double(PtValue* v, double x) {
    pt_value_clear(v);
    v->vt = PT_VAR_DOUBLE;
    v->u.f64 = x;
}
static inline void pt_value_set_bool(PtValue* v, int x) {
    pt_value_clear(v);
    v->vt = PT_VAR_BOOLEAN;
    v->u.boolean = x ? -1 : 0;
}
static inline void pt_value_set_null(PtValue* v) {
    pt_value_clear(v);
    v->vt = PT_VAR_NULL;
}
/* Stores UTF-16 text as a wide string (the form list values carry text in). */
static inline int pt_value_set_wide(PtValue* v, const uint16_t* units, uint32_t n) {
    uint16_t* s = n ? pt_wstr_new(units, n) : NULL;
    if (n && !s) return 0;
    pt_value_clear(v);
    v->vt = PT_VAR_OLESTR;
    v->u.wstr = s;
    return 1;
}
/* Stores UTF-8 text as a byte string. */
static inline int pt_value_set_str(PtValue* v, const char* data, uint32_t len) {
    char* s = len ? pt_str_new(data, len) : NULL;
    if (len && !s) return 0;
    pt_value_clear(v);
    v->vt = PT_VAR_STRING;
    v->u.str = s;
    return 1;
}

#ifdef __cplusplus
}
#endif

#endif /* PIPETASK_PT_VALUE_H */
