// A type name that is neither an engine type nor a class.
// expect error: 3:13: Unknown type: 'Bogus'
var v: Bogus;
begin
end.
