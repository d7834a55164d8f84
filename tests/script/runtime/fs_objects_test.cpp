#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_objects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace pt {
namespace {

struct Base : TObject {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
};
struct Derived : Base {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
};
struct Unrelated : TObject {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
};
const TClassInfo Base::Info{"TBase", &TObject::ClassInfo, {}};
const TClassInfo Derived::Info{"TDerived", &Base::Info, {}};
const TClassInfo Unrelated::Info{"TUnrelated", &TObject::ClassInfo, {}};

TfsObjectTable& Table() {
    return TfsObjectTable::Instance();
}

std::string ErrorClassOf(uint32_t handle, TfsClassRef expected) {
    try {
        Table().Resolve(handle, expected);
    } catch (const EScriptError& e) {
        return e.className();
    }
    return "";
}

TEST(ObjectTable, HandlesResolveToLiveObjectsOnly) {
    Base object;
    EXPECT_EQ(TfsObjectTable::HandleOf(&object), 0u);
    const uint32_t h = Table().Register(&object);
    EXPECT_GT(static_cast<int32_t>(h), 0);
    EXPECT_EQ(Table().Register(&object), h); // one handle per object
    EXPECT_EQ(TfsObjectTable::HandleOf(&object), h);
    EXPECT_EQ(Table().Resolve(h, &Base::Info), &object);

    Table().Unregister(&object);
    EXPECT_EQ(TfsObjectTable::HandleOf(&object), 0u);
    EXPECT_EQ(ErrorClassOf(h, nullptr), "EAccessViolation");
    Table().Unregister(&object); // twice is harmless
}

TEST(ObjectTable, NilAndMalformedHandles) {
    EXPECT_EQ(Table().Resolve(0, &Base::Info), nullptr);
    EXPECT_EQ(VariantToObject(Variant::Null(), &Base::Info), nullptr);
    EXPECT_EQ(VariantToObject(Variant(int32_t(0)), &Base::Info), nullptr);
    EXPECT_EQ(ObjectToVariant(nullptr).ToInt(), 0);
    for (uint32_t bad : {1u, 0xFFFFFu, 0x80000001u, 0xFFFFFFFFu, 12345678u})
        EXPECT_EQ(ErrorClassOf(bad, nullptr), "EAccessViolation") << bad;
    EXPECT_THROW(VariantToObject(Variant(int32_t(-7)), nullptr), EScriptError);
}

TEST(ObjectTable, ClassIsCheckedAlongTheAncestry) {
    Derived d;
    const uint32_t h = Table().Register(&d);
    EXPECT_EQ(Table().Resolve(h, &Base::Info), &d);
    EXPECT_EQ(Table().Resolve(h, &Derived::Info), &d);
    EXPECT_EQ(Table().Resolve(h, &TObject::ClassInfo), &d);
    EXPECT_EQ(ErrorClassOf(h, &Unrelated::Info), "EInvalidCast");
    EXPECT_TRUE(InheritsFrom(&Derived::Info, &Base::Info));
    EXPECT_FALSE(InheritsFrom(&Base::Info, &Derived::Info));
}

TEST(ObjectTable, DestroyedObjectsLeaveStaleHandles) {
    uint32_t h = 0;
    const size_t before = Table().LiveCount();
    {
        Derived d;
        Derived copy = d;
        h = ObjectToVariant(&d).ToInt();
        EXPECT_EQ(TfsObjectTable::HandleOf(&copy), 0u); // a copy is another object
        EXPECT_EQ(Table().LiveCount(), before + 1);
    }
    EXPECT_EQ(Table().LiveCount(), before);
    EXPECT_EQ(ErrorClassOf(h, &Base::Info), "EAccessViolation");
}

TEST(ObjectTable, OwnedComponentsGoStaleWithTheirOwner) {
    auto* owner = new TComponent;
    auto* child = new TComponent(owner);
    const Variant ref = ObjectToVariant(child);
    EXPECT_EQ(VariantToObject(ref, &TComponent::ClassInfo), child);
    delete owner;
    EXPECT_THROW(VariantToObject(ref, &TComponent::ClassInfo), EScriptError);
}

TEST(ObjectTable, AStaleHandleNeverDenotesALaterObject) {
    // Objects come and go in one place in memory; every old handle must stay stale.
    std::vector<uint32_t> old;
    for (int i = 0; i < 5000; ++i) {
        auto d = std::make_unique<Derived>();
        const uint32_t h = Table().Register(d.get());
        for (size_t k = old.size() > 50 ? old.size() - 50 : 0; k < old.size(); ++k)
            ASSERT_NE(old[k], h);
        old.push_back(h);
    }
    for (uint32_t h : old) ASSERT_EQ(ErrorClassOf(h, nullptr), "EAccessViolation");
}

TEST(ObjectTable, ResolvingWhileAnotherThreadRegisters) {
    Derived keeper;
    const uint32_t live = Table().Register(&keeper);
    uint32_t stale = 0;
    {
        Derived gone;
        stale = Table().Register(&gone);
    }
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop.load()) {
            Derived d[8];
            for (auto& x : d) Table().Register(&x);
        }
    });
    int wrong = 0;
    for (int i = 0; i < 20000; ++i) {
        if (Table().Resolve(live, &Base::Info) != &keeper) ++wrong;
        if (ErrorClassOf(stale, nullptr) != "EAccessViolation") ++wrong;
    }
    stop.store(true);
    churn.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace pt
