// The C runtime's hook for floating-point errors, replaced: the probe does no floating point,
// and the default hook's report texts would cost the probe bytes it needs for its report.
struct _exception;

extern "C" int __cdecl _matherr(struct _exception *)
{
    return 0;   // the runtime's standard handling
}
