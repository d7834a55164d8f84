// Assigning to a constant.
// expect error: 5:9: Left side cannot be assigned to
const C = 1;
begin
  C := 2;
end.
