// The C runtime's own hook for floating-point errors, replaced: its default reports them on
// standard error, which a GUI program has none of, and neither Tessaly.EXE nor the probe does
// floating point. Returning 0 keeps the runtime's standard handling; its report text stays out.
struct _exception;

extern "C" int __cdecl _matherr(struct _exception *)
{
    return 0;
}
