#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_objects.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pt {
namespace {

const TfsClassInfo kBase{"TBase", nullptr};
const TfsClassInfo kDerived{"TDerived", &kBase};
const TfsClassInfo kUnrelated{"TUnrelated", nullptr};

struct Derived : TfsObject {
    TfsClassRef ClassType() const noexcept override { return &kDerived; }
};

TfsObjectTable& Table() { return TfsObjectTable::Instance(); }

std::string ErrorClassOf(uint32_t handle, TfsClassRef expected) {
    try {
        Table().Resolve(handle, expected);
    } catch (const EScriptError& e) {
        return e.className();
    }
    return "";
}

TEST(ObjectTable, HandlesResolveToLiveObjectsOnly) {
    int object = 0;
    const uint32_t h = Table().Register(&object, &kBase);
    EXPECT_NE(h, 0u);
    EXPECT_LT(static_cast<int32_t>(h), INT32_MAX);
    EXPECT_GT(static_cast<int32_t>(h), 0);
    EXPECT_EQ(Table().Register(&object, &kBase), h); // one handle per object
    EXPECT_EQ(Table().HandleOf(&object), h);
    EXPECT_EQ(Table().Resolve(h, &kBase), &object);
    EXPECT_EQ(Table().Resolve(h).Class, &kBase);

    Table().Unregister(&object);
    EXPECT_EQ(Table().HandleOf(&object), 0u);
    EXPECT_EQ(ErrorClassOf(h, nullptr), "EAccessViolation");
    Table().Unregister(&object); // twice is harmless
}

TEST(ObjectTable, NilAndMalformedHandles) {
    EXPECT_EQ(Table().Resolve(0, &kBase), nullptr);
    EXPECT_EQ(VariantToObject(Variant::Null(), &kBase), nullptr);
    EXPECT_EQ(VariantToObject(Variant(int32_t(0)), &kBase), nullptr);
    for (uint32_t bad : {1u, 0xFFFFFu, 0x80000001u, 0xFFFFFFFFu, 12345678u})
        EXPECT_EQ(ErrorClassOf(bad, nullptr), "EAccessViolation") << bad;
    EXPECT_THROW(VariantToObject(Variant(int32_t(-7)), nullptr), EScriptError);
}

TEST(ObjectTable, ClassIsCheckedAlongTheAncestry) {
    Derived d;
    const uint32_t h = d.Handle();
    EXPECT_EQ(Table().Resolve(h, &kBase), static_cast<TfsObject*>(&d));
    EXPECT_EQ(Table().Resolve(h, &kDerived), static_cast<TfsObject*>(&d));
    EXPECT_EQ(ErrorClassOf(h, &kUnrelated), "EInvalidCast");
    EXPECT_TRUE(InheritsFrom(&kDerived, &kBase));
    EXPECT_FALSE(InheritsFrom(&kBase, &kDerived));
}

TEST(ObjectTable, DestroyedObjectsLeaveStaleHandles) {
    uint32_t h = 0;
    const size_t before = Table().LiveCount();
    {
        Derived d;
        h = d.Handle();
        EXPECT_EQ(ObjectToVariant(&d).ToInt(), static_cast<int32_t>(h));
        EXPECT_EQ(Table().LiveCount(), before + 1);
    }
    EXPECT_EQ(Table().LiveCount(), before);
    EXPECT_EQ(ErrorClassOf(h, &kBase), "EAccessViolation");
}

TEST(ObjectTable, AStaleHandleNeverDenotesALaterObject) {
    // Objects come and go in one place in memory; every old handle must stay stale.
    std::vector<uint32_t> old;
    for (int i = 0; i < 5000; ++i) {
        auto d = std::make_unique<Derived>();
        const uint32_t h = d->Handle();
        for (size_t k = old.size() > 50 ? old.size() - 50 : 0; k < old.size(); ++k)
            ASSERT_NE(old[k], h);
        old.push_back(h);
    }
    for (uint32_t h : old) ASSERT_EQ(ErrorClassOf(h, nullptr), "EAccessViolation");
}

} // namespace
} // namespace pt
