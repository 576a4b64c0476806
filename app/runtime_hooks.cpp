// The C runtime's own hook for floating-point errors, replaced: its default reports them on
// standard error, which a GUI program has none of, and this program does no floating point.
// Returning 0 keeps the runtime's standard handling; its report text stays out of the EXE.
struct _exception;

extern "C" int __cdecl _matherr(struct _exception *)
{
    return 0;
}
