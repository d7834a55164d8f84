// The workloads shared by the script benchmarks and the Lua comparison: the same work written
// in PascalScript and in Lua.
#pragma once

#include <string>

namespace pt::bench {

inline const char* kFibPascal = R"(
var r: Integer;
function Fib(n: Integer): Integer;
begin
  if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);
end;
begin
  r := Fib(24);
end.
)";

inline const char* kFibLua = R"(
local function fib(n) if n < 2 then return n else return fib(n - 1) + fib(n - 2) end end
r = fib(24)
)";

inline const char* kLoopPascal = R"(
var i: Integer;
    s: Double;
begin
  s := 0;
  for i := 1 to 1000000 do s := s + i * i;
end.
)";

inline const char* kLoopLua = R"(
local s = 0
for i = 1, 1000000 do s = s + i * i end
r = s
)";

inline const char* kStringPascal = R"(
var i: Integer;
    s: String;
begin
  s := '';
  for i := 1 to 10000 do s := s + 'x';
end.
)";

inline const char* kStringLua = R"(
local s = ''
for i = 1, 10000 do s = s .. 'x' end
r = s
)";

// A program of about 1000 lines: 100 procedures of 8 lines and a main block.
inline std::string ThousandLinePascal() {
    std::string text = "var total: Integer;\n";
    for (int p = 0; p < 100; ++p) {
        const std::string n = std::to_string(p);
        text += "procedure P" + n + "(a: Integer);\n";
        text += "var b: Integer;\n";
        text += "begin\n";
        text += "  b := a * " + n + " + 1;\n";
        text += "  if b > 10 then total := total + b else total := total - 1;\n";
        text += "  for b := 1 to 3 do total := total + b;\n";
        text += "  while total > 1000 do total := total - 1000;\n";
        text += "end;\n";
    }
    text += "begin\n";
    for (int p = 0; p < 100; ++p) text += "  P" + std::to_string(p) + "(total);\n";
    text += "end.\n";
    return text;
}

inline std::string ThousandLineLua() {
    std::string text = "total = 0\n";
    for (int p = 0; p < 100; ++p) {
        const std::string n = std::to_string(p);
        text += "function P" + n + "(a)\n";
        text += "  local b\n";
        text += "  b = a * " + n + " + 1\n";
        text += "  if b > 10 then total = total + b else total = total - 1 end\n";
        text += "  for b = 1, 3 do total = total + b end\n";
        text += "  while total > 1000 do total = total - 1000 end\n";
        text += "end\n\n";
    }
    for (int p = 0; p < 100; ++p) text += "P" + std::to_string(p) + "(total)\n";
    return text;
}

} // namespace pt::bench
