// Counts heap allocations through the malloc interposer of tests/support (absent in
// sanitizer builds, whose runtimes interpose the same functions).
#include <gtest/gtest.h>

#include "script/runtime/fs_operators.h"
#include "script/runtime/fs_variant.h"
#include "support/AllocCounter.h"

#include <vector>

namespace pt {
namespace {

using test::AllocationsOf;

class AllocationTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef PT_UNDER_SANITIZER
        GTEST_SKIP() << "allocation counting needs the plain allocator";
#endif
        // The counter itself must see allocations, or every check below would pass vacuously.
        ASSERT_GE(AllocationsOf([] { Variant s("a string long enough to need the heap"); }), 1);
    }
};

TEST_F(AllocationTest, CopyingAStringValueOnlyCountsAReference) {
    Variant s(std::string(1000, 's'));
    Variant w = Variant::Wide(std::u16string(100, u'w'));
    std::vector<Variant> copies(2000);
    const long n = AllocationsOf([&] {
        for (size_t i = 0; i < 1000; ++i) copies[i] = s;
        for (size_t i = 1000; i < 2000; ++i) copies[i] = Variant(w);
    });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(copies[999].StrView(), s.StrView());
    EXPECT_EQ(*pt_str_refp(s.Raw().u.str), 1001);
}

TEST_F(AllocationTest, ArithmeticAndComparisonOnNumbersDoNotAllocate) {
    std::vector<Variant> results(64);
    volatile bool sink = false;
    const Variant abc("abc"), abd("abd");
    const long n = AllocationsOf([&] {
        Variant acc(0), f(0.5);
        for (int i = 0; i < 1000; ++i) {
            acc = VarBinaryOp(opAdd, acc, Variant(i));
            f = VarBinaryOp(opMul, f, Variant(1.0001));
            sink = VarCompare(cmpLt, acc, f);
        }
        size_t k = 0;
        results[k++] = VarBinaryOp(opAdd, Variant(2147483647), Variant(1)); // overflow to double
        results[k++] = VarBinaryOp(opAdd, Variant(1), Variant(2.5));
        results[k++] = VarBinaryOp(opIntDiv, Variant(int64_t{1} << 40), Variant(3));
        results[k++] = VarBinaryOp(opAdd, Variant::Currency(15000), Variant(2));
        results[k++] = VarBinaryOp(opSub, Variant::Date(45356), Variant::Date(45000));
        results[k++] = VarBinaryOp(opAnd, Variant::Null(), Variant(false));
        results[k++] = VarNeg(Variant(5));
        results[k++] = VarNot(Variant(5));
        sink = VarCompare(cmpEq, Variant::Byte(1), Variant(1.0));
        sink = VarCompare(cmpLt, abc, abd);
        results[k++] = Variant(7).ToKind(varDouble);
    });
    (void)sink;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(results[0].Kind(), varDouble);
}

TEST_F(AllocationTest, AppendingInPlaceGrowsGeometrically) {
    Variant s("x");
    Variant piece("y");
    const long n = AllocationsOf([&] {
        for (int i = 0; i < 10000; ++i) VarBinaryOpInPlace(opAdd, s, piece);
    });
    EXPECT_EQ(s.StrView().size(), 10001u);
    EXPECT_LT(n, 50); // one reallocation per growth step, not one per character
}

} // namespace
} // namespace pt
