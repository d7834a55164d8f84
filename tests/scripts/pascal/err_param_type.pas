// An argument that does not fit its parameter.
// expect error: 5:11: Incompatible types: 'Integer', 'String'
procedure P(a: Integer); begin end;
begin
  P('text');
end.
