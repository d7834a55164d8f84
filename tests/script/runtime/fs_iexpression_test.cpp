// Expressions, designators and execution through compiled scripts: the tree shape of operator
// sequences, registered classes reached through with, late binding and stale handles, and
// the allocation-free execution of numeric code.
#include <gtest/gtest.h>

#include "script/front/fs_iilparser.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iexpression.h"
#include "script/runtime/fs_istatements.h"
#include "script/runtime/model_fixture.h"
#include "support/AllocCounter.h"

#include <string>
#include <vector>

namespace pt {
namespace {

const TClassInfo kCounterInfo{"TCounter", &TObject::ClassInfo, {}};

struct TCounter : TObject {
    int Total = 0;
    const TClassInfo& ClassType() const noexcept override { return kCounterInfo; }
};

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.Parent = GlobalUnit();
        test::DeclareBasicTypes(system);
        system.DeclareVariable("ExceptionClassName", "String", Variant(""));
        system.DeclareVariable("ExceptionMessage", "String", Variant(""));
        if (!system.Lookup("__StringHelper")) DeclareElementHelpers(system);
        system.DeclareMethod(
            "procedure Print(v: Variant)",
            TfsHelperCallEvent([this](TObject*, TfsClassRef, std::string_view, TfsCallFrame& f) {
                out.push_back(f.Param(0).ToStrLoose());
                return Variant::Null();
            }));
        if (TfsClassVariable* object = system.DeclareClass(&TObject::ClassInfo, ""))
            object->DeclareMethod("procedure Free",
                                  [](TObject* self, TfsClassRef, std::string_view, TfsCallFrame&) {
                                      delete self;
                                      return Variant::Null();
                                  });
        TfsClassVariable* counter = system.DeclareClass(&kCounterInfo, "TObject");
        counter->DeclareConstructor("constructor Create",
                                    [](TObject*, TfsClassRef, std::string_view, TfsCallFrame&) {
                                        return ObjectToVariant(new TCounter);
                                    });
        counter->DeclareMethod("procedure Add(n: Integer)",
                               [](TObject* self, TfsClassRef, std::string_view, TfsCallFrame& f) {
                                   static_cast<TCounter*>(self)->Total += f.Param(0).ToInt();
                                   return Variant::Null();
                               });
        counter->DeclareMethod("function Total: Integer",
                               [](TObject* self, TfsClassRef, std::string_view, TfsCallFrame&) {
                                   return Variant(static_cast<TCounter*>(self)->Total);
                               });
        counter->DeclareDefaultProperty(
            "Items", "Integer", "Integer",
            [](TObject*, TfsClassRef, std::string_view, TfsCallFrame& f) {
                return Variant(f.Param(0).ToInt() * 10);
            });
        script.Parent = &system;
    }

    // Compiles and runs; returns the error text of a failed compile or run, else "".
    std::string Run(const std::string& text) {
        script.Reset();
        script.Lines = SplitLines(text);
        if (!script.Compile()) return script.ErrorLocation + ": " + script.ErrorText;
        try {
            script.Execute();
        } catch (const EScriptError& e) {
            return e.message();
        }
        return "";
    }

    TfsScript system;
    TfsScript script;
    std::vector<std::string> out;
};

TEST(ExpressionTreeTest, OperatorSequencesFollowPriorityAndBrackets) {
    TfsScript scope;
    struct Case {
        std::vector<const char*> tokens; // numbers or operator texts
        int32_t value;
    } cases[] = {
        {{"2", "+", "3", "*", "4"}, 14},
        {{"(", "2", "+", "3", ")", "*", "4"}, 20},
        {{"10", "-", "4", "-", "3"}, 3},
        {{"2", "*", "3", "div", "4"}, 1},
        {{"unminus", "2", "+", "3"}, 1},
        {{"2", "*", "(", "3", "+", "(", "4", "-", "1", ")", ")", "-", "1"}, 11},
        {{"1", "shl", "4", "or", "1"}, 17},
    };
    for (const Case& c : cases) {
        TfsExpression e(&scope);
        for (const char* t : c.tokens) {
            if (t[0] >= '0' && t[0] <= '9')
                e.AddConstant(Variant(static_cast<int32_t>(std::stoi(t))));
            else
                e.AddOperator(t);
        }
        EXPECT_EQ(e.Finish(), "");
        EXPECT_EQ(e.ReadValue().ToInt(), c.value) << c.tokens.size() << " tokens";
    }
}

TEST_F(ScriptTest, ClassMembersThroughWithAndDesignators) {
    ASSERT_EQ(Run(R"(
var c: TCounter;
begin
  c := TCounter.Create;
  with c do
  begin
    Add(2);
    Add(3);
    Print(Total);
  end;
  Print(c is TCounter);
  Print(c is TObject);
  Print(c[4]);
  c.Free;
end.)"),
              "");
    EXPECT_EQ(out, (std::vector<std::string>{"5", "True", "True", "40"}));
}

TEST_F(ScriptTest, AStaleObjectHandleIsAnErrorNotACrash) {
    const std::string error = Run(R"(
var c: TCounter;
begin
  c := TCounter.Create;
  c.Free;
  c.Add(1);
end.)");
    EXPECT_NE(error.find("Invalid object reference"), std::string::npos) << error;
}

TEST_F(ScriptTest, LateBoundMembersResolveOnFirstUse) {
    ASSERT_EQ(Run(R"(
var v, w, a: Variant;
begin
  v := TCounter.Create;
  v.Add(7);
  Print(v.Total);
  w := v;
  with w do Add(1);
  Print(v.Total);
  a := [10, 20, 30];
  Print(a[1]);
  Print(20 in a);
  v.Free;
end.)"),
              "");
    EXPECT_EQ(out, (std::vector<std::string>{"7", "8", "20", "True"}));
}

TEST_F(ScriptTest, ALateBoundMemberThatDoesNotExistFailsAtRunTime) {
    EXPECT_EQ(Run(R"(
var v: Variant;
begin
  v := TCounter.Create;
  v.Nothing;
end.)"),
              "Undeclared identifier: 'Nothing'");
}

TEST_F(ScriptTest, ClassErrorsAtCompileTime) {
    EXPECT_EQ(Run("var c: TCounter;\nbegin\n  c.Missing;\nend."),
              "3:12: Undeclared identifier: 'Missing'");
    EXPECT_EQ(Run("var i: Integer;\nbegin\n  with i do Print(1);\nend."),
              "3:8: Class type required");
    EXPECT_EQ(Run("var c: TCounter;\nbegin\n  Print(c < c);\nend."), "3:12: Incompatible types");
}

TEST_F(ScriptTest, ReportLineIsCalledOncePerStatement) {
    std::vector<std::string> lines;
    script.OnRunLine = [&](TfsScript*, const std::string&, const std::string& pos) {
        lines.push_back(pos.substr(0, pos.find(':')));
    };
    ASSERT_EQ(Run("var i: Integer;\nbegin\n  for i := 1 to 2 do\n    Print(i);\n  i := 0;\nend."),
              "");
    EXPECT_EQ(lines, (std::vector<std::string>{"3", "4", "4", "5"}));
}

class ExecutionAllocationTest : public ScriptTest {
protected:
    void SetUp() override {
#ifdef PT_UNDER_SANITIZER
        GTEST_SKIP() << "allocation counting needs the plain allocator";
#endif
        ScriptTest::SetUp();
        ASSERT_GE(test::AllocationsOf([] { Variant s("a string long enough to need the heap"); }),
                  1);
    }
};

TEST_F(ExecutionAllocationTest, NumericCodeAndCallsAllocateNothing) {
    const char* programs[] = {
        R"(var i, n: Integer; s, f: Double; b: Boolean;
           a: array[0..9] of Integer;
           begin
             s := 0; n := 0;
             for i := 1 to 2000 do
             begin
               s := s + i * i;
               f := s / 3 - 1.5;
               b := (i mod 3 = 0) or (f < 0);
               if b then n := n + 1 else n := n - 1;
               a[i mod 10] := a[(i + 1) mod 10] + 1;
               case i mod 4 of 0: n := n + 2; 1..2: n := n - 2 end;
               while n > 100 do n := n - 50;
             end;
           end.)",
        R"(var r: Integer;
           function Fib(n: Integer): Integer;
           begin
             if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);
           end;
           procedure Bump(var x: Integer; by: Integer = 1);
           begin
             x := x + by;
           end;
           begin
             r := Fib(15);
             Bump(r);
             Bump(r, 2);
           end.)",
    };
    for (const char* p : programs) {
        script.Reset();
        script.Lines = SplitLines(p);
        ASSERT_TRUE(script.Compile()) << script.ErrorLocation << ": " << script.ErrorText;
        script.Execute(); // first run: thread-local save areas grow once
        EXPECT_EQ(test::AllocationsOf([&] { script.Execute(); }), 0) << p;
    }
}

} // namespace
} // namespace pt
